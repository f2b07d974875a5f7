#!/usr/bin/env bash
# The corpus for bench/crypto/judge_corpus.cpp, and its run:
#
#   bench/crypto/judge_corpus.sh [BUILD_FOLDER]   (default: build/default)
#
# Files of this machine: the 69 most common kinds (by extension, "(none)"
# counting as one) under /usr, /etc and /var, up to 70 of each taken evenly
# from the sorted list, 32 bytes and more; then every ZIP, wheel and PDF
# there, and JPEGs made from 70 of the PNGs (half of them progressive),
# since a Debian system holds almost no JPEG. The list depends on what is
# installed, so figures are comparable only between builds run on the same
# list: the list is kept in $CORPUS_LIST (default /tmp/judge_corpus.list)
# and reused when present.
set -euo pipefail

source_folder=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$source_folder/build/default}
list=${CORPUS_LIST:-/tmp/judge_corpus.list}
made=${CORPUS_MADE:-/tmp/judge_corpus_made}

if [[ ! -s $list ]]; then
  all=$(mktemp)
  find /usr /etc /var -xdev -type f -size +31c -readable 2>/dev/null |
    awk -F/ '{ name = $NF; kind = "(none)"
               if (match(name, /\.[^.]+$/) && RSTART > 1) kind = tolower(substr(name, RSTART + 1))
               print kind "\t" $0 }' | LC_ALL=C sort >"$all"
  kinds=$(cut -f1 "$all" | uniq -c | sort -rn | head -69 | awk '{ print $2 }')
  for kind in $kinds; do
    awk -F'\t' -v kind="$kind" '$1 == kind { print $2 }' "$all" |
      awk '{ line[NR] = $0 } END { step = NR / 70; if (step < 1) step = 1
             for (i = 1; i <= NR && i <= 70 * step; i += step) print line[int(i)] }'
  done >"$list"
  awk -F'\t' '$1 == "zip" || $1 == "whl" || $1 == "pdf" { print $2 }' "$all" >>"$list"
  mkdir -p "$made"
  awk -F'\t' '$1 == "png" { print $2 }' "$all" | awk 'NR % 60 == 1' | head -70 | {
    number=0
    while read -r png; do
      number=$((number + 1))
      interlace=None
      ((number % 2 == 0)) && interlace=JPEG
      convert "$png[0]" -background white -flatten -interlace "$interlace" -quality $((60 + number % 35)) \
        "$made/$number.jpg" 2>/dev/null && echo "$made/$number.jpg"
    done
  } >>"$list"
  rm -f "$all"
fi
echo "corpus: $list ($(wc -l <"$list") files)"
"$build/bench/crypto/judge_corpus" <"$list"
