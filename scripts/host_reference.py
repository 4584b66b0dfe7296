#!/usr/bin/python3
"""The function reference of docs/host-interface.md, generated from the C
headers in include/tarvik/ox/host/, where each function's contract lives in
the comment above its declaration.

  host_reference.py          check that the document holds what the headers
                             say (exit 1 with a diff when it does not)
  host_reference.py --write  rewrite the generated parts of the document

The document marks each generated part with a pair of HTML comments naming
its header; everything outside them is written by hand.
"""
import difflib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADERS = ROOT / "include" / "tarvik" / "ox" / "host"
DOCUMENT = ROOT / "docs" / "host-interface.md"

BEGIN = ("<!-- generated from include/tarvik/ox/host/{0} by scripts/host_reference.py:"
         " edit the header's comments, then run the script with --write -->")
END = "<!-- end of the part generated from {0} -->"
MARKED = re.compile(r"<!-- generated from include/tarvik/ox/host/(\S+) by .*?-->\n"
                    r"(.*?)<!-- end of the part generated from \1 -->", re.S)

# A comment, then a declaration of an ox_* function up to its ";" or body.
DECLARATION = re.compile(
    r"/\*(?P<comment>(?:[^*]|\*(?!/))*)\*/\n"
    r"(?P<prototype>(?:static inline )?[A-Za-z_][\w ]*\**\s*(?P<name>ox_\w+)\([^;{()]*\))"
    r"(?P<attributes>[^;{]*)[;{]")


def comment_text(comment):
    """The comment's text as Markdown: the " * " margin removed."""
    lines = comment.split("\n")
    out = []
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("* "):
            stripped = line[line.index("*") + 2:]
        elif stripped == "*":
            stripped = ""
        else:
            stripped = line.lstrip() if not out else line[3:] if line.startswith("   ") else line
        out.append(stripped.rstrip())
    return "\n".join(out).strip()


def functions(header_text):
    """(name, prototype, contract) of every function the header declares, in
    order; a function without a comment has an empty contract."""
    found = []
    for match in DECLARATION.finditer(header_text):
        prototype = " ".join(match.group("prototype").split())
        found.append((match.group("name"), prototype, comment_text(match.group("comment"))))
    return found


def wrap_prototype(prototype):
    """The declaration as the headers lay it out: broken after a comma past 100 columns."""
    if len(prototype) + 1 <= 100:
        return prototype + ";"
    open_at = prototype.index("(") + 1
    lines, current = [], prototype[:open_at]
    for i, piece in enumerate(prototype[open_at:].split(", ")):
        addition = piece if i == 0 else ", " + piece
        if len(current) + len(addition) + 1 > 100 and i > 0:
            lines.append(current + ",")
            current = " " * open_at + piece
        else:
            current += addition
    lines.append(current + ";")
    return "\n".join(lines)


def render(header):
    parts = []
    for name, prototype, contract in functions((HEADERS / header).read_text()):
        parts.append("### `{0}`\n\n```c\n{1}\n```\n\n{2}\n\n".format(
            name, wrap_prototype(prototype), contract))
    return "".join(parts)


def generated(document):
    return MARKED.sub(lambda m: BEGIN.format(m.group(1)) + "\n\n" + render(m.group(1)) +
                      END.format(m.group(1)), document)


def main(argv):
    document = DOCUMENT.read_text()
    problems = []
    headers = sorted(p.name for p in HEADERS.glob("*.h"))
    covered = set(m.group(1) for m in MARKED.finditer(document))
    for header in headers:
        for name, _, contract in functions((HEADERS / header).read_text()):
            if not contract:
                problems.append("{0}: {1} has no comment stating its contract".format(header, name))
            if header not in covered:
                problems.append("docs/host-interface.md has no generated part for " + header +
                                ", which declares " + name)
    for header in covered - set(headers):
        problems.append("docs/host-interface.md names a header that does not exist: " + header)
    expected = generated(document)
    if "--write" in argv:
        DOCUMENT.write_text(expected)
    elif expected != document:
        problems.append("docs/host-interface.md differs from the headers' comments"
                        " (run scripts/host_reference.py --write):\n" + "".join(
                            difflib.unified_diff(document.splitlines(True), expected.splitlines(True),
                                                 "docs/host-interface.md", "from the headers")))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
