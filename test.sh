#!/usr/bin/env bash
# Sets everything up, builds and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup-deps.sh
scripts/build.sh
cd build
exec ctest --output-on-failure --timeout 600 "$@"
