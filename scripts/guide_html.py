#!/usr/bin/python3
"""Turns the user guide (Markdown) into one HTML page that a browser shows as it is:
    scripts/guide_html.py GUIDE.md OUTPUT.html
The pictures stay beside the page under the same relative paths (guide/*.png). Headings get the
anchors that the guide's own links use: the heading's text in lower case, punctuation dropped,
spaces as "-", Chinese kept. Needs python3-markdown (Debian)."""
import sys

import markdown
from markdown.extensions.toc import TocExtension, slugify_unicode

STYLE = """
body { font-family: "Noto Sans CJK SC", "WenQuanYi Micro Hei", sans-serif; max-width: 60em;
       margin: 1em auto; padding: 0 1em; line-height: 1.6; color: #222; }
h1, h2, h3 { line-height: 1.3; }
h2 { border-bottom: 1px solid #ccc; margin-top: 2em; }
table { border-collapse: collapse; margin: 0.8em 0; }
th, td { border: 1px solid #bbb; padding: 0.3em 0.6em; vertical-align: top; }
th { background: #eee; }
code, pre { font-family: "Noto Sans Mono CJK SC", monospace; background: #f4f4f4; }
pre { padding: 0.6em; overflow-x: auto; }
img { max-width: 100%; border: 1px solid #ccc; }
"""


def html_page(markdown_text):
    converter = markdown.Markdown(extensions=["tables", TocExtension(slugify=slugify_unicode)])
    body = converter.convert(markdown_text)
    title = markdown_text.splitlines()[0].lstrip("# ").strip()
    return (f'<!DOCTYPE html>\n<html lang="zh-CN">\n<head>\n<meta charset="utf-8">\n'
            f'<title>{title}</title>\n<style>{STYLE}</style>\n</head>\n<body>\n{body}\n</body>\n</html>\n')


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: guide_html.py GUIDE.md OUTPUT.html")
    with open(sys.argv[1], encoding="utf-8") as source:
        page = html_page(source.read())
    with open(sys.argv[2], "w", encoding="utf-8") as target:
        target.write(page)


if __name__ == "__main__":
    main()
