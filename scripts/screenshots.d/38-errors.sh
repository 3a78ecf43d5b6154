# The red error report, after an error a user can cause: exporting the links into a folder where
# no file can be created (/sys: not even root may create one there). The file dialog is the
# program's own; its name field has the focus when it opens.

quillo_start
focus_main
keys Down Tab Down # "Finished", its first entry
xdotool mousemove --window "$MAIN_WINDOW" 420 195 click 3
sleep 0.8
keys Down Down Down Down Right Down Down Return # Export links to a TXT file > Export All
DIALOG=$(wait_window '^Export Links As$' 10)
# Pasted from the test display's own clipboard: typed key by key, the field's completer starts
# listing the folder after its first letters and the rest of the name is lost.
xdotool windowactivate --sync "$DIALOG" >/dev/null 2>&1 || true
printf '%s' '/sys/quillo-links.txt' | xclip -selection clipboard
keys ctrl+a ctrl+v
# The completer lists the folder first; a key that comes while it is busy goes to it instead of
# the dialog (with /proc, a folder of thousands of entries, the Save was lost that way).
sleep 1
keys alt+s # Save
# The picture waits until the dialog is gone and the report has been drawn.
for _ in $(seq 50); do
  xdotool search --onlyvisible --name '^Export Links As$' >/dev/null 2>&1 || break
  sleep 0.1
done
if xdotool search --onlyvisible --name '^Export Links As$' >/dev/null 2>&1; then
  echo "screenshots: the file dialog kept the unwritable name; no picture of the error report" >&2
  keys Escape
else
  sleep 1
  shot errors "$MAIN_WINDOW"
fi
quillo_stop
