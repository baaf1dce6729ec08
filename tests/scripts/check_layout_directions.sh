#!/usr/bin/env bash
# scripts/check-layout.sh over small projects of its own: an include from a lower subsystem into
# a higher one fails the check and is named, the downward includes pass.
#
#   check_layout_directions.sh PROJECT_ROOT
set -euo pipefail
script=$1/scripts/check-layout.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/check-layout-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# project NAME: a project whose index/ includes catalogue/, whose catalogue/ includes audio/.
project() {
  local root=$work/$1
  mkdir -p "$root"/{audio,catalogue,index}
  touch "$root/CMakeLists.txt" "$root/audio/player.h"
  printf '#include "audio/player.h"\n' >"$root/catalogue/recording.h"
  printf '#include "catalogue/recording.h"\n' >"$root/index/note_store.h"
  printf '%s\n' "$root"
}

# expect NAME STATUS [REPORTED]: the check over project NAME ends with STATUS and names REPORTED.
expect() {
  local output status=0
  output=$(bash "$script" "$work/$1" 2>&1) || status=$?
  if [ "$status" -ne "$2" ] || { [ -n "${3:-}" ] && [[ "$output" != *"$3"* ]]; }; then
    printf 'FAIL %s: expected status %s naming "%s", got %s:\n%s\n' "$1" "$2" "${3:-}" "$status" "$output"
    failures=$((failures + 1))
  fi
}

project downward >/dev/null
expect downward 0

root=$(project catalogue-into-index)
printf '#include "index/note_store.h"\n' >"$root/catalogue/upload_worker.cpp"
expect catalogue-into-index 1 'catalogue/upload_worker.cpp:1: #include "index/note_store.h"'

root=$(project audio-into-catalogue)
printf '#include "catalogue/recording.h"\n' >"$root/audio/call_details.h"
expect audio-into-catalogue 1 'audio/call_details.h:1: #include "catalogue/recording.h"'

root=$(project audio-into-index)
printf '#include "index/note_store.h"\n' >"$root/audio/player.cpp"
expect audio-into-index 1 'audio/player.cpp:1: #include "index/note_store.h"'

[ "$failures" -eq 0 ] || exit 1
echo "check-layout refuses every upward include and passes the downward ones"
