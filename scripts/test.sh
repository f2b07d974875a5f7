#!/usr/bin/env bash
# Installs what is missing, builds Quorvant three ways and runs every test:
# the optimised build with warnings as errors and all tests (the real-window
# test under Xvfb included), the AddressSanitizer + UndefinedBehaviorSanitizer
# build, and the ThreadSanitizer build of the tests labelled `thread`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"

jobs=$(nproc)
for preset in ci asan tsan; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset tests"
  started=$SECONDS
  ctest --preset "$preset" -j "$jobs"
  echo "=== $preset tests took $((SECONDS - started)) s"
done
