#!/usr/bin/env bash
# Every speed ratio the project tracks, measured in one run on one 1 GiB file,
# with the spread (min / median / max) over several rounds:
#
#   cipher / memcpy                TransformBlock on a 16 KiB block in memory
#   encrypt, decrypt / in-place    quorvant-cli, synced, against a bare read+write
#     loop                         loop over the file with one fdatasync
#   encrypt / journaled loop       against the loop that first makes each 64 MiB
#                                  window's old bytes durable in a side file
#   stats / plain read             ComputeStatistics against only reading the file
#                                  in 1 MiB preads; also on one thread (as it was)
#                                  and both pinned to one core
#   stats / kernel alone           pinned to one core, ComputeStatistics on one
#                                  thread against the counting kernel alone over
#                                  the same bytes already in memory
#   stats / ent                    how many times faster than `ent` (if installed)
#   erase / shred                  quorvant-cli erase against `shred -n 1 -u`
#   many small files / ccrypt      quorvant-cli encrypt * and decrypt * over 1,000
#                                  files of 4 KiB against ccrypt + sync (if
#                                  installed): bench/crypto/many_files.sh
#   strong format                  its own block below: strong encrypt and
#                                  decrypt against the journaled loop, verify
#                                  against a plain read, its peak memory
#
#   bench/run.sh [BUILD_FOLDER]      (default: build/default)
#
# The build folder must be an optimised build with the benchmarks (the
# default preset). ROUNDS (default 5) and BENCH_TMP (default /tmp) may be set
# in the environment; ONLY=strong measures the strong format's block alone. The file is made in a temporary folder under BENCH_TMP
# and removed at the end; the run takes a few minutes and writes about 9 GiB
# per round to that folder's disk.
set -euo pipefail

source_folder=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source_folder/build/default}
rounds=${ROUNDS:-5}
only=${ONLY:-}
[[ -z $only || $only == strong ]] || { echo "ONLY takes strong, or nothing for every block" >&2; exit 2; }
# The rounds of the blocks before the strong format's.
general_rounds=$rounds
[[ $only == strong ]] && general_rounds=0
cli=$build/cli/quorvant-cli
driver=$build/bench/analysis/quorvant_stats_driver
cipher_bench=$build/bench/crypto/transform_block_benchmark
loop=$build/bench/crypto/inplace_rw_loop
measure=$build/bench/crypto/run_measured
for tool in "$cli" "$driver" "$cipher_bench" "$loop" "$measure"; do
  [[ -x $tool ]] || { echo "missing $tool: build the default preset first" >&2; exit 2; }
done
has_ent=$(command -v ent >/dev/null && [[ $general_rounds -gt 0 ]] && echo yes || echo no)
has_taskset=$(command -v taskset >/dev/null && echo yes || echo no)

