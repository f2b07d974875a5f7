#!/usr/bin/env bash
# Installs the Debian packages Quorvant needs to build, test and run,
# skipping those already present. Needs root only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libx11-dev libfreetype-dev libpng-dev libsodium-dev libmagic-dev libxxhash-dev zlib1g-dev fonts-liberation2
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool imagemagick x11-utils
  dpkg-dev file
  scdoc bash-completion librsvg2-bin
  lintian appstream desktop-file-utils
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "These packages are missing: ${missing[*]}" >&2
  echo "Run this command as root to install them." >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
