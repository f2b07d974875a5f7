#!/usr/bin/env bash
# Builds the .deb from a finished build tree, unpacks it into a temporary root
# and checks what it holds (programs, menu entry, icons, metainfo, manual
# pages, completion, copyright, changelog), that the packaged command-line
# tool runs, what the package declares, and what lintian says of it. The
# validators (desktop-file-validate, appstreamcli, identify, man, lintian) are
# used where they are installed.
#   package_test.sh CPACK BUILD_FOLDER [SANITIZERS]
# Exit status 77 (skipped) where dpkg-deb is missing, or when the build has
# sanitizers: packages are made from plain builds.
set -euo pipefail
cpack=$1
build=$2
sanitizers=${3:-}

if [[ -n "$sanitizers" ]]; then
  echo "built with sanitizers ($sanitizers): package test skipped"
  exit 77
fi

if ! command -v dpkg-deb >/dev/null; then
  echo "dpkg-deb not found: package test skipped"
  exit 77
fi

work=$(mktemp -d /tmp/quorvant-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
shopt -s nullglob
debs=("$work"/out/quorvant_*.deb)
if ((${#debs[@]} != 1)); then
  ls -l "$work/out" >&2
  echo "FAIL: expected one quorvant_*.deb, found ${#debs[@]}" >&2
  exit 1
fi
deb=${debs[0]}
root=$work/root
dpkg-deb -x "$deb" "$root"

# What it holds.
for program in usr/bin/quorvant usr/bin/quorvant-cli; do
  [[ -f "$root/$program" && -x "$root/$program" ]] || fail "$program missing or not executable"
done
app_id=org.quorvant.Quorvant
desktop=$root/usr/share/applications/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
icons=$root/usr/share/icons/hicolor
doc=$root/usr/share/doc/quorvant
completion=$root/usr/share/bash-completion/completions/quorvant-cli
[[ -s "$icons/scalable/apps/quorvant.svg" ]] || fail "SVG icon missing"

# The menu entry names the installed program and icon, hands the folder it is
# given to the program, and claims no file types: as the default program for
# folders it would open any folder where Del twice erases a file.
if [[ -f "$desktop" ]]; then
  grep -q '^Exec=.*exec quorvant.* %f$' "$desktop" || fail "desktop Exec does not start quorvant on %f"
  grep -q '^Icon=quorvant$' "$desktop" || fail "desktop Icon is not quorvant"
  grep -q '^MimeType=' "$desktop" && fail "desktop entry claims file types: $(grep '^MimeType=' "$desktop")"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" >&2 || fail "desktop-file-validate rejects $(basename "$desktop")"
  fi
else
  fail "desktop file $app_id.desktop missing"
fi

# The icon at each bitmap size: a PNG of that size whose corner is see-through.
for size in 16 32 48 64 128 256; do
  png=$icons/${size}x$size/apps/quorvant.png
  if [[ ! -s "$png" ]]; then
    fail "icon ${size}x$size missing"
  elif command -v identify >/dev/null; then
    facts=$(identify -format '%m %w %h %[fx:p{w-1,0}.a]' "$png" 2>&1) || true
    [[ $facts == "PNG $size $size 0" ]] || fail "icon ${size}x$size: format, size, top-right alpha are '$facts'"
  fi
done

# What software centres read: valid, naming the menu entry and both programs.
if [[ -f "$metainfo" ]]; then
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "metainfo does not launch $app_id.desktop"
  for program in quorvant quorvant-cli; do
    grep -q "<binary>$program</binary>" "$metainfo" || fail "metainfo does not provide $program"
  done
  if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
      { cat "$work/appstream.log" >&2; fail "appstreamcli validate rejects the metainfo"; }
    # The whole tree: the metainfo with the menu entry and icon it names.
    appstreamcli validate-tree --no-net "$root" >"$work/appstream-tree.log" 2>&1 ||
      { cat "$work/appstream-tree.log" >&2; fail "appstreamcli validate-tree rejects the package"; }
  fi
else
  fail "metainfo $app_id.metainfo.xml missing"
fi

# The manual pages: compressed without a name or time stamp, and each the
# page of its program.
for page in quorvant quorvant-cli; do
  file=$root/usr/share/man/man1/$page.1.gz
  if [[ ! -s "$file" ]]; then
    fail "manual page $page.1.gz missing"
    continue
  fi
  # gzip header: byte 3 the flags (8: a name is stored), bytes 4-7 the time.
  header=$(od -An -tu1 -j3 -N5 "$file" | tr -s ' ')
  [[ $header == " 0 0 0 0 0" ]] || fail "$page.1.gz stores a name or time stamp (flags and time:$header)"
  text=$(gzip -dc "$file") || fail "$page.1.gz does not decompress"
  grep -q "^\.TH \"$page\" \"1\"" <<<"$text" || fail "$page.1.gz is not the page of $page"
  if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || true
    [[ -z $warnings ]] || fail "man finds faults in $page.1.gz: $warnings"
  fi
done
if [[ -s "$root/usr/share/man/man1/quorvant-cli.1.gz" ]]; then
  # The page's text without the roff escapes for fonts and word ends.
  cli_page=$(gzip -dc "$root/usr/share/man/man1/quorvant-cli.1.gz" | sed -e 's/\\&//g' -e 's/\\f[BIRP]//g')
  for word in encrypt decrypt resume erase stats verify force undo yes counts json format strong classic version help \
    user.quorvant.keycheck 'EXIT STATUS' ENVIRONMENT FILES; do
    grep -q -- "$word" <<<"$cli_page" || fail "quorvant-cli.1 does not mention $word"
  done
fi

# The completion, where bash-completion looks for it, registers itself.
if [[ -f "$completion" ]]; then
  bash -c 'source "$1" && complete -p quorvant-cli' _ "$completion" >/dev/null 2>&1 ||
    fail "the packaged completion does not register for quorvant-cli"
else
  fail "bash completion for quorvant-cli missing"
fi

# Copyright in Debian's machine-readable form, with both licence texts.
if [[ -f "$doc/copyright" ]]; then
  head -1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright is not in the machine-readable format"
  for text in '^Files: \*$' '^License: Expat$' '^License: OFL-1.1$' 'Liberation Sans Bold' \
    'Permission is hereby granted' 'SIL OPEN FONT LICENSE Version 1.1'; do
    grep -q "$text" "$doc/copyright" || fail "copyright lacks '$text'"
  done
else
  fail "usr/share/doc/quorvant/copyright missing"
fi

# The packaged tool runs.
if help=$("$root/usr/bin/quorvant-cli" --help 2>&1); then
  for word in encrypt decrypt; do
    grep -q "$word" <<<"$help" || fail "quorvant-cli --help does not mention $word"
  done
else
  fail "quorvant-cli --help exited with status $?"
fi

# What it declares.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quorvant ]] || fail "Package is '$(field Package)'"
[[ $(field Section) == utils ]] || fail "Section is '$(field Section)'"
[[ -n $(field Maintainer) ]] || fail "no Maintainer"
depends=$(field Depends)
for library in libsdl2 libfreetype6 libc6; do
  [[ $depends == *"$library"* ]] || fail "Depends does not name $library: $depends"
done
# One version throughout: the package, its changelog's latest entry and the
# metainfo's latest release.
version=$(field Version)
if [[ -f "$doc/changelog.gz" ]]; then
  latest=$(gzip -dc "$doc/changelog.gz" | head -1) || true
  [[ $latest == "quorvant ($version) "* ]] || fail "changelog begins '$latest', not version $version"
else
  fail "usr/share/doc/quorvant/changelog.gz missing"
fi
if [[ -f "$metainfo" ]]; then
  grep -m1 '<release ' "$metainfo" | grep -q "version=\"$version\"" ||
    fail "metainfo's latest release is not $version: $(grep -m1 '<release ' "$metainfo")"
fi
# Nothing of the build machine leaks into the package.
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -v '^\./$' | sed 's/^/unexpected path: /' >&2 \
  && fail "files outside /usr"

# What Debian's package checker finds: no error and no warning, no hardening
# missing, and no override that no longer matches anything. Its remaining
# notes at info and pedantic level are shown, not judged.
if command -v lintian >/dev/null; then
  lintian --pedantic --display-info "$deb" >"$work/lintian.log" 2>&1 || true
  grep -v 'running with root privileges' "$work/lintian.log" | sed 's/^/lintian: /' || true
  grep -E '^[EW]: |hardening-no-|unused-override|mismatched-override' "$work/lintian.log" >&2 &&
    fail "lintian complains"
else
  echo "lintian not installed: its checks skipped"
fi

if ((failures > 0)); then
  exit 1
fi
echo "package ok: $(basename "$deb") ($depends)"
