#!/usr/bin/env bash
# Copy in one instance of the program, paste in a second one, through the X
# clipboard: a text that holds a no-break space (byte A0), a lone CR and a
# lone LF and ends in a NUL arrives whole; the pasted breaks, typed anew, are
# CR LF, as within one instance.
source "$(dirname "$0")/lib.sh"

start_x
make_drive
printf 'A =\2401\rB = 2\nK = v\0\r\nZ = 9\r\n' >"$DATA"
touch -d '2001-02-03 04:05:06' "$DATA"
old_time="$(stat -c %Y "$DATA")"

start_app
FIRST_PID="$APP_PID"
trap 'kill -KILL "$FIRST_PID" 2>/dev/null || true; cleanup' EXIT
expect_splash
point_at_picture
expect_main

# The first instance: into the editing box (112, 48, 441 x 377), the first
# three lines up to the NUL selected and copied; then "Save Changes " (8,
# 152, 89 x 33), whose save shows that the copy before it has been made.
xdotool mousemove $(( 85 + 112 + 200 )) $(( 38 + 48 + 300 )) click 1
FIRST_MAIN="$MAIN"
type_into "$MAIN" "the first main window" ctrl+Home shift+Down shift+Down shift+End ctrl+c
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 152 + 16 )) click 1
wait_until 10 bash -c "[ \"\$(stat -c %Y '$DATA')\" != '$old_time' ]" || fail "the first instance did not save"

# The second instance, on a drive of its own; its main window opens over the
# first one's, at the same place.
mv "$WORK/app.log" "$WORK/first.log"
PREFIX="$WORK/second"
DRIVE="$PREFIX/drive_c"
make_drive
printf 'X = 1\r\n' >"$DATA"
start_app
expect_splash
point_at_picture
expect_main
xdotool mousemove $(( 85 + 112 + 200 )) $(( 38 + 48 + 300 )) click 1
type_into "$MAIN" "the second main window" ctrl+End ctrl+v
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 152 + 16 )) click 1
printf 'X = 1\r\nA =\2401\r\nB = 2\r\nK = v\0\r\n' >"$WORK/expected"
wait_until 10 cmp -s "$WORK/expected" "$DATA" \
    || fail "the saved file holds $(od -c "$DATA" | head -n 5), not $(od -c "$WORK/expected" | head -n 5)"
app_running || fail "the second instance ended"

# "Exit" (8, 240, 89 x 25) in each, the second one on top first: both end by
# themselves, so that a sanitizer build checks what the clipboard left behind.
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 240 + 12 )) click 1
wait_app_exit 10 || fail "the second instance still runs after Exit"
[ "$APP_STATUS" = 0 ] || fail "Exit ended the second instance with status $APP_STATUS"
APP_PID="$FIRST_PID"
MAIN="$FIRST_MAIN"
wait_until 10 bash -c "xdotool search --all --onlyvisible --pid $FIRST_PID >/dev/null" || fail "the first main window is gone"
xdotool mousemove 0 0 mousemove $(( 85 + 8 + 44 )) $(( 38 + 240 + 12 )) click 1
wait_app_exit 10 || fail "the first instance still runs after Exit"
[ "$APP_STATUS" = 0 ] || fail "Exit ended the first instance with status $APP_STATUS"
echo "PASS"
