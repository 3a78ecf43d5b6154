# The automatic-shutdown countdown, three seconds in (its timer is driven by hand: nothing is
# ever shut down; the request would only reach the scratch QUILLO_SHUTDOWN_COMMAND anyway).
[ -x "$BUILD/tests/ui/test_ui" ] || { echo "screenshots: build the test_ui target first" >&2; false; }
QT_QPA_PLATFORM=xcb QUILLO_SCREENSHOT_DIR=$OUT "$BUILD/tests/ui/test_ui" \
  --gtest_also_run_disabled_tests --gtest_filter='Screenshots.DISABLED_Countdown' >"$SCRATCH/shutdown-shots.log" 2>&1 ||
  { cat "$SCRATCH/shutdown-shots.log" >&2; false; }
grep '^screenshots: ' "$SCRATCH/shutdown-shots.log" >&2
