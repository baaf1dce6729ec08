#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and gives each one a short run
# (60 seconds by default) from a copy of its seeds in fuzz/corpus/<name without fuzz_>/.
# The copies and anything the runs write live in a temporary folder, never in the repository.
# Fails when a target crashes, leaks, hangs or trips a sanitizer; the input that did it is
# printed in base64 so that it can be replayed from the log alone.
#
#   scripts/ci-fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
scripts/setup-deps.sh
build="build-fuzz"
seconds=${1:-60}
case "$seconds" in '' | *[!0-9]*) echo "usage: $0 [SECONDS_PER_TARGET]" >&2; exit 2 ;; esac

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSDVOICE_FUZZ=ON -DSDVOICE_BUILD_TESTS=OFF -DSDVOICE_BUILD_BENCH=OFF

# fuzz/CMakeLists.txt makes one target of every fuzz/fuzz_*.cpp.
targets=()
for source in fuzz/fuzz_*.cpp; do
  [ -e "$source" ] && targets+=("$(basename "$source" .cpp)")
done
[ ${#targets[@]} -gt 0 ] || { echo "ci-fuzz: no fuzz/fuzz_*.cpp" >&2; exit 1; }
echo "Building ${#targets[@]} fuzz targets with clang: ${targets[*]}"
cmake --build "$build" --parallel 2 --target "${targets[@]}"

work=$(mktemp -d "${TMPDIR:-/tmp}/sdvoice-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Stack traces name functions through llvm-symbolizer when it is installed, else through
# binutils' addr2line (which clang pulls in).
export ASAN_OPTIONS=allow_addr2line=1:detect_leaks=1
export UBSAN_OPTIONS=allow_addr2line=1:print_stacktrace=1

failed=()
for target in "${targets[@]}"; do
  seeds=fuzz/corpus/${target#fuzz_}
  corpus=$work/$target/corpus
  mkdir -p "$corpus"
  if [ -d "$seeds" ]; then
    cp -R "$seeds"/. "$corpus"/
  else
    echo "note: $seeds does not exist; $target starts from an empty corpus"
  fi
  log=$work/$target/fuzz.log
  echo "--- $target: ${seconds} s from $(find "$corpus" -type f | wc -l) seeds in $seeds"
  status=0
  # -timeout: one input running longer than this counts as a hang (the sanitizers make
  # every run several times slower than a plain build, so the bound is generous).
  (cd "$work/$target" && "$repo/$build/fuzz/$target" -max_total_time="$seconds" -max_len=8192 \
    -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 -artifact_prefix="$work/$target/" \
    "$corpus") >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    grep -E '^(Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log" \
      | sed 's/^/    /' || true
    echo "    corpus grew from $(find "$seeds" -type f 2>/dev/null | wc -l) to $(find "$corpus" -type f | wc -l) inputs (not kept)"
    continue
  fi
  failed+=("$target")
  echo "!!! $target failed (exit status $status); the end of its log:"
  tail -n 120 "$log"
  for artifact in "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* \
    "$work/$target"/oom-* "$work/$target"/slow-unit-*; do
    [ -f "$artifact" ] || continue
    echo "!!! $(basename "$artifact") ($(stat -c %s "$artifact") bytes), base64; replay with"
    echo "!!!   base64 -d > input && $build/fuzz/$target input"
    base64 "$artifact"
  done
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "ci-fuzz: ${#failed[@]} of ${#targets[@]} fuzz targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "ci-fuzz: ${#targets[@]} fuzz targets ran ${seconds} s each without a finding"
