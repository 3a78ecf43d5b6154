# The finished list with two entries selected and its context menu open, then the same menu with
# the export submenu unfolded. Everything is reached from the keyboard, as a person can: the
# tree has the focus at the start, Down chooses "Finished", Tab moves into the list.

quillo_start
focus_main
keys Down Tab Down shift+Down # "Finished", its first two entries
# The window's place on the screen, menu bar included (the menu is a window of its own, so the
# picture is a part of the screen).
eval "$(xwininfo -id "$MAIN_WINDOW" | sed -n 's/^ *Absolute upper-left X: *\(-\{0,1\}[0-9]*\)$/WX=\1/p
  s/^ *Absolute upper-left Y: *\(-\{0,1\}[0-9]*\)$/WY=\1/p; s/^ *Width: *\([0-9]*\)$/WW=\1/p
  s/^ *Height: *\([0-9]*\)$/WH=\1/p')"
# The menu opens where the mouse is: over the second row.
xdotool mousemove --window "$MAIN_WINDOW" 420 215 click 3
sleep 0.8
shot_area finished-context-menu "$WX" "$WY" "$WW" "$WH"
keys Down Down Down Down Right # onto "Export links to a TXT file", unfolded
shot_area finished-context-menu-export "$WX" "$WY" "$WW" "$WH"
keys Escape Escape
quillo_stop
