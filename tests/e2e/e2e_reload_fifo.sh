#!/usr/bin/env bash
# A FIFO put in place of the data file after the load: "Parameters now in use"
# reports it at once (a window titled "Veltrane Editor") instead of waiting on
# it, and leaves it as it is. Once the report is dismissed the program still
# answers: the box kept its text, which "Save Changes " writes, and "Help
# Guide" opens the help window.
source "$(dirname "$0")/lib.sh"

start_x
make_drive
cp "$DATA" "$WORK/original"

start_app
expect_splash
point_at_picture
expect_main

rm "$DATA"
mkfifo "$DATA"
# "Parameters now in use": 8, 56, 89 x 41 in the client area.
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 56 + 20 )) click 1
# A hang would be forever: the bound only has to be finite.
find_window 10 REPORT "$REPORT_TITLE" || fail "no report: the reload waits on the FIFO"
[ -p "$DATA" ] || fail "the FIFO is no longer there"
app_running || fail "the program ended after the report"

focus "$REPORT" "the report"
xdotool key Return
report_gone() { [ -z "$(visible_windows "$REPORT_TITLE")" ]; }
wait_until 10 report_gone || fail "the report stays on the screen"
app_running || fail "the program ended when the report was dismissed"

# "Save Changes ": 8, 152, 89 x 33. The FIFO goes first: it is no file to save to.
rm "$DATA"
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 152 + 16 )) click 1
wait_until 10 test -f "$DATA" || fail "the save after the report wrote nothing"
wait_until 5 cmp -s "$WORK/original" "$DATA" || fail "the box lost its text: the save differs from what was loaded"

# "Help Guide": 8, 200, 89 x 25.
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 200 + 12 )) click 1
find_window 10 HELP "$HELP_TITLE" || fail "the help window did not open"

# "Exit", on its left part, which the help window leaves free: the program
# ends by itself, so that a sanitizer build checks what the report left behind.
xdotool mousemove $(( 85 + 8 + 10 )) $(( 38 + 240 + 12 )) click 1
wait_app_exit 10 || fail "the program still runs after Exit"
[ "$APP_STATUS" = 0 ] || fail "Exit ended the program with status $APP_STATUS"
echo "PASS"
