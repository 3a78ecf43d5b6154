# The task properties dialog: for one task of the queue (Properties... from the keyboard), and
# for several new files (Add... with two names typed into the file dialog).

service_start_for_gui
NEW=$SCRATCH/new-files
mkdir -p "$NEW"
head -c 5242880 /dev/urandom >"$NEW/summer-video.mp4"
head -c 1048576 /dev/urandom >"$NEW/slides.odp"
quillo_start
focus_main

keys Tab Down # the second row of the queue
keys ctrl+Return
DIALOG=$(wait_window '^Upload Task Properties$')
shot properties-one-task "$DIALOG"
keys Escape

keys Insert
FILES_DIALOG=$(wait_window '^Add Files to Upload$')
xdotool type --delay 40 "$NEW/"
keys Return
sleep 0.5
xdotool type --delay 40 '"summer-video.mp4" "slides.odp"'
keys Return
DIALOG=$(wait_window '^New Upload Tasks Properties$')
shot properties-several-files "$DIALOG"
keys Escape
quillo_stop