work=$(mktemp -d "${BENCH_TMP:-/tmp}/quorvant-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/values"
file=$work/big.bin
chunk=1048576
key=$'bench key\nbench key\n'
started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

echo "Making a 1 GiB file of random bytes in $work ..." >&2
head -c $((1 << 30)) /dev/urandom >"$file"
sync "$file"

# record NAME VALUE: one more round's value of a figure (none if empty: an
# older build's driver prints fewer fields).
record() { if [[ -n $2 ]]; then echo "$2" >>"$work/values/$1"; fi; }

# timed COMMAND...: runs it (standard input passed on, output dropped) and
# prints "SECONDS PEAK_KIB".
timed() { "$measure" "$@" 2>&1 >/dev/null | tail -n 1; }

# ratio A B: A ÷ B.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }

# The encrypted name of big.bin, whatever its salt.
encrypted_name() {
  local names=("$work"/big.bin\ *\[)
  [[ ${#names[@]} -eq 1 && -f ${names[0]} ]] || { echo "no single encrypted file in $work" >&2; exit 1; }
  echo "${names[0]}"
}

for ((round = 1; round <= general_rounds; round++)); do
  echo "Round $round of $rounds ..." >&2

  # Cipher against memcpy, in memory.
  cipher_line=$("$cipher_bench" --benchmark_filter='BM_TransformBlockEncrypt|BM_Memcpy|BM_CopyLoop' \
    --benchmark_min_time=0.2 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' | grep '^BM_TransformBlockEncrypt:')
  record cipher_memcpy "$(sed -n 's/.*memcpy [0-9.]* GB\/s, ratio \([0-9.]*\);.*/\1/p' <<<"$cipher_line")"
  record cipher_copy_loop "$(sed -n 's/.*copy loop [0-9.]* GB\/s, ratio \([0-9.]*\).*/\1/p' <<<"$cipher_line")"
  record cipher_gbs "$(sed -n 's/^BM_TransformBlockEncrypt: \([0-9.]*\) GB\/s.*/\1/p' <<<"$cipher_line")"

  # Statistics against reading, from the page cache. The driver times the
  # pass alone; its fifth field is the CPU time of all its threads.
  cat "$file" >/dev/null
  read_s=$("$driver" read "$file" $chunk 1 2>&1 >/dev/null | awk '{print $3}')
  stats_line=$("$driver" stats "$file" $chunk 1 2>&1 >/dev/null)
  stats_s=$(awk '{print $3}' <<<"$stats_line")
  one_thread_s=$("$driver" stats "$file" $chunk 1 1 2>&1 >/dev/null | awk '{print $3}')
  # The counting kernel alone over the file's bytes in memory (read in
  # first, not timed), and what each pass costs in CPU time.
  kernel_line=$("$driver" kernel "$file" $chunk 1 2>&1 >/dev/null)
  kernel_s=$(awk '{print $3}' <<<"$kernel_line")
  record kernel_gbs "$(ratio 1.073741824 "$kernel_s")"
  record stats_gbs "$(ratio 1.073741824 "$stats_s")"
  record read_gbs "$(ratio 1.073741824 "$read_s")"
  record kernel_cpu_s "$(awk '{print $5}' <<<"$kernel_line")"
  read_cpu_s=$("$driver" read "$file" $chunk 1 2>&1 >/dev/null | awk '{print $5}')
  record read_cpu_s "$read_cpu_s"
  echo "${kernel_line##* }" >"$work/kernel_name"
  cli_stats=$(timed "$cli" stats "$file")
  "$cli" stats "$file" >"$work/cli-stats.txt"
  record read_s "$read_s"
  record stats_s "$stats_s"
  record stats_cpu_s "$(awk '{print $5}' <<<"$stats_line")"
  record stats_threads "$(awk '{print $4}' <<<"$stats_line")"
  # The same ratio from CPU time, as if each thread had a core of its own:
  # other programs on the machine move it far less than the times above,
  # though their use of the memory makes reading's share look a little
  # larger than on an idle machine.
  record stats_read_cpu "$(ratio "$read_cpu_s" "$(awk '{print $5 / $4}' <<<"$stats_line")")"
  record stats_read "$(ratio "$read_s" "$stats_s")"
  record stats_one_thread_read "$(ratio "$read_s" "$one_thread_s")"
  record cli_stats_read "$(ratio "$read_s" "${cli_stats% *}")"
  record cli_stats_peak_mib "$(ratio "${cli_stats#* }" 1024)"
  if [[ $has_taskset == yes ]]; then
    # Pinned to one core: the threads share it. Against one thread there.
    pinned_s=$(taskset -c 0 "$driver" stats "$file" $chunk 1 2>&1 >/dev/null | awk '{print $3}')
    pinned_one_s=$(taskset -c 0 "$driver" stats "$file" $chunk 1 1 2>&1 >/dev/null | awk '{print $3}')
    record one_core "$(ratio "$pinned_one_s" "$pinned_s")"
    # The same against only reading, both pinned there: what reading leaves
    # of one core once the counting has to share it.
    pinned_read_s=$(taskset -c 0 "$driver" read "$file" $chunk 1 2>&1 >/dev/null | awk '{print $3}')
    record one_core_read "$(ratio "$pinned_read_s" "$pinned_s")"
    # One thread on one core, against what the kernel alone does there.
    pinned_kernel_s=$(taskset -c 0 "$driver" kernel "$file" $chunk 1 2>&1 >/dev/null | awk '{print $3}')
    record one_core_kernel "$(ratio "$pinned_kernel_s" "$pinned_one_s")"
  fi
  if [[ $has_ent == yes ]]; then
    ent_run=$(timed ent "$file")
    record stats_ent "$(ratio "${ent_run% *}" "$stats_s")"
    record cli_stats_ent "$(ratio "${ent_run% *}" "${cli_stats% *}")"
    if [[ $round -eq $rounds ]]; then ent "$file" >"$work/ent.txt"; fi
  fi

  # Encryption against the in-place loops, synced, on the disk.
  loop_run=$(timed "$loop" "$file" --sync)
  journal_run=$(timed "$loop" "$file" --journal)
  encrypt_run=$(timed "$cli" encrypt --format classic "$file" <<<"$key")
  decrypt_run=$(timed "$cli" decrypt "$(encrypted_name)" <<<"$key")
  [[ -f $file ]] || { echo "decrypt did not bring back $file" >&2; exit 1; }
  record loop_s "${loop_run% *}"
  record journal_loop_s "${journal_run% *}"
  record encrypt_s "${encrypt_run% *}"
  record encrypt_plain "$(ratio "${loop_run% *}" "${encrypt_run% *}")"
  record decrypt_plain "$(ratio "${loop_run% *}" "${decrypt_run% *}")"
  record encrypt_journal "$(ratio "${journal_run% *}" "${encrypt_run% *}")"
  record journal_plain "$(ratio "${loop_run% *}" "${journal_run% *}")"
  record encrypt_peak_mib "$(ratio "${encrypt_run#* }" 1024)"

  # Secure erase against shred, each on its own synced copy.
  cp "$file" "$work/erase.bin"
  cp "$file" "$work/shred.bin"
  sync "$work/erase.bin" "$work/shred.bin"
  erase_run=$(timed "$cli" erase --yes "$work/erase.bin")
  shred_run=$(timed shred -n 1 -u "$work/shred.bin")
  [[ ! -e $work/erase.bin && ! -e $work/shred.bin ]] || { echo "a copy was not erased" >&2; exit 1; }
  record erase_s "${erase_run% *}"
  record erase_shred "$(ratio "${shred_run% *}" "${erase_run% *}")"
done

# spread NAME: "min median max" of a figure's rounds.
spread() {
  sort -g "$work/values/$1" | awk '{ v[NR] = $1 } END {
    printf "%s %s %s", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR] }'
}
# row LABEL NAME TARGET [NOTE]: one line of the table, if the figure was measured.
row() {
  [[ -s $work/values/$2 ]] || return 0
  local values
  read -r -a values <<<"$(spread "$2")"
  printf "%-46s %9.3f %9.3f %9.3f  %-10s %s\n" "$1" "${values[0]}" "${values[1]}" "${values[2]}" "$3" "${4:-}"
}

echo
echo "Quorvant benchmarks, $(date '+%Y-%m-%d %H:%M'), $rounds rounds on one 1 GiB file"
echo "cores: $(nproc) usable, $(nproc --all) in the machine ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))"
echo "load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [[ -s $work/values/stats_threads ]]; then echo "statistics threads: $(spread stats_threads | cut -d' ' -f2)"; fi
if [[ -s $work/kernel_name ]]; then echo "statistics counting kernel: $(cat "$work/kernel_name")"; fi
echo
echo "Speed ratios (higher is faster)                      min    median       max  target"
row "cipher / memcpy" cipher_memcpy ">= 0.5"
row "cipher / plain copy loop" cipher_copy_loop ""
# Every run keeps a journal now, whose durable copy of each window's old
# bytes costs about 0.55 of the plain loop by itself: the journaled loop
# below is what a run is measured against; these two rows show the price.
row "encrypt / plain in-place loop, synced" encrypt_plain ""
row "decrypt / plain in-place loop, synced" decrypt_plain ""
# ------------------------------------------------------------------------
# Encrypt, which keeps a journal, against the journaled in-place loop.
row "encrypt / journaled in-place loop" encrypt_journal ">= 0.92" ""
# ------------------------------------------------------------------------
row "journaled loop / plain loop (journal's price)" journal_plain ""
row "stats / plain read (1 MiB preads)" stats_read ">= 0.45" "(moonshot 0.6)"
row "stats / plain read, by CPU time per thread" stats_read_cpu "" "(less moved by other load)"
row "stats on one thread (as before) / plain read" stats_one_thread_read ""
row "quorvant-cli stats / plain read" cli_stats_read ""
row "one core: stats threads / one thread" one_core ">= 1" "(taskset -c 0)"
row "one core: stats / plain read" one_core_read "" "(taskset -c 0)"
row "one core: stats / kernel alone in memory" one_core_kernel ">= 0.9" "(taskset -c 0, one thread)"
row "stats: times faster than ent" stats_ent ">= 25"
row "quorvant-cli stats: times faster than ent" cli_stats_ent ""
row "erase: times faster than shred -n 1 -u" erase_shred ""
[[ $has_ent == yes || $general_rounds -eq 0 ]] || echo "(ent is not installed: apt-get install ent)"
echo
echo "Times and memory                                     min    median       max"
row "plain read, s" read_s ""
row "stats, s" stats_s ""
row "stats, CPU s of all threads" stats_cpu_s ""
row "stats kernel alone in memory, CPU s" kernel_cpu_s ""
row "plain read, CPU s" read_cpu_s ""
row "stats, GB/s" stats_gbs ""
row "stats kernel alone in memory, GB/s" kernel_gbs ""
row "plain read, GB/s" read_gbs ""
row "plain in-place loop, synced, s" loop_s ""
row "journaled in-place loop, s" journal_loop_s ""
row "quorvant-cli encrypt, s" encrypt_s ""
row "quorvant-cli erase, s" erase_s ""
row "cipher, GB/s" cipher_gbs ""
# The key check's Argon2id derivation maps 32 MiB of its own for ~0.1 s; the
# file run itself stays within a few MiB of chunk buffers.
row "quorvant-cli encrypt peak memory, MiB" encrypt_peak_mib "< 40"
row "quorvant-cli stats peak memory, MiB" cli_stats_peak_mib ""

if [[ $has_ent == yes ]]; then
  # The figures both print, last round: the same text, or within ent's last digit.
  echo
  echo "Figures against ent (Monte Carlo: ent uses other byte groups, not expected to agree)"
  ours() { grep "^$1" "$work/cli-stats.txt" | head -1 | sed "s/^$1//" | tr -d ' '; }
  compare() {
    awk -v n="$1" -v a="$2" -v b="$3" -v u="$4" 'BEGIN {
      d = a - b; if (d < 0) d = -d
      verdict = (a == b) ? "same text" : (d <= u * 1.0000001 ? "within one last digit" : "DIFFERENT")
      printf "  %-20s ours %-14s ent %-14s %s\n", n, a, b, verdict }'
  }
  compare "entropy" "$(ours 'Entropy ')" "$(sed -n 's/^Entropy = \([0-9.]*\) bits.*/\1/p' "$work/ent.txt")" 0.000001
  compare "chi square" "$(ours 'Chi square ')" \
    "$(sed -n 's/^Chi square distribution for [0-9]* samples is \([0-9.]*\),.*/\1/p' "$work/ent.txt")" 0.01
  compare "arithmetic mean" "$(ours 'Aritmetic mean ')" \
    "$(sed -n 's/^Arithmetic mean value of data bytes is \([0-9.]*\) .*/\1/p' "$work/ent.txt")" 0.0001
  compare "serial correlation" "$(ours 'Serial correlation ')" \
    "$(sed -n 's/^Serial correlation coefficient is \([-0-9.]*\) .*/\1/p' "$work/ent.txt")" 0.000001
  compare "monte carlo pi" "$(ours 'Monte carlo pi ')" \
    "$(sed -n 's/^Monte Carlo value for Pi is \([0-9.]*\) .*/\1/p' "$work/ent.txt")" 0.000000001
fi

# --- The strong format -------------------------------------------------------
# Its own rounds on the same 1 GiB file, each figure against its baseline
# measured in the same round, the two taking turns at going first:
#   strong encrypt, decrypt / journaled loop   quorvant-cli encrypt (strong, the
#       default key derivation of 3 passes and 256 MiB included) and decrypt
#       (which checks every chunk before it changes any), synced, against the
#       journaled in-place loop
#   verify / plain read    quorvant-cli verify (key derivation included) against
#       dd reading the file in 4 MiB blocks, as verify reads it: from the disk
#       (the file's pages dropped from the page cache first, with dd's
#       nocache, which touches no other file's) and from the page cache
#   and each of these less the command's fixed cost: verify of a 1-byte strong
#       file, timed in the same round (the key derivation, about a second, and
#       the start-up), which the rows "less key derivation" take off
# Another 3 GiB or so written per round.
strong_name() {
  local names=("$work"/big.bin\ *\])
  [[ ${#names[@]} -eq 1 && -f ${names[0]} ]] || { echo "no single strong file in $work" >&2; exit 1; }
  echo "${names[0]}"
}
uncache() { dd if="$1" iflag=nocache count=0 status=none; }
head -c 1 /dev/urandom >"$work/tiny"
"$cli" encrypt "$work/tiny" <<<"$key" >/dev/null
tiny=("$work"/tiny\ *\])
# minus SECONDS FIXED: what is left of SECONDS once FIXED is taken off.
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a - b }'; }
# strong_reads NAME FIRST SECOND: verify and a plain read of the strong file,
# FIRST and SECOND ("verify" and "read" in either order), from the disk and
# then from the page cache.
strong_reads() {
  local name=$1 where tool verify_run read_run
  for where in disk cache; do
    [[ $where == cache ]] && cat "$name" >/dev/null
    for tool in "$2" "$3"; do
      [[ $where == disk ]] && uncache "$name"
      if [[ $tool == verify ]]; then
        verify_run=$(timed "$cli" verify "$name" <<<"$key")
      else
        read_run=$(timed dd if="$name" of=/dev/null bs=4M status=none)
      fi
    done
    record "strong_verify_${where}_s" "${verify_run% *}"
    record "strong_read_${where}_s" "${read_run% *}"
    record "strong_verify_read_$where" "$(ratio "${read_run% *}" "${verify_run% *}")"
    record "strong_verify_less_read_$where" "$(ratio "${read_run% *}" "$(minus "${verify_run% *}" "$fixed_s")")"
  done
}
for ((round = 1; round <= rounds; round++)); do
  echo "Strong format, round $round of $rounds ..." >&2
  fixed_s=$(timed "$cli" verify "${tiny[0]}" <<<"$key")
  fixed_s=${fixed_s% *}
  record strong_fixed_s "$fixed_s"
  if ((round % 2)); then
    journal_run=$(timed "$loop" "$file" --journal)
    encrypt_run=$(timed "$cli" encrypt "$file" <<<"$key")
    strong_reads "$(strong_name)" verify read
    decrypt_run=$(timed "$cli" decrypt "$(strong_name)" <<<"$key")
  else
    encrypt_run=$(timed "$cli" encrypt "$file" <<<"$key")
    strong_reads "$(strong_name)" read verify
    decrypt_run=$(timed "$cli" decrypt "$(strong_name)" <<<"$key")
    journal_run=$(timed "$loop" "$file" --journal)
  fi
  [[ -f $file ]] || { echo "strong decrypt did not bring back $file" >&2; exit 1; }
  record strong_journal_loop_s "${journal_run% *}"
  record strong_encrypt_s "${encrypt_run% *}"
  record strong_decrypt_s "${decrypt_run% *}"
  record strong_encrypt_journal "$(ratio "${journal_run% *}" "${encrypt_run% *}")"
  record strong_decrypt_journal "$(ratio "${journal_run% *}" "${decrypt_run% *}")"
  record strong_encrypt_less_journal "$(ratio "${journal_run% *}" "$(minus "${encrypt_run% *}" "$fixed_s")")"
  record strong_decrypt_less_journal "$(ratio "${journal_run% *}" "$(minus "${decrypt_run% *}" "$fixed_s")")"
  record strong_encrypt_peak_mib "$(ratio "${encrypt_run#* }" 1024)"
  record strong_decrypt_peak_mib "$(ratio "${decrypt_run#* }" 1024)"
done
echo
echo "Strong format ($rounds rounds, same file)                min    median       max  target"
row "strong encrypt / journaled in-place loop" strong_encrypt_journal ">= 0.8"
row "strong decrypt / journaled in-place loop" strong_decrypt_journal ">= 0.8"
row "verify / plain read, from the disk" strong_verify_read_disk ">= 0.8" "(dd bs=4M)"
row "verify / plain read, from the page cache" strong_verify_read_cache ""
row "strong encrypt less key derivation / loop" strong_encrypt_less_journal ""
row "strong decrypt less key derivation / loop" strong_decrypt_less_journal ""
row "verify less key derivation / read, disk" strong_verify_less_read_disk ""
row "verify less key derivation / read, cache" strong_verify_less_read_cache ""
row "journaled in-place loop, s" strong_journal_loop_s ""
row "quorvant-cli encrypt (strong), s" strong_encrypt_s ""
row "quorvant-cli decrypt (strong), s" strong_decrypt_s ""
row "quorvant-cli verify from the disk, s" strong_verify_disk_s ""
row "plain read from the disk, s" strong_read_disk_s ""
row "quorvant-cli verify from the page cache, s" strong_verify_cache_s ""
row "plain read from the page cache, s" strong_read_cache_s ""
row "verify of a 1-byte file (key derivation), s" strong_fixed_s ""
# Argon2id's 256 MiB, held once per command, and the run's chunk buffers.
row "quorvant-cli encrypt (strong) peak memory, MiB" strong_encrypt_peak_mib "< 300"
row "quorvant-cli decrypt (strong) peak memory, MiB" strong_decrypt_peak_mib "< 300"
# ------------------------------------------------------------------------------

# Many small files with one key, in a folder of their own under the same
# parent as the big file.
if [[ $only != strong ]]; then
  echo
  ROUNDS=$rounds BENCH_TMP=${BENCH_TMP:-/tmp} "$source_folder/bench/crypto/many_files.sh" "$build"
fi
echo
echo "Run time: $(($(date +%s) - started)) s"
