#!/usr/bin/env bash
# The help window under a window manager: maximised and closed, or minimised
# and closed, it comes back at its stored place and size (client area at
# 132,39, 466 x 473) in the normal state, whatever state it was closed in.
E2E_WM=openbox
source "$(dirname "$0")/lib.sh"

start_x
make_drive
start_app
expect_splash
point_at_picture
expect_main

# The help window as stored, on the screen and in the normal state.
expect_help() {
    if ! find_window 20 HELP "$HELP_TITLE"; then
        local id
        for id in $(xdotool search --all --pid "$APP_PID" --name "$HELP_TITLE" 2>/dev/null); do
            echo "help window $id: state $(wm_state "$id") $(net_wm_state "$id")" >&2
        done
        fail "the help window did not appear $1"
    fi
    wait_until 10 test -n "$(wm_state "$HELP")" || fail "the window manager does not manage the help window"
    local state net g
    state="$(wm_state "$HELP")"
    net="$(net_wm_state "$HELP")"
    g="$(geometry "$HELP")"
    [ "$state" = Normal ] || fail "the help window came back in state $state $1"
    case "$net" in *MAXIMIZED* | *HIDDEN* | *FULLSCREEN*) fail "the help window came back as $net $1" ;; esac
    [ "$g" = "132 39 466 473" ] || fail "the help window came back at '$g', not '132 39 466 473' $1"
    # A new window takes the keyboard; until it has, its request to the
    # window manager may still be on its way.
    wait_until 10 has_focus "$HELP" || fail "the help window did not take the keyboard $1 (it is with $(focused_window))"
}

# Closed (as its title bar's close button does it), it leaves the screen and
# the program goes on.
close_help() {
    xwin close "$HELP"
    wait_until 10 test -z "$(visible_windows "$HELP_TITLE")" || fail "the help window did not close $1"
    app_running || fail "closing the help window ended the program"
}

click_help
expect_help "at the first click"

maximised() { [[ "$(net_wm_state "$HELP")" == *MAXIMIZED_HORZ* ]] && [ "$(geometry "$HELP" | cut -d' ' -f3)" = 1024 ]; }
xwin maximize "$HELP"
wait_until 10 maximised || fail "openbox did not maximise the help window"
close_help "after it was maximised"
click_help
expect_help "after it was closed maximised"

minimised() { [ "$(wm_state "$HELP")" = Iconic ]; }
xdotool windowminimize "$HELP"
wait_until 10 minimised || fail "openbox did not minimise the help window"
# A minimised window is off the screen already: the close is done once the
# window manager no longer keeps it minimised, and it is not on the screen.
closed() { ! minimised && [ -z "$(visible_windows "$HELP_TITLE")" ]; }
xwin close "$HELP"
wait_until 10 closed || fail "the minimised help window did not close"
app_running || fail "closing the help window ended the program"
click_help
expect_help "after it was closed minimised"

# "Exit" (8, 240, 89 x 25), on its left part, which the help window leaves free.
xdotool mousemove $(( 85 + 8 + 10 )) $(( 38 + 240 + 12 )) click 1
wait_app_exit 10 || fail "the program still runs after Exit"
[ "$APP_STATUS" = 0 ] || fail "Exit ended the program with status $APP_STATUS"
echo "PASS"
