#!/usr/bin/env bash
# Times `quorvant-cli encrypt` and `decrypt` on a 1 GiB file in /tmp against a
# plain in-place read+write loop with the same 1 MiB chunks (with and without
# the final fdatasync that the tool always does), and reports the tool's peak
# memory. Targets: throughput ratio tool / loop (both syncing) >= 0.7; peak
# memory < 20 MB.
#
#   bench/crypto/encrypt_1gib.sh [BUILD_FOLDER]     (default: build/default)
#
# The build folder must hold quorvant-cli and the bench targets
# inplace_rw_loop and run_measured (an optimised build with QUORVANT_BENCH).
set -euo pipefail

source_folder=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$source_folder/build/default}
cli=$build/cli/quorvant-cli
loop=$build/bench/crypto/inplace_rw_loop
measure=$build/bench/crypto/run_measured
for tool in "$cli" "$loop" "$measure"; do
  [[ -x $tool ]] || { echo "missing $tool: build the default preset first" >&2; exit 2; }
done

work=$(mktemp -d /tmp/quorvant-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
file=$work/big.bin
mib=1024
echo "Making a $mib MiB file in $work ..."
dd if=/dev/urandom of="$file" bs=1M count=$mib status=none
sync "$file"
cat "$file" > /dev/null  # into the page cache

# run LABEL COMMAND...: prints a line of figures and returns "seconds peak_kib".
run() {
  local label=$1
  shift
  local figures
  figures=$("$measure" "$@" 2>&1 >/dev/null | tail -n 1)
  awk -v label="$label" -v mib="$mib" -v figures="$figures" 'BEGIN {
    split(figures, f, " ");
    printf "%-30s %8.3f s  %8.1f MiB/s  peak %6.1f MiB\n", label, f[1], mib / f[1], f[2] / 1024 }' >&2
  echo "$figures"
}

loop_plain=$(run "read+write loop, no sync" "$loop" "$file")
loop_sync=$(run "read+write loop + fdatasync" "$loop" "$file" --sync)
encrypt=$(printf 'bench key\n' | run "quorvant-cli encrypt" "$cli" encrypt "$file")
encrypted=$(ls "$work"/big.bin\ *\[)
loop_sync_2=$(run "read+write loop + fdatasync" "$loop" "$encrypted" --sync)
decrypt=$(printf 'bench key\n' | run "quorvant-cli decrypt" "$cli" decrypt "$encrypted")

awk -v plain="$loop_plain" -v sync1="$loop_sync" -v sync2="$loop_sync_2" -v encrypt="$encrypt" \
    -v decrypt="$decrypt" 'BEGIN {
  split(plain, p, " "); split(sync1, s1, " "); split(sync2, s2, " ");
  split(encrypt, e, " "); split(decrypt, d, " ");
  loop = (s1[1] + s2[1]) / 2; tool = (e[1] + d[1]) / 2;
  peak = e[2] > d[2] ? e[2] : d[2];
  printf "\nthroughput ratio tool / loop (both syncing): %.2f (target >= 0.7)\n", loop / tool;
  printf "throughput ratio tool / loop without sync:   %.2f\n", p[1] / tool;
  printf "tool peak memory: %.1f MiB (target < 20 MB)\n", peak / 1024 }' >&2
