# Shared by the end-to-end scripts: a private X server (with or without a
# window manager), a fresh copy of the sample drive, the program under test,
# bounded waits and cleanup on exit. Sourced, not run; the e2e_*.sh scripts
# are the tests.
#
# The window manager: E2E_WM=none or E2E_WM=openbox. CTest runs every script
# in both ways (VELTRANE_E2E_WM); a script that sets E2E_WM itself before
# sourcing this file runs only in that way.
set -euo pipefail

: "${VELTRANE_EDITOR:?the program under test}"
: "${VELTRANE_SOURCE_DIR:?the source tree}"
: "${VELTRANE_BUILD_DIR:?the build tree}"

E2E_WM="${E2E_WM:-${VELTRANE_E2E_WM:-none}}"
case "$E2E_WM" in
    none) WM_TOOLS=() ;;
    openbox) WM_TOOLS=(openbox xprop) ;;
    *) echo "FAIL: unknown window manager '$E2E_WM'" >&2; exit 1 ;;
esac
for tool in Xvfb xdotool xwininfo "${WM_TOOLS[@]}"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (tools/install-deps.sh --test)"; exit 77; }
done

WORK="$(mktemp -d -t veltrane-e2e.XXXXXX)"
PREFIX="$WORK/prefix"
DRIVE="$PREFIX/drive_c"
APP_PID=""
XVFB_PID=""
WM_PID=""
APP_STATUS=""

cleanup() {
    if [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; then
        kill -KILL "$APP_PID" 2>/dev/null || true
        wait "$APP_PID" 2>/dev/null || true
    fi
    if [ -n "$WM_PID" ] && kill -0 "$WM_PID" 2>/dev/null; then
        kill "$WM_PID" 2>/dev/null || true
        wait "$WM_PID" 2>/dev/null || true
    fi
    if [ -n "$XVFB_PID" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -s "$WORK/app.log" ]; then
        echo "--- program output ---" >&2
        cat "$WORK/app.log" >&2
    fi
    exit 1
}

# wait_until SECONDS COMMAND...: retries COMMAND every 0.1 s until it succeeds.
wait_until() {
    local limit=$(( $1 * 10 ))
    shift
    local i
    for (( i = 0; i < limit; i++ )); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

# A private X server on a free display, ready when it has written its number;
# then the window manager, if the test runs under one.
start_x() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
        3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    wait_until 20 test -s "$WORK/display" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    export DISPLAY=":$(tr -d '[:space:]' <"$WORK/display")"
    [ "$E2E_WM" = none ] || start_wm
    # The pointer waits in a corner, away from where the windows appear.
    xdotool mousemove 0 0
}

# openbox with its stock settings (no user's own), ready once it has
# announced itself on the root window.
start_wm() {
    mkdir -p "$WORK/wm-home"
    HOME="$WORK/wm-home" XDG_CONFIG_HOME="$WORK/wm-home" XDG_CACHE_HOME="$WORK/wm-home" \
        openbox --sm-disable >"$WORK/wm.log" 2>&1 &
    WM_PID=$!
    wait_until 20 wm_ready || fail "openbox did not start: $(cat "$WORK/wm.log")"
}
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# The sample drive, fresh: the repository's copy is never written to.
make_drive() {
    mkdir -p "$PREFIX"
    cp -r "$VELTRANE_SOURCE_DIR/demo/drive_c" "$DRIVE"
    rm -f "$DRIVE/windows/temp/.gitkeep"
    DATA="$(find "$DRIVE" -type f -iname game.Gdb | head -n 1)"
    [ -n "$DATA" ] || fail "the sample drive holds no game.Gdb"
    BACKUP="$DRIVE/windows/temp/game2.Gdb"
}

# Names, sizes, times and contents of every file on the drive.
drive_state() {
    (cd "$DRIVE" && find . -printf '%y %p %s %T@\n' | sort && find . -type f -print0 | sort -z | xargs -0 -r md5sum)
}

# A sanitizer build ends the program with an abort on any leak it finds
# (tests/lsan.supp says why nothing is suppressed).
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$VELTRANE_SOURCE_DIR/tests/lsan.supp:print_suppressions=0}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# No session bus, the same on every machine: without an address libdbus runs
# dbus-launch for the test's X server, which starts a bus where dbus-x11 is
# installed and leaks a read buffer where it is not; a desktop's own bus
# would be the user's, not the test's.
start_app() {
    (cd "$WORK" && DBUS_SESSION_BUS_ADDRESS="unix:path=$WORK/no-session-bus" WINEPREFIX="$PREFIX" exec "$VELTRANE_EDITOR") \
        >"$WORK/app.log" 2>&1 &
    APP_PID=$!
}

