#!/usr/bin/env bash
# Quillo's main job end to end on this machine: builds everything, starts the local stand-in of
# the Brimvault service on loopback with a demo account, points a throw-away Quillo data folder
# at it, uploads a sample file with each method through quillo-cli and prints the download and
# delete links. With a display it then opens the desktop program on the same data folder.
#
# Nothing outside the temporary demo folder is written: HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR
# and QUILLO_HOME all point inside it, the shutdown command is a harmless recorder, and all
# traffic stays on 127.0.0.1. The service is stopped when the script ends, however it ends.
#
# Environment: QUILLO_BUILD_DIR (default build), QUILLO_DEMO_NO_GUI=1 skips the desktop program,
# QUILLO_DEMO_SKIP_SETUP=1 uses the build as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${QUILLO_BUILD_DIR:-build}

if [ -z "${QUILLO_DEMO_SKIP_SETUP:-}" ]; then
  scripts/setup.sh "$BUILD"
fi

CLI=$ROOT/$BUILD/src/cli/quillo-cli
GUI=$ROOT/$BUILD/src/app/quillo
PY=/usr/bin/python3 # Debian's interpreter: it has pyftpdlib
for f in "$CLI" "$PY"; do
  [ -x "$f" ] || { echo "demo: $f is missing" >&2; exit 1; }
done

DEMO=$(mktemp -d /tmp/quillo-demo-XXXXXX)
REAL_XAUTHORITY=${XAUTHORITY:-${HOME:-/nonexistent}/.Xauthority}
export HOME=$DEMO/home XDG_CONFIG_HOME=$DEMO/xdg XDG_RUNTIME_DIR=$DEMO/run QUILLO_HOME=$DEMO/quillo
export QUILLO_SHUTDOWN_COMMAND="sh -c 'echo shutdown >> \"$DEMO/shutdown-requests.txt\"'"
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY ftp_proxy FTP_PROXY
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$QUILLO_HOME" "$DEMO/samples"
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"

SERVICE_PID=
stop_service() {
  if [ -n "$SERVICE_PID" ] && kill -0 "$SERVICE_PID" 2>/dev/null; then
    kill "$SERVICE_PID" 2>/dev/null || true
    wait "$SERVICE_PID" 2>/dev/null || true
  fi
  SERVICE_PID=
}
trap stop_service EXIT
trap 'exit 130' INT TERM

echo "== Starting the stand-in Brimvault service on 127.0.0.1 (demo account demo / demo-pass)"
"$PY" tools/brimvault-service/brimvault_service.py --storage "$DEMO/service" \
  --account demo:demo-pass --ready-file "$DEMO/service-ready.json" --log "$DEMO/service-requests.jsonl" \
  --parent-pid $$ 2>"$DEMO/service-stderr.txt" &
SERVICE_PID=$!
for _ in $(seq 100); do
  [ -s "$DEMO/service-ready.json" ] && break
  kill -0 "$SERVICE_PID" 2>/dev/null || { cat "$DEMO/service-stderr.txt" >&2; exit 1; }
  sleep 0.1
done
[ -s "$DEMO/service-ready.json" ] || { echo "demo: the service did not start" >&2; exit 1; }
read -r HTTP_PORT FTP_PORT < <("$PY" -c 'import json,sys; d=json.load(open(sys.argv[1])); print(d["http_port"], d["ftp_port"])' "$DEMO/service-ready.json")
export QUILLO_SITE=127.0.0.1:$HTTP_PORT QUILLO_FTP_PORT=$FTP_PORT
echo "   web site http://$QUILLO_SITE/, FTP on port $FTP_PORT"

echo "== Pointing Quillo (data folder $QUILLO_HOME) at it"
"$CLI" set Service.SiteHost="$QUILLO_SITE" Brimvault.UseAccount=1 Brimvault.UserName=demo \
  Brimvault.Password=demo-pass UploadManager.ParallelThreads=2

echo "== Queuing a sample file for each upload method"
printf 'Hello from Quillo, %s\n' "$(date -u)" > "$DEMO/samples/hello-http.txt"
head -c 3000000 /dev/urandom > "$DEMO/samples/sample-ftp.bin"
"$CLI" add --method "HTTP Method" "$DEMO/samples/hello-http.txt"
"$CLI" add --method "FTP Method" "$DEMO/samples/sample-ftp.bin"
"$CLI" list

echo "== Uploading"
"$CLI" run

echo "== Finished uploads"
"$CLI" finished
echo "== Checking each download link against the local file"
while IFS=$'\t' read -r file link; do
  if [ "$(curl -s --noproxy '*' "$link" | md5sum | cut -d' ' -f1)" = "$(md5sum < "$file" | cut -d' ' -f1)" ]; then
    echo "   ok  $link"
  else
    echo "   MISMATCH  $link" >&2
    exit 1
  fi
done < <("$CLI" finished --json | "$PY" -c 'import json,sys; [print(f["file"]+"\t"+f["downloadLink"]) for f in json.load(sys.stdin)]')

echo "== Links"
"$CLI" links

if [ -n "${DISPLAY:-}" ] && [ -z "${QUILLO_DEMO_NO_GUI:-}" ] && [ -x "$GUI" ]; then
  echo "== Opening the desktop program on the same data folder (close it with File > Exit to end the demo)"
  XAUTHORITY=$REAL_XAUTHORITY "$GUI" || true
fi

stop_service
echo "== Done. The demo's files stay in $DEMO"
