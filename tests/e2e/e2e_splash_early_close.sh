#!/usr/bin/env bash
# A key press on the start-up window ends the program at once: status 0, no
# main window, nothing on the drive read into an editor or written. A key that
# types no character (an arrow) leaves it on the screen.
source "$(dirname "$0")/lib.sh"

start_x
make_drive
before="$(drive_state)"

start_app
expect_splash
# No focus given from outside: the new window takes the keyboard itself.
xdotool key Left
sleep 0.5
app_running || fail "an arrow key ended the program"
[ -n "$(visible_windows | grep -x "$SPLASH" || true)" ] || fail "an arrow key closed the start-up window"

xdotool key q
wait_app_exit 10 || fail "a key press did not end the program"
[ "$APP_STATUS" = 0 ] || fail "the early close ended the program with status $APP_STATUS"
[ "$(drive_state)" = "$before" ] || fail "the early close changed the drive"
[ -z "$(ls -A "$WORK" | grep -v -e '^prefix$' -e '^app.log$' -e '^xvfb.log$' -e '^display$' || true)" ] \
    || fail "the early close left a file in the current folder: $(ls -A "$WORK")"
echo "PASS"
