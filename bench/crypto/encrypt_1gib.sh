#!/usr/bin/env bash
# Times `quorvant-cli encrypt` and `decrypt` on a 1 GiB file in /tmp against
# two loops with the same 1 MiB chunks, in the same run:
#  - the plain in-place read+write loop with a final fdatasync, the most any
#    in-place tool can do without crash safety;
#  - the journaled loop (inplace_rw_loop --journaled): each 64 MiB window
#    copied to a side file and synced, then written back in place and synced,
#    the least a crash-safe in-place run can cost.
# Rounds run interleaved (ROUNDS, default 3); each figure is the median with
# [min-max]. Targets: encrypt / journaled loop >= 0.8.
#
# Peak memory: the file work holds one 1 MiB buffer (the tool stays well under
# 20 MB while it transforms), but the key check (Argon2id) takes 32 MiB for
# about 0.1 s at the start of each run, so the tool's peak is about 40 MB.
#
#   bench/crypto/encrypt_1gib.sh [BUILD_FOLDER]     (default: build/default)
#
# The build folder must hold quorvant-cli and the bench targets
# inplace_rw_loop and run_measured (an optimised build with QUORVANT_BENCH).
set -euo pipefail

source_folder=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$source_folder/build/default}
rounds=${ROUNDS:-3}
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

plain=() journaled=() encrypt=() decrypt=() peak=0
for ((round = 1; round <= rounds; ++round)); do
  echo "Round $round of $rounds" >&2
  plain+=("$(run "read+write loop + fdatasync" "$loop" "$file" --sync | cut -d' ' -f1)")
  journaled+=("$(run "journaled loop" "$loop" "$file" --journaled | cut -d' ' -f1)")
  figures=$(printf 'bench key\n' | run "quorvant-cli encrypt" "$cli" encrypt "$file")
  encrypt+=("${figures% *}")
  peak=$(( ${figures#* } > peak ? ${figures#* } : peak ))
  encrypted=$(ls "$work"/big.bin\ *\[)
  figures=$(printf 'bench key\n' | run "quorvant-cli decrypt" "$cli" decrypt "$encrypted")
  decrypt+=("${figures% *}")
  peak=$(( ${figures#* } > peak ? ${figures#* } : peak ))
done

# median_and_spread SECONDS...: "median min max"
median_and_spread() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%s %s %s", m, v[1], v[NR] }'
}

{
  echo
  printf '%-28s %s\n' "" "median [min-max] seconds"
  for name in plain journaled encrypt decrypt; do
    declare -n times=$name
    read -r median low high <<< "$(median_and_spread "${times[@]}")"
    printf '%-28s %.3f [%.3f-%.3f]\n' "$name" "$median" "$low" "$high"
    declare -g "median_$name=$median"
  done
  awk -v p="$median_plain" -v j="$median_journaled" -v e="$median_encrypt" -v d="$median_decrypt" \
      -v peak="$peak" 'BEGIN {
    printf "\nencrypt / journaled loop:  %.2f (target >= 0.8)\n", j / e;
    printf "decrypt / journaled loop:  %.2f\n", j / d;
    printf "encrypt / plain loop:      %.2f\n", p / e;
    printf "decrypt / plain loop:      %.2f\n", p / d;
    printf "journaled loop / plain:    %.2f\n", p / j;
    printf "tool peak memory: %.1f MiB\n", peak / 1024 }'
} >&2
