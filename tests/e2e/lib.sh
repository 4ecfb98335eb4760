# Shared by the end-to-end scripts: a private X server, a fresh copy of the
# sample drive, the program under test, bounded waits and cleanup on exit.
# Sourced, not run; the e2e_*.sh scripts are the tests.
set -euo pipefail

: "${VELTRANE_EDITOR:?the program under test}"
: "${VELTRANE_SOURCE_DIR:?the source tree}"
: "${VELTRANE_BUILD_DIR:?the build tree}"

for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (tools/install-deps.sh --test)"; exit 77; }
done

WORK="$(mktemp -d -t veltrane-e2e.XXXXXX)"
PREFIX="$WORK/prefix"
DRIVE="$PREFIX/drive_c"
APP_PID=""
XVFB_PID=""
APP_STATUS=""

cleanup() {
    if [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; then
        kill -KILL "$APP_PID" 2>/dev/null || true
        wait "$APP_PID" 2>/dev/null || true
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

# A private X server on a free display, ready when it has written its number.
start_x() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
        3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    wait_until 20 test -s "$WORK/display" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    export DISPLAY=":$(tr -d '[:space:]' <"$WORK/display")"
    # The pointer waits in a corner, away from where the windows appear.
    xdotool mousemove 0 0
}

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

# A sanitizer build keeps quiet about what the toolkit holds until exit.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$VELTRANE_SOURCE_DIR/tests/lsan.supp:print_suppressions=0}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

start_app() {
    (cd "$WORK" && WINEPREFIX="$PREFIX" exec "$VELTRANE_EDITOR") >"$WORK/app.log" 2>&1 &
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

# The program's windows on the screen (mapped), one id a line.
visible_windows() { xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null || true; }

# find_window SECONDS VAR [TITLE-REGEX]: the one mapped window of the program
# (with that title), retried until it appears.
find_window() {
    local limit=$1 var=$2 title=${3:-}
    local found=""
    _probe() {
        local ids
        if [ -n "$title" ]; then
            # --all: by default xdotool takes a window that meets any one condition.
            ids="$(xdotool search --all --onlyvisible --pid "$APP_PID" --name "$title" 2>/dev/null || true)"
        else
            ids="$(visible_windows)"
        fi
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

# Gives the window the keyboard, as a click on it would under a window manager.
focus() {
    timeout 5 xdotool windowfocus --sync "$1" || xdotool windowfocus "$1"
}

# A tiny X client for WM_DELETE_WINDOW, which xdotool cannot send.
wm_delete() {
    local tool="$WORK/wm_delete"
    if [ ! -x "$tool" ]; then
        "${CXX:-c++}" -O1 -o "$tool" "$VELTRANE_SOURCE_DIR/tests/e2e/wm_delete.cpp" -lX11 \
            || fail "cannot build wm_delete (needs libx11-dev)"
    fi
    "$tool" "$1"
}

# The start-up window: on the screen, alone, centred, 495 x 277.
expect_splash() {
    find_window 20 SPLASH || fail "the start-up window did not appear"
    read -r SX SY SW SH < <(geometry "$SPLASH")
    [ "$SW $SH" = "495 277" ] || fail "start-up window is ${SW}x${SH}, not 495x277"
    local ex=$(( (1024 - 495) / 2 )) ey=$(( (768 - 277) / 2 ))
    [ "$SX $SY" = "$ex $ey" ] || fail "start-up window at $SX,$SY, not centred at $ex,$ey"
}

# The pointer over the start-up window's picture (Picture1: 8, 56, 201 x 145).
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
