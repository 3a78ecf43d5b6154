# The finished list with two entries selected and its context menu open, then the same menu with
# the export submenu unfolded. Everything is reached from the keyboard, as a person can: the
# tree has the focus at the start, Down chooses "Finished", Tab moves into the list.

quillo_start
focus_main
keys Down Tab Down shift+Down # "Finished", its first two entries
# The window's place on the screen, menu bar included (the menu is a window of its own, so the
# picture is a part of the screen).
window_place "$MAIN_WINDOW"
# The menu opens where the mouse is: over the second row.
xdotool mousemove --window "$MAIN_WINDOW" 420 215 click 3
sleep 0.8
shot_area finished-context-menu "$WX" "$WY" "$WW" "$WH"
keys Down Down Down Down Right # onto "Export links to a TXT file", unfolded
shot_area finished-context-menu-export "$WX" "$WY" "$WW" "$WH"
keys Escape Escape
quillo_stop
