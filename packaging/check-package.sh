#!/usr/bin/env bash
# Checks that a Debian package holds what a user needs besides the programs: the user guide as
# HTML with every picture of docs/guide/, where the Help menu looks for it, voctool's Chinese texts
# and the Chinese manual pages.
#   packaging/check-package.sh PACKAGE.deb PICTURE_FOLDER
#   packaging/check-package.sh --build BUILD_FOLDER PICTURE_FOLDER   (packs BUILD_FOLDER first)
# Exits 77 (skipped) when dpkg-deb or cpack is not installed.
set -euo pipefail
if [ "$1" = --build ]; then
  command -v cpack >/dev/null || { echo "check-package: cpack is not installed: skipped"; exit 77; }
  work=$(mktemp -d "${TMPDIR:-/tmp}/sdvoice-package.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  (cd "$2" && cpack -G DEB -B "$work" >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
  package=$(ls "$work"/sdvoice_*.deb)
  pictures=$3
else
  package=$1 pictures=$2
fi
command -v dpkg-deb >/dev/null || { echo "check-package: dpkg-deb is not installed: skipped"; exit 77; }

contents=$(dpkg-deb -c "$package" | awk '{print $NF}')
missing=0
expect() {
  if ! grep -qxF "$1" <<<"$contents"; then
    echo "check-package: $package lacks $1"
    missing=1
  fi
}
expect ./usr/bin/sdvoice
expect ./usr/share/sdvoice/使用说明.html
expect ./usr/share/sdvoice/translations/voctool_zh_CN.qm
expect ./usr/share/man/zh_CN/man1/voctool.1.gz
expect ./usr/share/man/zh_CN/man1/sdvoice.1.gz
for picture in "$pictures"/*.png; do
  expect "./usr/share/sdvoice/guide/$(basename "$picture")"
done
exit "$missing"
