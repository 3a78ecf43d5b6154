#!/usr/bin/env bash
# Sets everything up and runs Quillo's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
DATA=$(mktemp -d /tmp/quillo-demo-XXXXXX)
export QUILLO_HOME="$DATA/home" XDG_CONFIG_HOME="$DATA/xdg" QUILLO_SHUTDOWN_COMMAND="true"
mkdir -p "$QUILLO_HOME" "$XDG_CONFIG_HOME"
if [ -n "${DISPLAY:-}" ]; then
  exec build/src/app/quillo
else
  echo "demo: no display; starting Quillo under Xvfb"
  exec xvfb-run -a build/src/app/quillo
fi
