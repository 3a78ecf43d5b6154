# The about box, opened as a person does: Help > About... from the menu bar.
quillo_start
xdotool windowactivate --sync "$MAIN_WINDOW" 2>/dev/null || xdotool windowfocus --sync "$MAIN_WINDOW"
# Alt+H opens Help; About... is its last item, one step up from the top.
xdotool key --clearmodifiers alt+h
sleep 0.5
xdotool key Up Return
ABOUT=$(wait_window '^About$' 10)
shot about "$ABOUT"
xdotool key --window "$ABOUT" Escape
sleep 0.5
quillo_stop
