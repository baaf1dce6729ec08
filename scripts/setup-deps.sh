#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing sdvoice need.
# Only missing packages are installed; a second run does nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-translations-l10n libsdl2-dev
  libgtest-dev libgmock-dev
  fonts-noto-cjk xvfb xauth
  dosfstools mtools fusefat
  pulseaudio pulseaudio-utils sndfile-programs sox espeak-ng
  clang libclang-rt-dev  # the libFuzzer targets in fuzz/
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
else
  as_root=(sudo)
fi
"${as_root[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
