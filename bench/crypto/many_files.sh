#!/usr/bin/env bash
# Many small files with one key: `quorvant-cli encrypt *` and `decrypt *`
# over FILES files of 4 KiB, in the strong format and in the classic one
# (`encrypt --format classic`) in the same rounds, against `ccrypt -e` /
# `ccrypt -d` over copies of the same files followed by one `sync` (ccrypt
# syncs nothing itself, the tool makes each file durable). Reports files per
# second for each and the ratios, the median (and min / max) of ROUNDS
# rounds, the formats and tools taking turns at going first. The strong
# format's key derivation (about a second) is paid once per command, and is
# in its figures.
#
#   bench/crypto/many_files.sh [BUILD_FOLDER]      (default: build/default)
#
# Environment: FILES (default 1000), ROUNDS (default 5), CLI (the
# quorvant-cli to measure, default BUILD_FOLDER's), BASELINE_CLI (another
# build's quorvant-cli, measured in the same rounds for a before / after
# figure: run as `encrypt -- *`, which older builds understand),
# BASELINE_FORMAT (what that build's plain `encrypt` writes, so which of this
# build's formats it is set against: classic, the default, or strong), BENCH_TMP (default: BUILD_FOLDER). The files must be on a disk,
# not in memory: a tmpfs folder is refused, as its syncs cost nothing.
set -euo pipefail

source_folder=$(cd "$(dirname "$0")/../.." && pwd)
# Absolute: the rounds run their commands from inside the files' folder.
build=$(realpath -- "${1:-$source_folder/build/default}")
files=${FILES:-1000}
rounds=${ROUNDS:-5}
cli=$(realpath -- "${CLI:-$build/cli/quorvant-cli}")
baseline=${BASELINE_CLI:+$(realpath -- "$BASELINE_CLI")}
measure=$build/bench/crypto/run_measured
for tool in "$cli" "$measure" ${baseline:+"$baseline"}; do
  [[ -x $tool ]] || { echo "missing $tool: build the default preset first" >&2; exit 2; }
done
tmp_parent=${BENCH_TMP:-$build}
if [[ $(stat -f -c %T "$tmp_parent") == tmpfs ]]; then
  echo "$tmp_parent is a tmpfs: set BENCH_TMP to a folder on a disk" >&2
  exit 2
fi
has_ccrypt=$(command -v ccrypt >/dev/null && echo yes || echo no)

work=$(mktemp -d "$tmp_parent/quorvant-many-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/values" "$work/template"
key="many files key"

echo "Making $files files of 4 KiB in $work ..." >&2
for ((file = 0; file < files; ++file)); do printf 'file%05d.bin\n' "$file"; done |
  (cd "$work/template" && while read -r name; do head -c 4096 /dev/urandom >"$name"; done)
sync

record() { echo "$2" >>"$work/values/$1"; }
# seconds COMMAND...: its wall time (standard input passed on, output dropped).
seconds() { "$measure" "$@" 2>&1 >/dev/null | tail -n 1 | cut -d' ' -f1; }
rate() { awk -v n="$files" -v s="$1" 'BEGIN { printf "%.1f", n / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }
# fresh NAME: a synced copy of the files, so that writing the copy back is
# not counted in what follows.
fresh() {
  rm -rf "${work:?}/$1"
  cp -r "$work/template" "$work/$1"
  sync
}

# quorvant_round NAME CLI [ENCRYPT_OPTION]...
quorvant_round() {
  fresh q
  local encrypt decrypt
  encrypt=$(cd "$work/q" && seconds "$2" encrypt "${@:3}" -- * <<<"$key")
  decrypt=$(cd "$work/q" && seconds "$2" decrypt -- * <<<"$key")
  cmp -s <(cd "$work/q" && cat -- *) <(cd "$work/template" && cat -- *) ||
    { echo "$2 did not bring the files back" >&2; exit 1; }
  record "$1_encrypt" "$(rate "$encrypt")"
  record "$1_decrypt" "$(rate "$decrypt")"
}

# Both formats, classic first in odd rounds; then the baseline, if any.
quorvant_rounds() {
  if ((round % 2)); then
    quorvant_round classic "$cli" --format classic
    quorvant_round strong "$cli" --format strong
  else
    quorvant_round strong "$cli" --format strong
    quorvant_round classic "$cli" --format classic
  fi
  if [[ -n $baseline ]]; then quorvant_round baseline "$baseline"; fi
}

ccrypt_round() {
  fresh c
  local encrypt decrypt
  encrypt=$(cd "$work/c" && seconds bash -c 'ccrypt -e -f -K "$0" -- "$@" && sync' "$key" *)
  decrypt=$(cd "$work/c" && seconds bash -c 'ccrypt -d -f -K "$0" -- "$@" && sync' "$key" *)
  record ccrypt_encrypt "$(rate "$encrypt")"
  record ccrypt_decrypt "$(rate "$decrypt")"
}

for ((round = 1; round <= rounds; round++)); do
  echo "Round $round of $rounds ..." >&2
  if [[ $has_ccrypt == no ]]; then
    quorvant_rounds
  elif ((round % 2)); then
    quorvant_rounds
    ccrypt_round
  else
    ccrypt_round
    quorvant_rounds
  fi
done

# spread NAME: "min median max".
spread() {
  sort -g "$work/values/$1" | awk '{ v[NR] = $1 } END {
    printf "%s %s %s", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR] }'
}
median() { spread "$1" | cut -d' ' -f2; }
row() {
  local values
  read -r -a values <<<"$(spread "$2")"
  printf "%-46s %9.1f %9.1f %9.1f\n" "$1" "${values[0]}" "${values[1]}" "${values[2]}"
}

echo
echo "Many small files: $files files of 4 KiB, $rounds rounds, in $work"
echo "quorvant-cli: $cli"
echo "Files per second (higher is faster)                  min    median       max"
row "quorvant-cli encrypt --format classic *" classic_encrypt
row "quorvant-cli decrypt * (classic)" classic_decrypt
row "quorvant-cli encrypt * (strong)" strong_encrypt
row "quorvant-cli decrypt * (strong)" strong_decrypt
echo "encrypt: strong / classic (medians)              $(ratio "$(median strong_encrypt)" "$(median classic_encrypt)")"
echo "decrypt: strong / classic (medians)              $(ratio "$(median strong_decrypt)" "$(median classic_decrypt)")"
if [[ -n $baseline ]]; then
  against=${BASELINE_FORMAT:-classic}
  echo "baseline quorvant-cli: $baseline (writes $against)"
  row "baseline quorvant-cli encrypt *" baseline_encrypt
  row "baseline quorvant-cli decrypt *" baseline_decrypt
  echo "encrypt: quorvant-cli / baseline (medians)       $(ratio "$(median "${against}_encrypt")" "$(median baseline_encrypt)")"
  echo "decrypt: quorvant-cli / baseline (medians)       $(ratio "$(median "${against}_decrypt")" "$(median baseline_decrypt)")"
fi
if [[ $has_ccrypt == yes ]]; then
  row "ccrypt -e * && sync" ccrypt_encrypt
  row "ccrypt -d * && sync" ccrypt_decrypt
  for format in classic strong; do
    echo "encrypt: quorvant-cli $format / ccrypt (medians) $(ratio "$(median "${format}_encrypt")" "$(median ccrypt_encrypt)")"
    echo "decrypt: quorvant-cli $format / ccrypt (medians) $(ratio "$(median "${format}_decrypt")" "$(median ccrypt_decrypt)")"
  done
else
  echo "(ccrypt is not installed, so no comparison: apt-get install ccrypt)"
fi
