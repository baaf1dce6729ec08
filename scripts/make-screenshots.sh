#!/usr/bin/env bash
# Makes the user guide's pictures (docs/guide/*.png) again from the program's real windows:
# builds the screenshot maker and runs it under Xvfb with sample recordings, a private home and
# SDL's silent sound output.
#   scripts/make-screenshots.sh [BUILD_FOLDER]      (default: build)
# Where a private mount namespace can be made (as root), the card and the home folder show the
# paths a user sees (/media/wang/SDCARD/VOICE, /home/wang/录音); elsewhere they lie in /tmp.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target guide_screenshots
mkdir -p docs/guide

# take_pictures HOME CARD_FOLDER
take_pictures() {
  mkdir -p "$1"
  HOME=$1 XDG_CONFIG_HOME=$1/.config XDG_CACHE_HOME=$1/.cache XDG_DATA_HOME=$1/.local/share \
    SDL_AUDIODRIVER=dummy LC_ALL=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x800x24" "$build/docs/screenshots/guide_screenshots" docs/guide "$2" "$1/录音/第2批"
}

if unshare --mount --propagation private true 2>/dev/null; then
  export -f take_pictures
  export build
  exec unshare --mount --propagation private bash -euo pipefail -c '
    mount -t tmpfs sdvoice-guide /home
    mount -t tmpfs sdvoice-guide /media
    mkdir -p /media/wang/SDCARD
    mount -t tmpfs sdvoice-card /media/wang/SDCARD
    take_pictures /home/wang /media/wang/SDCARD/VOICE'
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/sdvoice-guide.XXXXXX")
trap 'rm -rf "$work"' EXIT
take_pictures "$work/home" "$work/card/VOICE"
