# The task list with its context menu open on a selected task (the menu key of the keyboard).

service_start_for_gui
quillo_start
focus_main
xdotool key --delay 150 Tab Down Down
sleep 0.5
xdotool key Menu
sleep 1
window_geometry "$MAIN_WINDOW"
shot_area tasklist-context-menu "$WX" "$WY" "$WW" "$WH"
xdotool key Escape
quillo_stop
