#!/usr/bin/env bash
# Builds the .deb from a finished build tree, unpacks it into a temporary root
# and checks what it holds, that the packaged command-line tool runs, and what
# the package declares.
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
desktop=$root/usr/share/applications/quorvant.desktop
icon=$root/usr/share/icons/hicolor/scalable/apps/quorvant.svg
[[ -f "$desktop" ]] || fail "desktop file missing"
[[ -s "$icon" ]] || fail "icon missing"
if [[ -f "$desktop" ]]; then
  # The menu entry names the installed program and icon, and opens folders.
  grep -q '^Exec=.*exec quorvant' "$desktop" || fail "desktop Exec does not start quorvant"
  grep -q '^Icon=quorvant$' "$desktop" || fail "desktop Icon is not quorvant"
  grep -q '^MimeType=.*inode/directory' "$desktop" || fail "desktop entry does not open folders"
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
# Nothing of the build machine leaks into the package.
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -v '^\./$' | sed 's/^/unexpected path: /' >&2 \
  && fail "files outside /usr"

if ((failures > 0)); then
  exit 1
fi
echo "package ok: $(basename "$deb") ($depends)"
