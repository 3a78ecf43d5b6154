# The five pages of the settings dialog (drawn by the widget-test executable on this display,
# with a scratch data folder of its own).
[ -x "$BUILD/tests/ui/test_ui" ] || { echo "screenshots: build the test_ui target first" >&2; false; }
QT_QPA_PLATFORM=xcb QUILLO_SCREENSHOT_DIR=$OUT "$BUILD/tests/ui/test_ui" \
  --gtest_also_run_disabled_tests --gtest_filter='Screenshots.DISABLED_SettingsPages' >"$SCRATCH/settings-shots.log" 2>&1 ||
  { cat "$SCRATCH/settings-shots.log" >&2; false; }
grep '^screenshots: ' "$SCRATCH/settings-shots.log" >&2
