#!/usr/bin/env bash
# Statistics of a page-cached 1 GiB file, timed against only reading it with
# the same chunk size, and against `ent` (Debian package ent) on the same file
# in the same run. Prints the times, the ratios, and which figures agree with
# ent's within the precision ent prints.
#
#   bench/analysis/stats_1gib.sh [BUILD_DIR] [FILE]
#
# BUILD_DIR is an optimised build holding quorvant_stats_driver (default
# build/default); without FILE a 1 GiB file of random bytes is made in a
# temporary folder and removed afterwards.
set -euo pipefail

build_dir=${1:-build/default}
file=${2:-}
driver=$build_dir/bench/analysis/quorvant_stats_driver
chunk=1048576
[[ -x $driver ]] || { echo "build quorvant_stats_driver in $build_dir first" >&2; exit 1; }
command -v ent >/dev/null || { echo "ent is not installed (apt-get install ent)" >&2; exit 1; }

work=$(mktemp -d /tmp/quorvant-stats-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
if [[ -z $file ]]; then
  file=$work/random.bin
  head -c $((1 << 30)) /dev/urandom >"$file"
fi
cat "$file" >/dev/null  # into the page cache

seconds_of() { awk '{print $3}' "$1"; }
"$driver" read "$file" $chunk 5 2>"$work/read.time" >/dev/null
"$driver" read16 "$file" $chunk 3 2>"$work/read16.time" >/dev/null
"$driver" stats "$file" $chunk 3 2>"$work/stats.time" >"$work/stats.txt"
# The command-line tool end to end, as a user runs it.
cli=$build_dir/cli/quorvant-cli
cli_start=$(date +%s.%N)
"$cli" stats "$file" >"$work/cli.txt"
cli_end=$(date +%s.%N)
ent_start=$(date +%s.%N)
ent "$file" >"$work/ent.txt"
ent_end=$(date +%s.%N)

bytes=$(awk '{print $2}' "$work/read.time")
read_s=$(seconds_of "$work/read.time")
read16_s=$(seconds_of "$work/read16.time")
stats_s=$(seconds_of "$work/stats.time")
ent_s=$(echo "$ent_end - $ent_start" | bc -l)
cli_s=$(echo "$cli_end - $cli_start" | bc -l)

awk -v bytes="$bytes" -v r="$read_s" -v r16="$read16_s" -v s="$stats_s" -v e="$ent_s" -v c="$cli_s" 'BEGIN {
  printf "file                      %d bytes, chunk '"$chunk"' bytes\n", bytes
  printf "read, aligned buffer      %8.3f s  %6.2f GB/s\n", r, bytes / r / 1e9
  printf "read, buffer page+16      %8.3f s  %6.2f GB/s\n", r16, bytes / r16 / 1e9
  printf "ComputeStatistics         %8.3f s  %6.2f GB/s\n", s, bytes / s / 1e9
  printf "quorvant-cli stats        %8.3f s  %6.2f GB/s\n", c, bytes / c / 1e9
  printf "ent                       %8.3f s  %6.2f GB/s\n", e, bytes / e / 1e9
  printf "statistics speed / read speed   %.2f\n", r / s
  printf "statistics speed / ent speed    %.1f\n", e / s
  printf "quorvant-cli stats / read speed %.2f\n", r / c
  printf "quorvant-cli stats / ent speed  %.1f\n", e / c
}'

# Our figure text, ent's figure text, and the unit of ent's last printed digit.
ours() { grep "^$1" "$work/cli.txt" | head -1 | sed "s/^$1//"; }
compare() {
  local name=$1 our=$2 theirs=$3 unit=$4
  awk -v n="$name" -v a="$our" -v b="$theirs" -v u="$unit" 'BEGIN {
    d = a - b; if (d < 0) d = -d
    verdict = (a == b) ? "same text" : (d <= u * 1.0000001 ? "within one last digit" : "DIFFERENT")
    printf "%-20s ours %-14s ent %-14s %s\n", n, a, b, verdict }'
}
compare "entropy" "$(ours 'Entropy ')" "$(sed -n 's/^Entropy = \([0-9.]*\) bits.*/\1/p' "$work/ent.txt")" 0.000001
compare "chi square" "$(ours 'Chi square ' | tr -d ' ')" \
  "$(sed -n 's/^Chi square distribution for [0-9]* samples is \([0-9.]*\),.*/\1/p' "$work/ent.txt")" 0.01
compare "arithmetic mean" "$(ours 'Aritmetic mean ')" \
  "$(sed -n 's/^Arithmetic mean value of data bytes is \([0-9.]*\) .*/\1/p' "$work/ent.txt")" 0.0001
compare "serial correlation" "$(ours 'Serial correlation ')" \
  "$(sed -n 's/^Serial correlation coefficient is \([-0-9.]*\) .*/\1/p' "$work/ent.txt")" 0.000001
compare "monte carlo pi" "$(ours 'Monte carlo pi ')" \
  "$(sed -n 's/^Monte Carlo value for Pi is \([0-9.]*\) .*/\1/p' "$work/ent.txt")" 0.000000001
echo "(ent's Monte Carlo value is built from other byte groups, so it is not expected to agree.)"
