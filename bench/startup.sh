#!/usr/bin/env bash
# Start-up time of the editor beside a bare Qt program that maps one empty
# window: the median of several starts each, in one run on a private Xvfb.
# Usage: bench/startup.sh [BUILD-DIR] [REPETITIONS]  (defaults: build, 15)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
reps="${2:-15}"
bench="$build/bench/bench_startup"
[ -x "$bench" ] || { echo "build first: cmake --build $build --target bench_startup" >&2; exit 1; }

work="$(mktemp -d -t veltrane-startup.XXXXXX)"
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"

"$bench" --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_out="$work/out.csv" \
    --benchmark_out_format=csv

awk -F, '
    /_median"/ {
        if ($1 ~ /veltrane-editor/) editor = $3
        if ($1 ~ /bare_window/) bare = $3
    }
    END {
        if (editor == "" || bare == "") { print "no medians in the output" > "/dev/stderr"; exit 1 }
        printf "median start-up to mapped window: editor %.1f ms, bare Qt window %.1f ms, ratio %.2f\n",
            editor, bare, editor / bare
    }' "$work/out.csv"
