# The main window: the queue with nothing selected, the queue with one task selected (the one
# uploading, and the one that failed), the finished list with one entry selected. The rows are
# chosen from the keyboard, as a person can, so the pictures do not depend on where the rows
# land on the screen: the tree has the focus first, Tab moves into the list in front and onto its
# first row.

service_start_for_gui
quillo_start
focus_main
sleep 6 # the first Queued task starts and reports progress
shot main-queue-nothing-selected "$MAIN_WINDOW"

keys Tab Down Down # the third row
sleep 1
shot main-queue-uploading-selected "$MAIN_WINDOW"

keys Up Up # the first row: the task that failed
shot main-queue-error-selected "$MAIN_WINDOW"

keys shift+Tab Down Tab Down Down # the "Finished" node, then its third entry
shot main-finished-selected "$MAIN_WINDOW"
