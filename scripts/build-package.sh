#!/usr/bin/env bash
# Sets everything up, makes a Release build in build-package/ and packs it into a Debian package:
#   scripts/build-package.sh        -> build-package/sdvoice_VERSION_ARCH.deb
# Install it with: sudo apt-get install ./build-package/sdvoice_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
# Debian's compiler and linker flags: -O2 (they replace CMake's Release -O3), stack protector,
# fortified functions, full RELRO.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CFLAGS CXXFLAGS LDFLAGS
rm -f build-package/CMakeCache.txt # the flags above are read when the cache is made
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG -DSDVOICE_BUILD_TESTS=OFF -DSDVOICE_BUILD_BENCH=OFF
cmake --build build-package --parallel "$(nproc)"
cd build-package
rm -f sdvoice_*.deb
cpack -G DEB
../packaging/check-package.sh sdvoice_*.deb ../docs/guide
ls -1 "$PWD"/sdvoice_*.deb
