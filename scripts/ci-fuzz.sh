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

# run_target TARGET: one run of TARGET from a copy of its seeds. What it has to say goes to
# $work/TARGET/report; a finding also leaves $work/TARGET/failed.
run_target() {
  local target=$1
  local seeds=fuzz/corpus/${target#fuzz_}
  local corpus=$work/$target/corpus
  local log=$work/$target/fuzz.log
  local status=0
  mkdir -p "$corpus"
  {
    if [ -d "$seeds" ]; then
      cp -R "$seeds"/. "$corpus"/
    else
      echo "note: $seeds does not exist; $target starts from an empty corpus"
    fi
    echo "--- $target: ${seconds} s from $(find "$corpus" -type f | wc -l) seeds in $seeds"
    # -timeout: one input running longer than this counts as a hang (the sanitizers make
    # every run several times slower than a plain build, so the bound is generous).
    (cd "$work/$target" && "$repo/$build/fuzz/$target" -max_total_time="$seconds" -max_len=8192 \
      -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 -artifact_prefix="$work/$target/" \
      "$corpus") >"$log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
      grep -E '^(Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log" \
        | sed 's/^/    /' || true
      echo "    corpus grew from $(find "$seeds" -type f 2>/dev/null | wc -l) to $(find "$corpus" -type f | wc -l) inputs (not kept)"
    else
      touch "$work/$target/failed"
      echo "!!! $target failed (exit status $status); the end of its log:"
      tail -n 120 "$log"
      for artifact in "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* \
        "$work/$target"/oom-* "$work/$target"/slow-unit-*; do
        [ -f "$artifact" ] || continue
        echo "!!! $(basename "$artifact") ($(stat -c %s "$artifact") bytes), base64; replay with"
        echo "!!!   base64 -d > input && $build/fuzz/$target input"
        base64 "$artifact"
      done
    fi
  } >"$work/$target/report" 2>&1
}

# Each libFuzzer run keeps one processor busy: the targets run two at a time, and each one's
# report is printed once its pair has ended.
failed=()
at_once=2
for ((first = 0; first < ${#targets[@]}; first += at_once)); do
  for target in "${targets[@]:first:at_once}"; do
    run_target "$target" &
  done
  wait
  for target in "${targets[@]:first:at_once}"; do
    cat "$work/$target/report"
    [ ! -e "$work/$target/failed" ] || failed+=("$target")
  done
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "ci-fuzz: ${#failed[@]} of ${#targets[@]} fuzz targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "ci-fuzz: ${#targets[@]} fuzz targets ran ${seconds} s each without a finding"
