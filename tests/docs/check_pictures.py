#!/usr/bin/python3
"""Checks that every picture the user guide and the README show is one that
scripts/make-screenshots.sh makes, so that all of them come from the same sample recordings:
    check_pictures.py PROJECT_ROOT

A picture is made by the script when it lies in docs/guide/ (where the script writes) and its
name is one the screenshot maker saves (pictures.Take(…, "NAME") or pictures.Save(…, "NAME") in
docs/screenshots/guide_screenshots.cpp).
"""
import os
import re
import sys

DOCUMENTS = ["docs/使用说明.md", "README.md"]
MAKER = "docs/screenshots/guide_screenshots.cpp"
PICTURE_FOLDER = "docs/guide"

SHOWN_PICTURE = re.compile(r"!\[[^\]]*\]\(([^)\s]+)\)")
SAVED_PICTURE = re.compile(r'pictures\.(?:Take|Save)\(.*?"([\w-]+)"\);', re.S)


def made_pictures(root):
    with open(os.path.join(root, MAKER), encoding="utf-8") as source:
        names = SAVED_PICTURE.findall(source.read())
    return {os.path.join(PICTURE_FOLDER, name + ".png") for name in names}


def pictures_not_made(root, document, made):
    with open(os.path.join(root, document), encoding="utf-8") as text:
        shown = SHOWN_PICTURE.findall(text.read())
    folder = os.path.dirname(document)
    return [picture for picture in shown if os.path.normpath(os.path.join(folder, picture)) not in made]


def main():
    root = sys.argv[1]
    made = made_pictures(root)
    problems = [f"{document}: shows {picture}, which scripts/make-screenshots.sh does not make"
                for document in DOCUMENTS for picture in pictures_not_made(root, document, made)]
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
