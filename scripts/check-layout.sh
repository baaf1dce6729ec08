#!/usr/bin/env bash
# Checks that the project's #include dependencies point one way, and that the program's code
# never pumps the event loop itself:
#
#   app/ (the program's shell)
#     -> the subsystems catalogue/ search/ audio/ export/ styling/ statistics/ web/ index/
#       -> platform/
#
# Among the subsystems, audio/ (the sound) lies below catalogue/ (the recordings and their
# upload), which lies below index/ (the archive index), which lies below search/, statistics/
# and web/ that use it: none includes a folder above it. Windows reach the database only through
# its host: a window file includes of index/ only the host, the index's location and the notes' types.
#
# and lists every include that goes against it as `file:line: #include "..."`, then exits 1.
#
#   scripts/check-layout.sh [PROJECT_ROOT]     (default: the folder above this script)
#
# The rules:
#  - Nothing outside app/ includes a file of app/. tests/, bench/ (which measures the
#    windows too) and docs/ (whose screenshot maker shows them) may include anything and are
#    not checked; tools/ and fuzz/ may include app/'s logic headers, not its windows.
#  - platform/ includes only platform/.
#  - A subsystem may include another subsystem's logic headers, never its windows. The one
#    exception is styling/: its styler is a shared widget component, not a window, and every
#    subsystem's window files may include it (its logic files may not: they build without widgets).
#  - tools/ (voctool links only sdvoice_core; it loads the chart drawing module for a picture)
#    includes no window file of any folder.
#  - app/, the subsystems and platform/ include nothing of tools/, bench/, fuzz/, tests/ or docs/,
#    which are built on top of them.
#
# A window file is a source listed in some CMakeLists.txt under `target_sources(sdvoice_ui ...)`,
# together with the header of the same base name; everything else is logic (sdvoice_core).
# The lists are read from the CMake files on every run, so the check follows the build as
# files are added or moved. Sources in those blocks are written one or more a line, without
# variables (${CMAKE_CURRENT_SOURCE_DIR}/ is understood); anything else is reported as an error.
set -euo pipefail
export LC_ALL=C

root=${1:-"$(dirname "$0")/.."}
cd "$root" || { echo "check-layout: no such folder: $root" >&2; exit 2; }
[ -f CMakeLists.txt ] || { echo "check-layout: $(pwd) has no CMakeLists.txt" >&2; exit 2; }

subsystems=(catalogue search audio export styling statistics web index)
# What each of the lower subsystems does not include: the subsystems above it.
declare -A above=(
  [index]="search statistics web"
  [catalogue]="index search statistics web"
  [audio]="catalogue index search statistics web"
)
index_face=(index/index_host.h index/index_settings.h index/note_store.h) # what windows may include
on_top=(tools bench fuzz tests docs) # built on top of the program's code

is_subsystem() {
  local name
  for name in "${subsystems[@]}"; do [ "$1" = "$name" ] && return 0; done
  return 1
}
is_above() { # is_above LOWER UPPER
  local name
  for name in ${above[$1]:-}; do [ "$2" = "$name" ] && return 0; done
  return 1
}
is_index_face() {
  local name
  for name in "${index_face[@]}"; do [ "$1" = "$name" ] && return 0; done
  return 1
}
is_on_top() {
  local name
  for name in "${on_top[@]}"; do [ "$1" = "$name" ] && return 0; done
  return 1
}

# The project's own source folders: top-level folders other than tests/, hidden folders and
# build trees (build*/ or anything CMake has configured).
folders=()
for dir in */; do
  dir=${dir%/}
  case "$dir" in tests | build | build[-_]* | cmake-build-*) continue ;; esac
  [ -e "$dir/CMakeCache.txt" ] && continue
  folders+=("$dir")
done

# Prints a path relative to the project root without ./ and ../ steps.
normalize() {
  case "/$1/" in
    /*/./* | /*/../* | //*) realpath -ms --relative-to=. -- "$1" ;;
    *) printf '%s\n' "$1" ;;
  esac
}

# --- Window files, from the target_sources(sdvoice_ui ...) blocks --------------------------
declare -A window=()
cmake_files=(CMakeLists.txt)
while IFS= read -r -d '' file; do cmake_files+=("${file#./}"); done < <(
  find "${folders[@]}" -name CMakeLists.txt -print0 2>/dev/null)

parse_errors=0
for cmake_file in "${cmake_files[@]}"; do
  cmake_dir=$(dirname "$cmake_file")
  # Prints line:token for every source named in a target_sources(sdvoice_ui ...) block.
  while IFS= read -r entry; do
    line=${entry%%:*}
    listed=${entry#*:}
    listed=${listed//\"/}
    # shellcheck disable=SC2016 # the literal text ${CMAKE_CURRENT_SOURCE_DIR}/
    listed=${listed#'${CMAKE_CURRENT_SOURCE_DIR}/'}
    if [[ "$listed" == *'$'* ]]; then
      echo "$cmake_file:$line: cannot read the source \"$listed\" of sdvoice_ui: name it literally" >&2
      parse_errors=$((parse_errors + 1))
      continue
    fi
    [[ "$listed" == /* ]] || listed=$cmake_dir/$listed
    listed=$(normalize "$listed")
    window[$listed]=1
    case "$listed" in
      *.cpp | *.cc | *.cxx | *.c) window[${listed%.*}.h]=1 ;;
    esac
  done < <(awk '
    {
      text = $0
      sub(/#.*/, "", text)
      if (!inside) {
        lowered = tolower(text)
        if (!match(lowered, /target_sources[ \t]*\([ \t]*sdvoice_ui/)) next
        rest = substr(text, RSTART + RLENGTH)
        if (rest != "" && rest !~ /^[ \t)]/) next
        inside = 1
        text = rest
      }
      close_at = index(text, ")")
      if (close_at) { text = substr(text, 1, close_at - 1); inside = 0 }
      count = split(text, words, /[ \t]+/)
      for (i = 1; i <= count; i++) {
        word = words[i]
        if (word == "" || word == "PRIVATE" || word == "PUBLIC" || word == "INTERFACE") continue
        print FNR ":" word
      }
    }' "$cmake_file")
