#!/usr/bin/env bash
# Builds the logic tests (every test but the window tests in tests/gui/) with AddressSanitizer
# and UndefinedBehaviorSanitizer into build-asan/ and runs them with CTest. The first sanitizer
# report ends the test process with a failure. Extra arguments go to ctest.
#
#   scripts/ci-asan.sh [CTEST_ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
scripts/setup-deps.sh
build="build-asan"

# Debug (-O0 -g): the sanitizers find as much without optimisation, and the build takes about a
# quarter of the compile time of -O2 with them. _GLIBCXX_ASSERTIONS adds the standard library's
# bounds checks (operator[] of vector, string, array, ...), which ASan cannot see while an index
# stays inside a container's capacity.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-D_GLIBCXX_ASSERTIONS \
  -DSDVOICE_ASAN=ON -DSDVOICE_BUILD_TESTS=ON -DSDVOICE_BUILD_BENCH=OFF

# Tests that are not run here:
#  - gui_*: the window tests; they need sdvoice_ui and a QApplication and stay in the plain build.
#  - layout_*: the layout script and its test, the same in every build.
excluded='^(gui_.*|layout_.*)$'

# The logic tests are the registered tests that are also build targets (<group>_<test_name>).
mapfile -t registered < <(ctest --test-dir "$build" -N | sed -n 's/^ *Test *#[0-9]*: *//p')
mapfile -t phony < <(ninja -C "$build" -t targets all | sed -n 's/: phony$//p')
declare -A is_target=()
for target in "${phony[@]}"; do is_target[$target]=1; done
targets=()
for name in "${registered[@]}"; do
  if [[ ! "$name" =~ $excluded ]] && [ -n "${is_target[$name]:-}" ]; then
    targets+=("$name")
  fi
done
[ ${#targets[@]} -gt 0 ] || { echo "ci-asan: no logic tests registered in $build" >&2; exit 1; }
# tools_test_voctool runs the voctool built beside the tests.
if [ -n "${is_target[voctool]:-}" ]; then
  targets+=(voctool)
fi

echo "Building ${#targets[@]} targets with -fsanitize=address,undefined: ${targets[*]}"
cmake --build "$build" --parallel 2 --target "${targets[@]}"

# UBSan only reports and goes on unless told to halt. LeakSanitizer runs at every test
# process's exit; scripts/lsan.supp names the leaks of system libraries it must not report.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:print_summary=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:print_summary=1
export LSAN_OPTIONS=suppressions=$repo/scripts/lsan.supp:print_suppressions=0

# Two at a time: the logic tests use temporary folders and free ports of their own.
ctest --test-dir "$build" --output-on-failure --timeout 600 -j2 -E "$excluded" "$@"
