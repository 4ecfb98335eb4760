#!/usr/bin/env bash
# No game.Gdb on the drive: after the hand-over the error report appears (a
# window titled "Veltrane Editor"), the main window never does, and once the
# report is dismissed the program ends.
source "$(dirname "$0")/lib.sh"

start_x
make_drive
find "$DRIVE" -type f -iname game.Gdb -delete
before="$(drive_state)"

start_app
expect_splash
point_at_picture
find_window 30 REPORT "$REPORT_TITLE" || fail "no error report appeared"
[ -z "$(visible_windows "$MAIN_TITLE")" ] || fail "the main window appeared although the load failed"
[ "$(visible_windows)" = "$REPORT" ] || fail "other windows beside the report: $(visible_windows)"

focus "$REPORT" "the error report"
xdotool key Return
wait_app_exit 10 || fail "the program still runs after the report was dismissed"
# An end through the error report is a failure, not a crash.
[ "$APP_STATUS" != 0 ] && [ "$APP_STATUS" -lt 128 ] || fail "the program ended with status $APP_STATUS"
[ "$(drive_state)" = "$before" ] || fail "the failed load changed the drive"
[ ! -e "$WORK/File non trovato." ] || fail "a file was made under the miss text's name"
echo "PASS"
