#!/usr/bin/env bash
# Builds voctool and bench_convert into BUILD (default build/) and runs the conversion benchmark:
# voctool convert against sndfile-convert and sox on a one-hour recording, one run each.
# Usage: bench/bench_convert.sh [BUILD [FOLDER]]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target voctool bench_convert
for tool in sndfile-convert sox /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench_convert: $tool is missing" >&2; exit 1; }
done
exec "$build/bench/bench_convert" "$(realpath "$build/tools/voctool")" ${2:+"$2"}
