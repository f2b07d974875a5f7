#!/usr/bin/env bash
# Installs what is missing, builds Quorvant and starts it in FOLDER, or in a
# demo folder of sample files made for the purpose (never in the repository
# itself, whose files a stray Enter or Del would change).
#   scripts/run.sh [FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

cmake --preset default -S "$root" >/dev/null
cmake --build "$root/build/default" --target quorvant quorvant-cli

folder=${1:-}
if [[ -z "$folder" ]]; then
  folder="$root/build/demo"
  if [[ ! -d "$folder" ]]; then
    mkdir -p "$folder"
    printf 'Hello from the demo folder.\n' > "$folder/hello.txt"
    seq 1 20000 > "$folder/numbers.txt"
    head -c 100000 /dev/urandom > "$folder/random.bin"
    printf 'Quorvant shows one file at a time.\nEnter, a key and Enter encrypt it.\n' > "$folder/read.me"
  fi
fi
cd "$folder"
exec "$root/build/default/app/quorvant"
