#!/usr/bin/env bash
# The bash completion of quorvant-cli, sourced into this shell and asked as
# bash would ask it: once on its own, and once on top of bash-completion's
# helpers where that package is installed (which is how it runs for users).
#   completion_test.sh COMPLETION_FILE
set -uo pipefail
completion=$(realpath -- "$1")

work=$(mktemp -d /tmp/quorvant-completion-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir docs
touch -- report.txt 'report.txt k3VqZ8a[' 'report.txt k3VqZ8a]' -odd docs/inner.txt

failures=0
fail() {
  echo "FAIL ($mode): $*" >&2
  failures=$((failures + 1))
}

# Completes LINE as typed up to its end; the candidates land in COMPREPLY.
complete_line() {
  local line=$1
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _quorvant_cli quorvant-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
}

# expect LINE WORD...: the candidates are exactly these, in any order.
expect() {
  local line=$1
  shift
  complete_line "$line"
  local got want
  got=$(printf '%s\n' "${COMPREPLY[@]+"${COMPREPLY[@]}"}" | sed 's:/$::' | sort)
  want=$(printf '%s\n' "$@" | sort)
  [[ $got == "$want" ]] || fail "'$line' gave [${got//$'\n'/|}], not [${want//$'\n'/|}]"
}

check_all() {
  # The commands, and the options that stand alone.
  expect 'quorvant-cli ' encrypt decrypt convert resume erase stats verify --help --version
  expect 'quorvant-cli de' decrypt
  expect 'quorvant-cli --' --help --version
  # Each command's own options.
  expect 'quorvant-cli encrypt -' --format --force --help --
  expect 'quorvant-cli encrypt --f' --format --force
  # encrypt --format takes one of the two formats, then files again; after
  # "--" it is a file's name like any other.
  expect 'quorvant-cli encrypt --format ' strong classic
  expect 'quorvant-cli encrypt --format c' classic
  expect 'quorvant-cli encrypt report.txt --format s' strong
  expect 'quorvant-cli encrypt --format x'
  expect 'quorvant-cli encrypt --format classic rep' report.txt 'report.txt k3VqZ8a[' 'report.txt k3VqZ8a]'
  expect 'quorvant-cli encrypt -- --format rep' report.txt 'report.txt k3VqZ8a[' 'report.txt k3VqZ8a]'
  expect 'quorvant-cli decrypt -' --force --help --
  expect 'quorvant-cli convert -' --force --help --
  expect 'quorvant-cli resume --u' --undo
  expect 'quorvant-cli resume -' --undo --list --forget --journal --yes -y --help --
  expect 'quorvant-cli resume --j' --journal
  # resume --list takes a folder; --journal and --forget, files.
  expect 'quorvant-cli resume --list ' docs
  expect 'quorvant-cli resume --journal rep' report.txt 'report.txt k3VqZ8a[' 'report.txt k3VqZ8a]'
  expect 'quorvant-cli resume --forget rep' report.txt 'report.txt k3VqZ8a[' 'report.txt k3VqZ8a]'
  expect 'quorvant-cli erase -' --yes -y --help --
  expect 'quorvant-cli stats --c' --counts
  expect 'quorvant-cli stats report.txt --j' --json
  expect 'quorvant-cli verify -' --help --
  expect 'quorvant-cli encrypt --y'
  # File names, the encrypted ones with their space and "[" or "]" as one
  # candidate each, and folders to go into.
  expect 'quorvant-cli decrypt rep' report.txt 'report.txt k3VqZ8a[' 'report.txt k3VqZ8a]'
  expect 'quorvant-cli verify rep' report.txt 'report.txt k3VqZ8a[' 'report.txt k3VqZ8a]'
  expect 'quorvant-cli encrypt --yes d' docs
  expect 'quorvant-cli stats docs/' docs/inner.txt
  # After "--" a word beginning with "-" is a file.
  expect 'quorvant-cli erase -- -' -odd
  # Nothing follows --help, --version or an unknown command.
  expect 'quorvant-cli --version '
  expect 'quorvant-cli bogus rep'
}

unset -f _init_completion _filedir 2>/dev/null
# shellcheck source=/dev/null
source "$completion"
[[ $(complete -p quorvant-cli 2>/dev/null) == *'-F _quorvant_cli'* ]] || {
  echo "FAIL: $completion does not register a completion for quorvant-cli" >&2
  exit 1
}
mode=plain
check_all

helpers=/usr/share/bash-completion/bash_completion
if [[ -r $helpers ]]; then
  # shellcheck source=/dev/null
  source "$helpers"
  source "$completion"
  mode=bash-completion
  check_all
else
  echo "bash-completion not installed: checked without its helpers only"
fi

if ((failures > 0)); then
  exit 1
fi
echo "completion ok"
