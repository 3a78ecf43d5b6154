#!/usr/bin/env bash
# Installs every Debian package that Quillo's build, tests, benchmarks and demo need, then
# configures and builds. Idempotent; meant for a fresh Debian 12 machine as root.
# Usage: scripts/setup.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev tango-icon-theme
  libcurl4-openssl-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  python3 python3-pyftpdlib
  tinyproxy dante-server ftp-proxy
  xvfb xauth xdotool x11-utils trayer openbox xclip
  libxcb1-dev
  curl coreutils procps iproute2
  dpkg-dev appstream desktop-file-utils lintian
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # The proxy daemons are tools for the tests; never let their packages start system services.
  # A policy the machine already has is left as it is.
  made_policy=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
    made_policy=1
  fi
  status=0
  apt-get install -y -qq "${missing[@]}" || status=$?
  [ -n "$made_policy" ] && rm -f /usr/sbin/policy-rc.d
  [ "$status" -eq 0 ] || { echo "setup: apt-get install failed (exit $status)" >&2; exit "$status"; }
fi

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