done
[ "$parse_errors" -eq 0 ] || exit 2

# --- Includes --------------------------------------------------------------------------------
violations=0
files_checked=0
includes_checked=0

report() { # file line include-as-written why
  printf '%s:%s: #include %s    (%s)\n' "$1" "$2" "$3" "$4"
  violations=$((violations + 1))
}

sources=()
while IFS= read -r -d '' file; do sources+=("${file#./}"); done < <(
  find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.cc' -o -name '*.cxx' -o -name '*.c' \
    -o -name '*.h' -o -name '*.hpp' -o -name '*.hh' -o -name '*.inl' -o -name '*.ipp' \) -print0 2>/dev/null | sort -z)

for file in "${sources[@]}"; do
  files_checked=$((files_checked + 1))
  from=${file%%/*}
  file_dir=${file%/*}
  while IFS= read -r match; do
    line=${match%%:*}
    [[ "${match#*:}" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*([<\"][^>\"]+[>\"]) ]] || continue
    written=${BASH_REMATCH[1]}
    path=${written:1:${#written}-2}
    # A project file is named from the project root (as the sources do) or, failing that,
    # relative to the including file; anything else is a system or library header.
    first=${path%%/*}
    if [ "$first" != "$path" ] && [ "$first" != . ] && [ "$first" != .. ] && [ -d "$first" ]; then
      target=$(normalize "$path")
    elif [ -e "$file_dir/$path" ]; then
      target=$(normalize "$file_dir/$path")
    else
      continue
    fi
    case "$target" in ../*) continue ;; esac
    includes_checked=$((includes_checked + 1))
    to=${target%%/*}
    if [ "$to" = index ] && [ -n "${window[$file]:-}" ] && ! is_index_face "$target"; then
      report "$file" "$line" "$written" "window file: the index only through index_host.h"
      continue
    fi
    [ "$to" = "$from" ] && continue

    if [ "$from" = platform ]; then
      report "$file" "$line" "$written" "platform/ includes only platform/"
    elif [ "$from" = app ] || is_subsystem "$from"; then
      if [ "$to" = app ]; then
        report "$file" "$line" "$written" "only app/ includes app/"
      elif is_on_top "$to"; then
        report "$file" "$line" "$written" "$to/ is built on top of the program's code"
      elif is_above "$from" "$to"; then
        report "$file" "$line" "$written" "$from/ lies below $to/"
      elif is_subsystem "$from" && is_subsystem "$to" && [ -n "${window[$target]:-}" ] \
        && ! { [ "$to" = styling ] && [ -n "${window[$file]:-}" ]; }; then
        report "$file" "$line" "$written" "window file of $to/: subsystems share only logic headers"
      fi
    elif [ "$from" = tools ] && [ -n "${window[$target]:-}" ]; then
      report "$file" "$line" "$written" "tools/ links only sdvoice_core: no window files"
    elif [ "$from" = bench ] || [ "$from" = docs ]; then
      continue
    elif [ "$from" = tools ] || [ "$from" = fuzz ]; then
      if [ "$to" = app ] && [ -n "${window[$target]:-}" ]; then
        report "$file" "$line" "$written" "window file of app/"
      fi
    elif [ "$to" = app ]; then
      report "$file" "$line" "$written" "only app/ includes app/"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]+[>"]' -- "$file" || true)
done

# The window's thread only draws and answers: long work runs in workers, so no program code
# pumps the event loop itself (tests, benchmarks and the screenshot maker may drive windows so).
pumping=0
pump_call='process''Events' # spelt in two pieces so that this script does not match itself
for file in "${sources[@]}"; do
  case "$file" in tests/* | bench/* | docs/*) continue ;; esac
  while IFS=: read -r line _; do
    printf '%s:%s: %s()    (long work belongs in a worker)\n' "$file" "$line" "$pump_call"
    pumping=$((pumping + 1))
  done < <(grep -n "$pump_call" -- "$file" || true)
done

if [ "$violations" -gt 0 ]; then
  echo "check-layout: $violations include(s) against the direction app/ -> subsystems -> platform/" >&2
  exit 1
fi
if [ "$pumping" -gt 0 ]; then
  echo "check-layout: $pumping call(s) of $pump_call() in the program's code" >&2
  exit 1
fi
echo "check-layout: $includes_checked project includes in $files_checked files point one way (${#window[@]} window files)"
