# The main window: the queue with nothing selected, the queue with one task selected (the one
# uploading, and the one that failed), the finished list with one entry selected.
# Rows are 20 pixels high under a header that ends at y = 37; the tree's nodes are 18 apart.
row_y() { echo $((46 + 20 * $1)); }

service_start_for_gui
quillo_start
sleep 6 # the first Queued task starts and reports progress
shot main-queue-nothing-selected "$MAIN_WINDOW"

click 300 "$(row_y 2)" # the uploading task
sleep 1.5
shot main-queue-uploading-selected "$MAIN_WINDOW"

click 300 "$(row_y 0)" # the task that failed
shot main-queue-error-selected "$MAIN_WINDOW"

click 50 46 # the "Finished" node
click 300 "$(row_y 2)"
shot main-finished-selected "$MAIN_WINDOW"