# Still running (an ended child that is not yet reaped counts as ended).
app_running() {
    [ -n "$APP_PID" ] && [ -e "/proc/$APP_PID" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$APP_PID/status" 2>/dev/null
}
app_ended() { ! app_running; }

# wait_app_exit SECONDS: sets APP_STATUS once the program has ended.
wait_app_exit() {
    wait_until "$1" app_ended || return 1
    set +e
    wait "$APP_PID"
    APP_STATUS=$?
    set -e
    APP_PID=""
    return 0
}

# The program's windows on the screen (mapped), one id a line; with a title
# (a regular expression), only those whose title matches. --all: xdotool
# otherwise takes a window that matches the process OR the title, which
# finds the start-up window when asked for the main window by its title.
visible_windows() {
    if [ -n "${1:-}" ]; then
        xdotool search --all --onlyvisible --pid "$APP_PID" --name "$1" 2>/dev/null || true
    else
        xdotool search --all --onlyvisible --pid "$APP_PID" 2>/dev/null || true
    fi
}

# find_window SECONDS VAR [TITLE-REGEX]: the one mapped window of the program
# (with that title), retried until it appears.
find_window() {
    local limit=$1 var=$2 title=${3:-}
    local found=""
    _probe() {
        local ids
        ids="$(visible_windows "$title")"
        [ "$(printf '%s' "$ids" | grep -c .)" = 1 ] || return 1
        found="$ids"
    }
    wait_until "$limit" _probe || return 1
    printf -v "$var" '%s' "$found"
}

# geometry ID: "X Y WIDTH HEIGHT" of the window's inside, on the screen.
geometry() {
    xwininfo -id "$1" | awk '
        /Absolute upper-left X:/ { x = $NF }
        /Absolute upper-left Y:/ { y = $NF }
        /^ *Width:/ { w = $NF }
        /^ *Height:/ { h = $NF }
        END { print x, y, w, h }'
}

window_title() { xdotool getwindowname "$1" 2>/dev/null || true; }

# The window that has the keyboard; has_focus ID: is it that one?
focused_window() { xdotool getwindowfocus 2>/dev/null || true; }
has_focus() { [ "$(focused_window)" = "$1" ]; }

# wait_keyboard ID WHAT: waits until the window has the keyboard, before keys
# are typed into it: a key typed while another window has it would go there,
# and a test that expects nothing of it would pass all the same.
wait_keyboard() {
    wait_until 10 has_focus "$1" && return 0
    local owner
    owner="$(focused_window)"
    fail "$2 does not have the keyboard (it is with ${owner:-no window})"
}

# type_into ID WHAT KEY...: types the keys (xdotool's names) once the window
# has the keyboard.
type_into() {
    wait_keyboard "$1" "$2"
    xdotool key "${@:3}"
}

# focus ID WHAT: gives the window the keyboard, as a click on it would under
# a window manager.
focus() {
    xdotool windowfocus "$1"
    wait_keyboard "$1" "$2"
}

# The pointer off every window of the program.
pointer_away() { xdotool mousemove 1020 760; }

# xwin close|maximize ID: a tiny X client for the requests that a window
# manager's buttons make and xdotool cannot send (tests/e2e/xwin.cpp).
xwin() {
    local tool="$WORK/xwin"
    if [ ! -x "$tool" ]; then
        "${CXX:-c++}" -O1 -o "$tool" "$VELTRANE_SOURCE_DIR/tests/e2e/xwin.cpp" -lX11 \
            || fail "cannot build xwin (needs libx11-dev)"
    fi
    "$tool" "$@"
}

# The start-up window: on the screen, alone, centred, its 495 x 277 client
# area inside its own 3-pixel dialog frame (501 x 283 in all). SX, SY: the
# client area's top-left corner on the screen.
expect_splash() {
    find_window 20 SPLASH || fail "the start-up window did not appear"
    local x y w h
    read -r x y w h < <(geometry "$SPLASH")
    [ "$w $h" = "501 283" ] || fail "start-up window is ${w}x${h}, not 501x283 (495x277 and its frame)"
    local ex=$(( (1024 - 501) / 2 )) ey=$(( (768 - 283) / 2 ))
    [ "$x $y" = "$ex $ey" ] || fail "start-up window at $x,$y, not centred at $ex,$ey"
    SX=$(( x + 3 ))
    SY=$(( y + 3 ))
}

# The pointer over the start-up window's picture (Picture1: 8, 56, 201 x 145
# in the client area).
point_at_picture() {
    xdotool mousemove $(( SX + 8 + 100 )) $(( SY + 56 + 72 ))
}

MAIN_TITLE='^Veltrane Editor V 1\.0 Beta$'
REPORT_TITLE='^Veltrane Editor$'

# The main window at its stored place: client area at 85,38, 636 x 467.
expect_main() {
    find_window 30 MAIN "$MAIN_TITLE" || fail "the main window did not appear"
    local g
    g="$(geometry "$MAIN")"
    [ "$g" = "85 38 636 467" ] || fail "main window at '$g', not '85 38 636 467'"
}

HELP_TITLE='^Guida di Veltrane Editor 1\.0$'

# Clicks "Help Guide" (8, 200, 89 x 25 in the main window), on its left
# part, which the help window at its stored place never covers.
click_help() { xdotool mousemove $(( 85 + 8 + 10 )) $(( 38 + 200 + 12 )) click 1; }

# The window's ICCCM state as the window manager keeps it: Normal, Iconic,
# or nothing once it is withdrawn.
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/^[[:space:]]*window state: //p'; }
# The window's EWMH states (_NET_WM_STATE_MAXIMIZED_VERT ...), or nothing.
net_wm_state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null | sed -n 's/^_NET_WM_STATE(ATOM) = //p'; }
