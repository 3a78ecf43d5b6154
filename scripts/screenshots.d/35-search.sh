# The search panel: Tools > Search (Ctrl+F) over the upload queue, a name that is found (the
# finished list comes to the front with the match selected), then one that is not (the box turns
# light red).

quillo_start
focus_main
xdotool key ctrl+f
sleep 0.5
xdotool type --delay 120 '*rep'
sleep 0.5
shot search-found "$MAIN_WINDOW"
xdotool type --delay 120 'x'
sleep 0.5
shot search-miss "$MAIN_WINDOW"
quillo_stop
