# The tray icon's menu, and the drop window floating over the main window.

# The drop window placed over the main window's upper right part.
cat > "$QUILLO_HOME/quillo.ini" <<'INI'
[General]
ShowDropTarget=1
DropLeft=1180
DropTop=260
INI
quillo_start

drop=$(wait_window '^Quillo Drop Target$')
xdotool windowactivate --sync "$MAIN_WINDOW" >/dev/null 2>&1 || true
sleep 0.5
window_geometry "$MAIN_WINDOW"
shot_area tray-drop-window-over-main $((WX + WW - 420)) $((WY - 30)) 440 300
window_geometry "$drop"
shot_area tray-drop-window-zoom $((WX - 5)) $((WY - 5)) 60 60
convert "$OUT/tray-drop-window-zoom.png" -scale 400% "$OUT/tray-drop-window-zoom.png"

# The tray icon: the program's small window inside the tray host.
icon=
for id in $(xdotool search --onlyvisible --pid "$QUILLO_PID" 2>/dev/null); do
  [ "$id" = "$drop" ] && continue
  window_geometry "$id"
  if [ "$WW" -le 64 ] && [ "$WH" -le 64 ]; then icon=$id; break; fi
done
[ -n "$icon" ] || { echo "screenshots: no tray icon found" >&2; exit 1; }
xdotool mousemove --window "$icon" 8 8 click 3
sleep 0.7
window_geometry "$icon"
shot_area tray-menu $((WX - 260)) 0 $((WW + 280)) 160
xdotool key Escape

quillo_stop
