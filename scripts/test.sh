#!/usr/bin/env bash
# Installs what is missing, builds Quorvant three ways and runs every test:
# the optimised build with all tests (the real-window test under Xvfb
# included), the AddressSanitizer + UndefinedBehaviorSanitizer build, and the
# ThreadSanitizer build for the tests that run threads.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"

jobs=$(nproc)
for preset in default asan tsan; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset tests"
  ctest --preset "$preset" -j "$jobs"
done
