#!/usr/bin/env bash
# Builds quorvant_tour and refreshes the screenshots in docs/.
#   tools/make_tour.sh [BUILD_FOLDER]      (default: build/default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake --preset default -S "$root" >/dev/null
  build=$root/build/default
fi
cmake --build "$build" --target quorvant_tour
mkdir -p "$root/docs"
# A screen that stopped answering its keys would otherwise hold the tour forever.
timeout 120 "$build/tools/quorvant_tour" "$root/docs"
