#!/usr/bin/env bash
# Enter on the focused button clicks it: after the hand-over "Save Changes "
# has the focus and Enter saves the file; Tab moves on to "Create a file
# copy-backup", where the keypad's Enter writes the backup copy.
source "$(dirname "$0")/lib.sh"

start_x
make_drive
cp "$DATA" "$WORK/original"
touch -d '2001-02-03 04:05:06' "$DATA"
old_time="$(stat -c %Y "$DATA")"

start_app
expect_splash
point_at_picture
expect_main
pointer_away
wait_until 10 has_focus "$MAIN" || fail "the main window does not have the keyboard (it is with $(focused_window))"

xdotool key Return
wait_until 10 bash -c "[ \"\$(stat -c %Y '$DATA')\" != '$old_time' ]" || fail "Enter saved nothing"
cmp "$WORK/original" "$DATA" || fail "saving what was loaded changed the file's bytes"

[ ! -e "$BACKUP" ] || fail "a backup exists before the button was pressed"
xdotool key Tab KP_Enter
wait_until 10 test -s "$BACKUP" || fail "the keypad's Enter wrote no backup copy"
wait_until 5 cmp -s "$DATA" "$BACKUP" || fail "the backup copy differs from the data file"
echo "PASS"
