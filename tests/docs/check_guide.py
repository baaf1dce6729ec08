#!/usr/bin/python3
"""Checks that the user guide cannot drift from the program:
    check_guide.py PROJECT_ROOT

- Every text the guide quotes in “…” or "…" that holds Chinese characters is a program text: it
  appears inside a string literal of the program's sources (app/ catalogue/ search/ index/ audio/
  export/ platform/ statistics/ styling/ tools/ web/), menu mnemonics written as the user sees them
  ("退出(X)" for "退出(&X)"). "……" in a quote stands for a part that varies (a file name, a reason); each
  piece around it must appear. Code (`…` and indented blocks) is not prose and is not checked.
  A few quoted words are not the program's own: they are listed in NOT_PROGRAM_TEXTS.
- Every picture the guide shows exists, and every link inside it leads to one of its headings.
"""
import html
import os
import re
import sys

PROGRAM_FOLDERS = ["app", "catalogue", "search", "index", "audio", "export", "platform", "statistics", "styling", "tools", "web"]
GUIDE = "docs/使用说明.md"

# Quoted words of the guide that name something outside the program: the desktop's menu
# categories and the file manager's eject button.
NOT_PROGRAM_TEXTS = {"影音", "办公", "弹出"}

CHINESE = re.compile(r"[\u4e00-\u9fff]")
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def program_texts(root):
    texts = []
    for folder in PROGRAM_FOLDERS:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith((".cpp", ".h")):
                    with open(os.path.join(base, name), encoding="utf-8") as source:
                        for literal in LITERAL.findall(source.read()):
                            texts.append(literal.replace("\\n", "\n").replace('\\"', '"').replace("&", ""))
    return "\x00".join(texts)


def guide_prose(page):
    """The guide's HTML page as plain text, without its code."""
    page = re.sub(r"<pre>.*?</pre>|<code>.*?</code>", " ", page, flags=re.S)
    return html.unescape(re.sub(r"<[^>]+>", "", page))


def quoted_texts(prose):
    return re.findall(r"“([^“”]*)”", prose) + re.findall(r'"([^"\n]*)"', prose)


def missing_texts(prose, texts):
    missing = []
    for quote in quoted_texts(prose):
        if not CHINESE.search(quote) or quote in NOT_PROGRAM_TEXTS:
            continue
        for piece in re.split(r"…+", quote):
            piece = piece.strip()
            if CHINESE.search(piece) and piece not in texts:
                missing.append(f"“{quote}”" + (f" (the piece “{piece}”)" if piece != quote else ""))
    return missing


def broken_references(page, docs_folder):
    problems = []
    for picture in re.findall(r'<img [^>]*src="([^"]+)"', page):
        if not os.path.isfile(os.path.join(docs_folder, picture)):
            problems.append(f"picture {picture} does not exist")
    anchors = set(re.findall(r'id="([^"]+)"', page))
    for target in re.findall(r'href="#([^"]+)"', page):
        if html.unescape(target) not in anchors:
            problems.append(f"link #{target} leads to no heading")
    return problems


def main():
    root = sys.argv[1]
    sys.path.insert(0, os.path.join(root, "scripts"))
    from guide_html import html_page

    with open(os.path.join(root, GUIDE), encoding="utf-8") as guide:
        page = html_page(guide.read())
    problems = [f"not a program text: {text}" for text in missing_texts(guide_prose(page), program_texts(root))]
    problems += broken_references(page, os.path.dirname(os.path.join(root, GUIDE)))
    for problem in problems:
        print(f"{GUIDE}: {problem}")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
