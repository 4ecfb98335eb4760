#!/usr/bin/env bash
# Cut and paste in the real program, through the X clipboard: a line holding
# a no-break space (byte A0) and ending in a lone LF is cut and pasted at the
# end. The saved file keeps the A0 and the other lines' lone CR; the pasted
# line's break, typed anew, is CR LF.
source "$(dirname "$0")/lib.sh"

start_x
make_drive
printf 'A =\2401\nB = 2\r\nC = 3\r\r\n' >"$DATA"

start_app
expect_splash
point_at_picture
expect_main

# Into the editing box (112, 48, 441 x 377), then by keys: the first line
# with its break, cut; the end of the text, paste; then "Save Changes " (8,
# 152, 89 x 33).
xdotool mousemove $(( 85 + 112 + 200 )) $(( 38 + 48 + 300 )) click 1
type_into "$MAIN" "the main window" ctrl+Home shift+Down ctrl+x ctrl+End ctrl+v
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 152 + 16 )) click 1
printf 'B = 2\r\nC = 3\r\r\nA =\2401\r\n' >"$WORK/expected"
wait_until 10 cmp -s "$WORK/expected" "$DATA" \
    || fail "the saved file holds $(od -c "$DATA" | head -n 5), not $(od -c "$WORK/expected" | head -n 5)"

# "Exit" (8, 240, 89 x 25): the program ends by itself, so that a sanitizer
# build checks what the clipboard's path left behind.
xdotool mousemove $(( 85 + 8 + 44 )) $(( 38 + 240 + 12 )) click 1
wait_app_exit 10 || fail "the program still runs after Exit"
[ "$APP_STATUS" = 0 ] || fail "Exit ended the program with status $APP_STATUS"
echo "PASS"
