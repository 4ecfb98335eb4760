#!/usr/bin/env bash
# The main window closed from outside (WM_DELETE_WINDOW, as a window
# manager's close button sends it): the hidden start-up window keeps nothing
# alive, the program ends with status 0 and asks nothing.
source "$(dirname "$0")/lib.sh"

start_x
make_drive
before="$(drive_state)"

start_app
expect_splash
point_at_picture
expect_main

xwin close "$MAIN"
wait_app_exit 10 || fail "the program still runs with no window on the screen"
[ "$APP_STATUS" = 0 ] || fail "closing the main window ended the program with status $APP_STATUS"
[ "$(drive_state)" = "$before" ] || fail "closing the main window wrote to the drive"
echo "PASS"
