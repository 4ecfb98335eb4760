#!/usr/bin/env bash
# From the start-up window to the editor and out again: the start-up window
# appears centred, a pointer move over its picture opens the main window at
# its place, where it has the keyboard by itself (nobody gives it the focus,
# the pointer is off every window) on "Save Changes ": Enter saves the file
# unchanged, and so does Space. Tab moves on to "Create a file copy-backup",
# where the keypad's Enter writes the copy, and "Exit" ends the program with
# status 0.
source "$(dirname "$0")/lib.sh"

start_x
make_drive
cp "$DATA" "$WORK/original"
# The data file, dated back, so that a save shows in its time.
date_back() {
    touch -d '2001-02-03 04:05:06' "$DATA"
    old_time="$(stat -c %Y "$DATA")"
}
saved() { [ "$(stat -c %Y "$DATA")" != "$old_time" ]; }
date_back

start_app
expect_splash
[ -z "$(visible_windows "$MAIN_TITLE")" ] || fail "the main window is on the screen before the hand-over"

point_at_picture
expect_main
[ -z "$(visible_windows | grep -x "$SPLASH" || true)" ] || fail "the start-up window is still on the screen"

# "Save Changes " has the focus: Enter presses it, and so does Space.
pointer_away
type_into "$MAIN" "the main window" Return
wait_until 10 saved || fail "Enter saved nothing"
cmp "$WORK/original" "$DATA" || fail "saving what was loaded changed the file's bytes"
date_back
type_into "$MAIN" "the main window" space
wait_until 10 saved || fail "Space saved nothing"
cmp "$WORK/original" "$DATA" || fail "saving what was loaded changed the file's bytes"

# Tab: "Create a file copy-backup".
[ ! -e "$BACKUP" ] || fail "a backup exists before the button was pressed"
type_into "$MAIN" "the main window" Tab KP_Enter
wait_until 10 test -s "$BACKUP" || fail "the keypad's Enter wrote no backup copy"
wait_until 5 cmp -s "$DATA" "$BACKUP" || fail "the backup copy differs from the data file"

# "Exit": 8, 240, 89 x 25.
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 240 + 12 )) click 1
wait_app_exit 10 || fail "the program still runs after Exit"
[ "$APP_STATUS" = 0 ] || fail "Exit ended the program with status $APP_STATUS"
echo "PASS"
