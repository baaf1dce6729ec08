#!/usr/bin/env python3
"""Fails when a translation file lacks a finished translation of a text the sources use.

    check_translations.py LUPDATE FILE.ts SOURCE...

lupdate brings the texts of the sources into a copy of FILE.ts (the file itself is left alone);
every text still in use must then have a translation that is neither empty nor unfinished.
"""
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path


def untranslated(ts_file):
    """The texts in use of the .ts file whose translation is missing or unfinished."""
    missing = []
    for message in ElementTree.parse(ts_file).iter("message"):
        translation = message.find("translation")
        kind = translation.get("type") if translation is not None else None
        if kind in ("obsolete", "vanished"):
            continue
        if translation is None or kind == "unfinished" or not (translation.text or "").strip():
            missing.append(message.findtext("source"))
    return missing


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    lupdate, ts_file, sources = sys.argv[1], Path(sys.argv[2]), sys.argv[3:]
    with tempfile.TemporaryDirectory() as folder:
        copy = Path(folder) / ts_file.name
        shutil.copyfile(ts_file, copy)
        run = subprocess.run([lupdate, "-silent", "-locations", "none", *sources, "-ts", str(copy)],
                             capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"{lupdate} failed:\n{run.stdout}{run.stderr}")
        missing = untranslated(copy)
    if missing:
        print(f"{ts_file}: {len(missing)} text(s) of the program have no finished translation "
              "(scripts/update-translations.sh brings them in; then translate them):", file=sys.stderr)
        for text in missing:
            print(f"  {text!r}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
