#!/usr/bin/env bash
# Sets everything up and starts sdvoice (under Xvfb when there is no display).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup-deps.sh
scripts/build.sh --target sdvoice voctool
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" build/sdvoice
fi
exec build/sdvoice
