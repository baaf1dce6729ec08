#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing sdvoice need.
# Only missing packages are installed; a second run does nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-translations-l10n libsdl2-dev
  qt6-l10n-tools qt6-tools-dev  # lupdate, lrelease and their CMake functions: voctool's Chinese texts
  libc-l10n locales  # the system's reasons in Chinese, and localedef for the test that reads them
  qt6-charts-dev libqt6opengl6-dev  # the charts of the call statistics (Qt6Charts's CMake package needs Qt6OpenGL's)
  libgtest-dev libgmock-dev
  fonts-noto-cjk xvfb xauth
  dosfstools mtools fusefat
  pulseaudio pulseaudio-utils sndfile-programs sox espeak-ng
  clang libclang-rt-dev  # the libFuzzer targets in fuzz/
  libxlsxwriter-dev zlib1g-dev python3-openpyxl  # the spreadsheet export and the reader its tests check it with
  libsndfile1-dev  # saving a call as WAV, FLAC, MP3 or Opus with its details
  ffmpeg  # ffprobe and ffmpeg read the saved calls back in tests: a reader that is not libsndfile
  curl  # fetches a page of sdvoice-web over HTTPS in its tests
  libqt6sql6-sqlite libqt6sql6-psql postgresql  # the archive index; its tests start a throw-away PostgreSQL
  libsqlite3-dev  # the folder cache's bulk statements on the SQLite driver's own connection
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0 dbus dbus-x11  # the end-to-end test through the accessibility bus
  desktop-file-utils appstream lintian dpkg-dev fakeroot file librsvg2-bin  # the Debian package and its checks
  python3-markdown  # the user guide made into HTML when building
  libmicrohttpd-dev libgnutls28-dev libsodium-dev  # sdvoice-web: its HTTPS server, certificate and password hashes
  openssl  # s_client tries the protocols and suites sdvoice-web accepts in its tests
  libssl-dev  # SHA-256 fingerprints of the archived recordings (OpenSSL's digest)
  libzip-dev unzip  # the signed evidence package of a call, and a reader in its tests that is not libzip
  chromium chromium-driver python3-selenium wrk  # the web pages driven in a real browser, and the load run by hand
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
