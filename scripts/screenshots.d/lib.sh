# Helpers for the pieces of scripts/screenshots.sh (sourced; DISPLAY, BUILD, OUT, SCRATCH and the
# scratch QUILLO_HOME are set by the caller).

QUILLO=$BUILD/src/app/quillo
QUILLO_CLI=$BUILD/src/cli/quillo-cli

# wait_window REGEX [seconds]: prints the id of the first visible window whose title matches.
wait_window() {
  local pattern=$1 limit=${2:-20} id
  for _ in $(seq $((limit * 10))); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  echo "screenshots: no window matching '$pattern'" >&2
  return 1
}

# quillo_start [ARGS]: starts the desktop program on the scratch data folder and waits for its
# main window.
quillo_start() {
  [ -s "$SCRATCH/service.env" ] && source "$SCRATCH/service.env"
  "$QUILLO" "$@" >>"$SCRATCH/quillo.log" 2>&1 &
  QUILLO_PID=$!
  MAIN_WINDOW=$(wait_window '^Quillo Uploader$')
  # The drop window maps a moment after the main window: let both draw themselves.
  sleep 1.5
}

# quillo_stop: ends the program the way a user does (File > Exit), then makes sure it is gone.
quillo_stop() {
  if [ -n "${QUILLO_PID:-}" ] && kill -0 "$QUILLO_PID" 2>/dev/null; then
    kill -TERM "$QUILLO_PID" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$QUILLO_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$QUILLO_PID" 2>/dev/null || true
  fi
  QUILLO_PID=
}

# shot NAME [WINDOW-ID]: writes OUT/NAME.png of the window (the whole screen without an id).
# Menus and pop-ups are their own windows: shoot the screen, or crop with 'shot_area'.
shot() {
  local name=$1 id=${2:-root} WX WY WW WH
  sleep 0.3
  if [ "$id" = root ]; then
    import -silent -window root "$OUT/$name.png"
  else
    # The window's place on the screen, cut from the screen itself: what a person sees there,
    # windows above it (the drop window, a dialog) included. Grabbing the window alone draws
    # the windows that cover it as black boxes.
    window_place "$id"
    import -silent -window root -crop "${WW}x${WH}+${WX}+${WY}" +repage "$OUT/$name.png"
  fi
  echo "screenshots: $OUT/$name.png" >&2
}

# shot_area NAME X Y W H: part of the screen (for a window together with its open menu).
shot_area() {
  local name=$1
  sleep 0.3
  import -silent -window root -crop "$4x$5+$2+$3" +repage "$OUT/$name.png"
  echo "screenshots: $OUT/$name.png" >&2
}

# window_place ID: sets WX WY WW WH to the window's place on the screen as xwininfo measures
# it (its menu bar included, the window manager's frame not).
window_place() {
  eval "$(xwininfo -id "$1" | sed -n 's/^ *Absolute upper-left X: *\(-\{0,1\}[0-9]*\)$/WX=\1/p
    s/^ *Absolute upper-left Y: *\(-\{0,1\}[0-9]*\)$/WY=\1/p; s/^ *Width: *\([0-9]*\)$/WW=\1/p
    s/^ *Height: *\([0-9]*\)$/WH=\1/p')"
}

# window_geometry ID: sets WX WY WW WH of a window (frame excluded).
window_geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1" | sed -n 's/^X=/WX=/p;s/^Y=/WY=/p;s/^WIDTH=/WW=/p;s/^HEIGHT=/WH=/p')"
}

# service_start [SWITCHES...]: starts the local stand-in of the Brimvault service on loopback
# (account demo / demo-pass) and records where it listens in $SCRATCH/service.env, which
# quillo_start and quillo_cli read. It ends with the piece that started it.
service_start() {
  local ready=$SCRATCH/service-ready.json
  rm -f "$ready"
  /usr/bin/python3 "$ROOT/tools/brimvault-service/brimvault_service.py" --storage "$SCRATCH/service" \
    --account demo:demo-pass --ready-file "$ready" --log "$SCRATCH/service-requests.jsonl" \
    --parent-pid "$$" "$@" >>"$SCRATCH/service.log" 2>&1 &
  for _ in $(seq 100); do [ -s "$ready" ] && break; sleep 0.1; done
  [ -s "$ready" ] || { echo "screenshots: the stand-in service did not start" >&2; return 1; }
  /usr/bin/python3 -c 'import json,sys; d=json.load(open(sys.argv[1]))
print("export QUILLO_SITE=127.0.0.1:%d QUILLO_FTP_PORT=%d SERVICE_HTTP_PORT=%d" % (d["http_port"], d["ftp_port"], d["http_port"]))' \
    "$ready" >"$SCRATCH/service.env"
  source "$SCRATCH/service.env"
}

# service_start_for_gui: the service for a piece that shows the program, with uploads crawling
# (60 KB/s) so that the pictures catch one in the middle; the data folder points at it.
service_start_for_gui() {
  service_start --throttle 60000
  quillo_cli set Service.SiteHost="$QUILLO_SITE" >/dev/null
}

# service_switch JSON: changes switches of the running service (see its README).
service_switch() {
  source "$SCRATCH/service.env"
  curl -s --noproxy '*' -d "$1" "http://127.0.0.1:$SERVICE_HTTP_PORT/__control" >/dev/null
}

# quillo_cli ARGS...: the headless front end on the scratch data folder and the service.
quillo_cli() {
  [ -s "$SCRATCH/service.env" ] && source "$SCRATCH/service.env"
  "$QUILLO_CLI" "$@"
}

# click X Y [WINDOW-ID]: a left click at a point of the window (the main window by default).
click() {
  xdotool mousemove --window "${3:-$MAIN_WINDOW}" "$1" "$2" click 1
  sleep 0.3
}

# focus_main: brings the main window to the front with the keyboard focus.
focus_main() {
  xdotool windowactivate --sync "$MAIN_WINDOW" >/dev/null 2>&1 || true
  xdotool windowfocus --sync "$MAIN_WINDOW"
}

# keys KEY...: types keys the way a person does, then lets the window catch up.
keys() {
  xdotool key --delay 150 "$@"
  sleep 0.5
}
