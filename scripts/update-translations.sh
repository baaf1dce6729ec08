#!/usr/bin/env bash
# Brings the texts of voctool's sources into its translation file: new texts arrive unfinished,
# texts no longer used are dropped, finished translations stay. Translate the unfinished ones
# (any text editor, or Qt Linguist) before committing: the build fails while one is left.
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate=/usr/lib/qt6/bin/lupdate
[ -x "$lupdate" ] || { echo "update-translations: $lupdate is missing (scripts/setup-deps.sh installs qt6-l10n-tools)" >&2; exit 1; }
# voctool's Voctool::tr is its own rather than a QObject's, which lupdate notes on every use.
"$lupdate" -no-obsolete -locations none tools/voctool*.cpp tools/voctool*.h \
  -ts tools/translations/voctool_zh_CN.ts 2> >(grep -v "lacks Q_OBJECT macro" >&2)
