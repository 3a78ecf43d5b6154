# The red error report, after an error a user can cause: exporting the links into a folder where
# no file can be created (/proc). The file dialog is the program's own; its name field has the
# focus when it opens.

quillo_start
focus_main
keys Down Tab Down # "Finished", its first entry
xdotool mousemove --window "$MAIN_WINDOW" 420 195 click 3
sleep 0.8
keys Down Down Down Down Right Down Down Return # Export links to a TXT file > Export All
DIALOG=$(wait_window '^Export Links As$' 10)
xdotool type --window "$DIALOG" --delay 60 '/proc/quillo-links.txt'
sleep 0.5
keys Return
# The picture waits until the dialog is gone and the report has been drawn.
for _ in $(seq 100); do
  xdotool search --onlyvisible --name '^Export Links As$' >/dev/null 2>&1 || break
  sleep 0.1
done
sleep 1
shot errors "$MAIN_WINDOW"
quillo_stop
