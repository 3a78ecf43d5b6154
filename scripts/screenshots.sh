#!/usr/bin/env bash
# Draws Quillo's windows on a private X server (Xvfb, with openbox as the window manager and
# trayer as the tray host) into PNG files, and prints the folder that holds them.
# Usage: scripts/screenshots.sh [out-dir]      (default: build/screenshots)
#
# Each window's pictures come from one piece in scripts/screenshots.d/ (NN-name.sh, run in name
# order, each in a subshell with the helpers of scripts/screenshots.d/lib.sh). A piece that fails
# is named at the end and the others still run. Nothing here touches the session's display,
# home, clipboard or network: everything runs in a scratch folder and on loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
export BUILD=${BUILD:-$ROOT/build}
OUT=$(realpath -m "${1:-$BUILD/screenshots}")
mkdir -p "$OUT"
export OUT ROOT

[ -x "$BUILD/src/app/quillo" ] || scripts/setup.sh "$BUILD"

need=()
for p in xvfb xdotool x11-utils imagemagick openbox trayer xclip; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

SCRATCH=$(mktemp -d /tmp/quillo-shots.XXXXXX)
export SCRATCH
mkdir -p "$SCRATCH"/{home,config,runtime,data}
chmod 700 "$SCRATCH/runtime"
export HOME=$SCRATCH/home XDG_CONFIG_HOME=$SCRATCH/config XDG_RUNTIME_DIR=$SCRATCH/runtime
export QUILLO_HOME=$SCRATCH/data
printf '#!/bin/sh\necho "$@" >> "%s/shutdown.log"\n' "$SCRATCH" > "$SCRATCH/shutdown.sh"
chmod +x "$SCRATCH/shutdown.sh"
export QUILLO_SHUTDOWN_COMMAND=$SCRATCH/shutdown.sh
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER

# A free display number.
n=91
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
export DISPLAY=:$n
Xvfb "$DISPLAY" -screen 0 1600x1200x24 -nolisten tcp >"$SCRATCH/xvfb.log" 2>&1 &
XVFB_PID=$!
cleanup() {
  pkill -P $$ 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >"$SCRATCH/openbox.log" 2>&1 &
trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 28 \
  >"$SCRATCH/trayer.log" 2>&1 &
sleep 1

failed=()
for piece in scripts/screenshots.d/[0-9]*.sh; do
  [ -e "$piece" ] || continue
  echo "screenshots: $(basename "$piece")" >&2
  # Each piece ends the program it started (and only that one) however it ends.
  if ! (source scripts/screenshots.d/lib.sh && trap quillo_stop EXIT && source "$piece"); then
    failed+=("$(basename "$piece")")
  fi
  sleep 0.5
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "screenshots: these pieces failed: ${failed[*]}" >&2
fi
echo "$OUT"
[ ${#failed[@]} -eq 0 ]
