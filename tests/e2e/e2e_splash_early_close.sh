#!/usr/bin/env bash
# A key press on the start-up window ends the program at once: status 0, no
# main window, nothing on the drive read into an editor or written. Keys that
# type no character (an arrow, Delete) leave it on the screen. No one gives
# the window the keyboard: it takes it itself.
source "$(dirname "$0")/lib.sh"

start_x
make_drive

# An arrow and Delete, then a pointer move over the picture: the keys are
# handled first, so the hand-over happens only if they left the window up.
# That they reached it at all: it had the keyboard before and after them.
start_app
expect_splash
type_into "$SPLASH" "the start-up window" Left Delete
has_focus "$SPLASH" || fail "the start-up window lost the keyboard while Left and Delete were typed (it is with $(focused_window))"
point_at_picture
expect_main
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 240 + 12 )) click 1 # "Exit"
wait_app_exit 10 || fail "the program still runs after Exit"

before="$(drive_state)"
start_app
expect_splash
type_into "$SPLASH" "the start-up window" q
wait_app_exit 10 || fail "a key press did not end the program"
[ "$APP_STATUS" = 0 ] || fail "the early close ended the program with status $APP_STATUS"
[ "$(drive_state)" = "$before" ] || fail "the early close changed the drive"
[ -z "$(ls -A "$WORK" | grep -v -e '^prefix$' -e '^app.log$' -e '^xvfb.log$' -e '^display$' -e '^wm.log$' -e '^wm-home$' || true)" ] \
    || fail "the early close left a file in the current folder: $(ls -A "$WORK")"
echo "PASS"
