#!/usr/bin/env bash
# Runs window_bench under a private Xvfb: the window program of BUILD_DIR in a
# folder of 20 files and of 2000 files, idle for 20 s each, then in the folder
# of 2000 files while another writer appends to one of them every 10 ms, and
# while it makes a new file every 10 ms (BUSY_ONLY=1 runs only these two
# cases). Name another
# quorvant binary (an older build, say) to measure it the same way after.
#   bench/app/window_bench.sh [BUILD_DIR] [OTHER_QUORVANT]
set -euo pipefail
build=${1:-build/default}
other=${2:-}
work=$(mktemp -d)
source "$(dirname "$0")/../../scripts/xvfb.sh"
trap 'kill ${xvfb_pid:-} 2>/dev/null; rm -rf "$work"' EXIT
start_xvfb "$work/display"
export DISPLAY=$xvfb_display
for program in "$build/app/quorvant" ${other:+"$other"}; do
  if [[ -z ${BUSY_ONLY:-} ]]; then
    for files in 20 2000; do
      "$build/bench/app/window_bench" "$program" "$files" 20
      echo
    done
  fi
  for busy in busy busy-new; do
    "$build/bench/app/window_bench" "$program" 2000 20 "$busy"
    echo
  done
done
