#!/usr/bin/env bash
# Configures a fresh build-default/ with CMake's default generator (Unix Makefiles, as a packager
# or an IDE runs CMake) and builds voctool, whose translation is a generated file in a folder of
# its own: rules that only Ninja gets right fail here.
#
#   scripts/ci-default-generator.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
build="build-default"
rm -rf "$build"
unset CMAKE_GENERATOR
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSDVOICE_BUILD_TESTS=OFF -DSDVOICE_BUILD_BENCH=OFF
cmake --build "$build" --parallel 2 --target voctool
"$build/tools/voctool" --help >/dev/null
