#!/usr/bin/env bash
# Checks the files that desktops, software centres and man read:
#   packaging/validate.sh DESKTOP_FILE METAINFO_FILE MANUAL_PAGE VOCTOOL [MANUAL_PAGE...]
# the desktop entry and the AppStream metainfo with their validators, and that each manual page
# of voctool (the English one, then its translations) names every command `VOCTOOL --help` lists. Exits 77 (skipped) when desktop-file-utils or
# appstream is not installed.
set -euo pipefail
desktop=$1 metainfo=$2 voctool=$4
manuals=("$3" "${@:5}")
for tool in desktop-file-validate appstreamcli; do
  if ! command -v "$tool" >/dev/null; then
    echo "validate: $tool is not installed (packages desktop-file-utils, appstream): skipped"
    exit 77
  fi
done
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$metainfo"

missing=0
commands=$("$voctool" --help | sed -n 's/^  voctool \([a-z][a-z-]*\).*/\1/p')
[ -n "$commands" ] || { echo "validate: '$voctool --help' lists no command"; exit 1; }
for manual in "${manuals[@]}"; do
  for command in $commands; do
    if ! grep -q "^\.B voctool ${command//-/\\\\-}\( \|$\)" "$manual"; then
      echo "validate: $manual does not describe 'voctool $command'"
      missing=1
    fi
  done
done
exit "$missing"
