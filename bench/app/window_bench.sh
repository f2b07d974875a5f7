#!/usr/bin/env bash
# Runs window_bench under a private Xvfb: 20 files watched, 2000 files
# watched, and 2000 files listed on every input cycle.
#   bench/app/window_bench.sh BUILD_DIR
set -euo pipefail
build=${1:-build/default}
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb; rm -rf "$work"' EXIT
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" SDL_AUDIODRIVER=dummy
"$build/bench/app/window_bench" 20
echo
"$build/bench/app/window_bench" 2000
echo
"$build/bench/app/window_bench" 2000 every-cycle
