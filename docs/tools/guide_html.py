#!/usr/bin/python3
"""Turns docs/UserGuide.md into the UserGuide.html shipped in the packages.

    guide_html.py SOURCE.md OUTPUT.html VERSION

Images are referenced relatively (images/...), so OUTPUT.html must sit next
to a copy of docs/images/. Every image the guide names must exist: a guide
with a broken picture is not shipped.
"""
import html
import os
import re
import sys

import markdown  # Debian package python3-markdown

STYLE = """
body { font-family: "Yu Gothic UI", "Meiryo UI", "Meiryo", "Segoe UI", sans-serif;
       max-width: 52em; margin: 2em auto; padding: 0 1em; line-height: 1.7; color: #222; }
h1 { border-bottom: 2px solid #c00; padding-bottom: .2em; }
h2 { border-bottom: 1px solid #ccc; margin-top: 2em; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: .3em .6em; vertical-align: top; }
th { background: #f2f2f2; }
code { background: #f4f4f4; padding: 0 .2em; }
blockquote { border-left: 4px solid #c00; margin-left: 0; padding-left: 1em; color: #444; }
img { border: 1px solid #ccc; max-width: 100%; }
"""


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, output, version = sys.argv[1:]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    base = os.path.dirname(os.path.abspath(source))
    missing = [p for p in re.findall(r"!\[[^\]]*\]\(([^)\s]+)\)", text)
               if not os.path.isfile(os.path.join(base, p))]
    if missing:
        sys.exit("guide_html: missing images: " + ", ".join(missing))
    body = markdown.markdown(text, extensions=["tables", "fenced_code"], output_format="html5")
    # A line break inside a Japanese sentence would show as a blank.
    body = re.sub(r"(?<=[^\x00-\x7f])\n[ \t]*(?=[^\x00-\x7f])", "", body)
    # The version lives in the version resource only; the shipped page gets it here.
    body = body.replace("</h1>", "</h1>\n<p>バージョン " + html.escape(version) + "</p>", 1)
    title = html.escape("KTX-AV90R制御ソフト ユーザーガイド " + version)
    page = ("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
            f"<title>{title}</title>\n<style>{STYLE}</style>\n</head>\n<body>\n{body}\n</body>\n</html>\n")
    with open(output, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(page)


if __name__ == "__main__":
    main()
