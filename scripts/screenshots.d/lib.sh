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
  "$QUILLO" "$@" >>"$SCRATCH/quillo.log" 2>&1 &
  QUILLO_PID=$!
  MAIN_WINDOW=$(wait_window '^Quillo Uploader$')
  sleep 0.5
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
  local name=$1 id=${2:-root}
  sleep 0.3
  import -silent -window "$id" "$OUT/$name.png"
  echo "screenshots: $OUT/$name.png" >&2
}

# shot_area NAME X Y W H: part of the screen (for a window together with its open menu).
shot_area() {
  local name=$1
  sleep 0.3
  import -silent -window root -crop "$4x$5+$2+$3" +repage "$OUT/$name.png"
  echo "screenshots: $OUT/$name.png" >&2
}

# window_geometry ID: sets WX WY WW WH of a window (frame excluded).
window_geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1" | sed -n 's/^X=/WX=/p;s/^Y=/WY=/p;s/^WIDTH=/WW=/p;s/^HEIGHT=/WH=/p')"
}
