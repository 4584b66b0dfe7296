#!/usr/bin/python3
"""The embedding documents against the code they describe, so that they
cannot drift: the log lines the library writes (docs/embedding.md's table and
sample), the error codes a host can see, and the host interface reference
(docs/host-interface.md), whose function sections are generated from the C
headers (scripts/host_reference.py).

The log lines are read from the OX_LOG and OX_LOG_BLANK calls in src/:
severity, source tag, operation name and format, each resolved to its value
(a named constant is looked up where it is defined). The reader is first run
on made-up sources, so that a broken reader cannot let a drifted document
pass. Usage: check_docs.py [SOURCE_DIR]; exit 0 when everything agrees.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else __file__).resolve()
ROOT = ROOT if (ROOT / "src").is_dir() else pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
import host_reference  # noqa: E402

LITERAL = r'"(?:[^"\\]|\\.)*"'
COMMENT_OR_LITERAL = re.compile(r"//[^\n]*|/\*.*?\*/|" + LITERAL + r"|'(?:[^'\\]|\\.)*'", re.S)


def strip_comments(text):
    """Comments blanked (newlines kept), literals kept."""
    return COMMENT_OR_LITERAL.sub(
        lambda m: re.sub(r"[^\n]", " ", m.group(0)) if m.group(0)[:2] in ("//", "/*")
        else m.group(0), text)


def read_literals(text):
    """The value of one or more adjacent string literals, or None."""
    text = text.strip()
    if not re.fullmatch(r"(?:\s*" + LITERAL + r")+", text):
        return None
    escapes = {"n": "\n", "t": "\t"}
    return "".join(re.sub(r"\\(.)", lambda e: escapes.get(e.group(1), e.group(1)), m[1:-1])
                   for m in re.findall(LITERAL, text))


def arguments(text, open_at):
    """The arguments of the call whose "(" is at `open_at`, split at top-level commas."""
    args, depth, start, i = [], 0, open_at + 1, open_at
    while True:
        m = re.compile(LITERAL + r"|[(),]").search(text, i + 1)
        if m is None:
            raise ValueError("unbalanced call at offset %d" % open_at)
        i = m.end() - 1
        token = m.group(0)
        if token == "(":
            depth += 1
        elif token == ")" and depth > 0:
            depth -= 1
        elif token == ")" or (token == "," and depth == 0):
            args.append(text[start:m.start()].strip())
            start = m.end()
            if token == ")":
                return args


def resolve(expression, name, text, position, shared, depth=0):
    """A literal, or the constant "NAME = value;" / "NAME[] = value;" defined last
    before `position` in the file, else in a shared file."""
    value = read_literals(expression)
    if value is not None:
        return value
    constant = expression.strip().split("::")[-1]
    if depth > 8 or not re.fullmatch(r"\w+", constant):
        raise ValueError("cannot resolve %r in %s" % (expression, name))
    definition = re.compile(r"(?<!\w)" + constant + r"\s*(?:\[\s*\])?\s*=(?!=)([^;]*);")
    for where, body, limit in [(name, text, position)] + [(n, t, len(t)) for n, t in shared]:
        found = [m for m in definition.finditer(body) if m.start() < limit]
        if found:
            return resolve(found[-1].group(1), where, body, found[-1].start(), shared, depth + 1)
    raise ValueError("no definition of %s for %s" % (constant, name))


def log_lines(name, text, shared, severities):
    """(severity, source tag, operation, format) of every log line the file writes."""
    out = []
    for m in re.finditer(r"\b(OX_LOG|OX_LOG_BLANK|ox_log)\s*\(", text):
        if m.group(1) == "ox_log":
            raise ValueError(name + " calls ox_log directly; use OX_LOG")
        args = arguments(text, m.end() - 1)
        at = m.start()
        if m.group(1) == "OX_LOG_BLANK":
            out.append((severities["OX_LOG_SEVERITY_PROGRESS"],
                        resolve(args[1], name, text, at, shared),
                        resolve(args[2], name, text, at, shared), ""))
            continue
        severity = severities.get(args[1]) or int(args[1])
        fmt = read_literals(args[4]) if len(args) >= 5 else None
        if fmt is None:
            raise ValueError(name + ": a format must be a literal")
        out.append((severity, resolve(args[2], name, text, at, shared),
                    resolve(args[3], name, text, at, shared), fmt))
    return out


def between(document, what):
    begin, end = "<!-- %s:begin -->" % what, "<!-- %s:end -->" % what
    if begin not in document or end not in document.split(begin, 1)[1]:
        raise ValueError("the %s markers are missing" % what)
    return document.split(begin, 1)[1].split(end, 1)[0]


def table_rows(document):
    """The log-line table's rows: severity, source tag, operation, format (a
    quoted literal in backticks); further columns are prose."""
    rows = []
    table = [r.strip() for r in between(document, "log-lines").splitlines()]
    for row in [r for r in table if r.startswith("|")][1:]:  # the column titles first
        if "---" in row and "`" not in row:
            continue
        cells = row.split("|")
        fmt = re.match(r"\s*`(.*?)`\s*$", cells[4])
        if fmt is None or read_literals(fmt.group(1)) is None:
            raise ValueError("the format is not a quoted literal in backticks: " + row)
        rows.append((int(cells[1]), cells[2].strip(" `"), cells[3].strip(" `"),
                     read_literals(fmt.group(1))))
    return rows


def format_pattern(fmt):
    """A regular expression matching exactly what a %s/%d format can write."""
    parts = re.split(r"(%[sd%])", fmt)
    return re.compile("".join({"%s": ".*", "%d": "-?[0-9]+", "%%": "%"}.get(p, re.escape(p))
                              for p in parts), re.S)


def sample_lines(document):
    out = []
    for row in between(document, "log-sample").splitlines():
        if not row.strip() or row.strip().startswith("```"):
            continue
        m = re.fullmatch(r"([0-9]+) ([A-Za-z_]+):(?: (.*))?", row)
        if m is None:
            raise ValueError("not a sample line: " + row)
        out.append((int(m.group(1)), m.group(2), m.group(3) or ""))
    return out


def check_the_reader(fail):
    shared = [("log.hpp", 'inline constexpr char kTagA[] = "tag_a";\n')]
    source = strip_comments('''
constexpr const char* kTag = internal::kTagA;
constexpr const char kRun[] = "run";
// OX_LOG(context, 2, kTag, kRun, "commented out");
/* OX_LOG(context, 2, kTag, kRun, "block comment"); */
void f() {
  static const char kFunction[] = "first";
  OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "a <%s>, %d", call(1, 2).c_str(), 3);
}
void g() {
  static const char kFunction[] = "second";
  OX_LOG(context, 5, internal::kTagA, kFunction, "split "
         "format, with (parens)");
  OX_LOG_BLANK(context, kTag, kRun);
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, "literal_tag", "literal_fn", "quote \\" and ,");
}''')
    severities = {"OX_LOG_SEVERITY_FAILURE": 2, "OX_LOG_SEVERITY_PROGRESS": 5}
    expected = [(2, "tag_a", "first", "a <%s>, %d"),
                (5, "tag_a", "second", "split format, with (parens)"), (5, "tag_a", "run", ""),
                (5, "literal_tag", "literal_fn", 'quote " and ,')]
    got = log_lines("a.cpp", source, shared, severities)
    if got != expected:
        fail("the source reader reads %r, not %r" % (got, expected))
    for bad in ['ox_log(logger, 5, "s", "t", 1, "f", "x");', 'OX_LOG(c, 5, "t", "f", format);',
                'OX_LOG(c, 5, kNowhere, "f", "x");']:
        try:
            log_lines("bad.cpp", bad, [], severities)
            fail("the source reader accepts " + bad)
        except ValueError:
            pass
    rows = table_rows('| 5 | `outside` | `t` | `"ignored"` |\n<!-- log-lines:begin -->\n'
                      '| severity | source tag | operation | format | when |\n|---|---|---|---|---|\n'
                      '| 5 | `tag` | `fn` | `"with trailing blank "` | prose, `code` |\n'
                      '| 2 | tag | fn | `""` | |\n<!-- log-lines:end -->\n')
    if rows != [(5, "tag", "fn", "with trailing blank "), (2, "tag", "fn", "")]:
        fail("the table reader reads %r" % rows)
    pattern = format_pattern("[%d] check <%s>, v%s. (x)|y ")
    answers = [bool(pattern.fullmatch(t)) for t in ["[12] check <A.B>, v1.2. (x)|y ",
               "[-1] check <>, v. (x)|y ", "[a] check <A>, v1. (x)|y ",
               "[1] check <A>, v1. (x)|y", "[1] check <A>, v1! (x)|y "]]
    if answers != [True, True, False, False, False]:
        fail("format patterns answer %r" % answers)
    sample = sample_lines("<!-- log-sample:begin -->\n```\n5 resolve: a <b>\n5 resolve:\n"
                          "2 check_x: c: d\n```\n<!-- log-sample:end -->\n")
    if sample != [(5, "resolve", "a <b>"), (5, "resolve", ""), (2, "check_x", "c: d")]:
        fail("the sample reader reads %r" % sample)


def main():
    problems = []
    fail = problems.append
    check_the_reader(fail)

    logger = (ROOT / "include/tarvik/ox/host/ox_logger.h").read_text()
    severities = {n: int(v) for n, v in re.findall(r"#define\s+(OX_LOG_SEVERITY_\w+)\s+(\d+)",
                                                   logger)}
    shared = [("src/host/log.hpp", strip_comments((ROOT / "src/host/log.hpp").read_text()))]
    in_code = set()
    for path in sorted((ROOT / "src").rglob("*.cpp")):
        in_code.update(log_lines(str(path.relative_to(ROOT)), strip_comments(path.read_text()),
                                 shared, severities))
    if len(in_code) <= 30:
        fail("only %d log lines found in src/: the reader is broken" % len(in_code))
    guide = (ROOT / "docs/embedding.md").read_text()
    rows = table_rows(guide)
    row_text = "| {0} | `{1}` | `{2}` | `\"{3}\"` |".format
    for row in set(r for r in rows if rows.count(r) > 1):
        fail("docs/embedding.md lists a log line twice: " + row_text(*row))
    for line in sorted(in_code - set(rows)):
        fail("docs/embedding.md lacks a log line the library writes:\n" + row_text(*line))
    for line in sorted(set(rows) - in_code):
        fail("docs/embedding.md lists a log line the library does not write:\n" + row_text(*line))
    sample = sample_lines(guide)
    if len(sample) < 10:
        fail("the log sample of docs/embedding.md has fewer than 10 lines")
    for severity, function, message in sample:
        if not any(r[0] == severity and r[2] == function and format_pattern(r[3]).fullmatch(message)
                   for r in rows):
            fail("the log sample shows a line no table row describes: %d %s: %s"
                 % (severity, function, message))

    host = (ROOT / "include/tarvik/ox/host/ox_host.h").read_text()
    codes = re.findall(r"\b(OX_(?:OK|ERROR_\w+))\s*=\s*(\d+)\s*,", host)
    if len(codes) < 8:
        fail("only %d error codes found in ox_host.h" % len(codes))
    for name, value in codes:
        if "| %s | `%s` |" % (value, name) not in guide:
            fail("docs/embedding.md has no error-table row starting | %s | `%s` |" % (value, name))

    reference = (ROOT / "docs/host-interface.md").read_text()
    headers = [strip_comments(p.read_text()) for p in (ROOT / "include/tarvik/ox/host").glob("*.h")]
    functions = set(f for h in headers for f in re.findall(r"\b(ox_\w+)\s*\(", h))
    names = set(n for h in headers for n in re.findall(r"\b(ox_\w+_(?:s|fn)|OX_OBJECT_\w+)\b", h))
    if len(functions) < 21 or len(names) < 7:
        fail("too few host functions or names found in the headers")
    for function in sorted(functions):
        if "### `%s`" % function not in reference:
            fail("docs/host-interface.md has no section for " + function)
    for name in sorted(names):
        if "`%s`" % name not in reference:
            fail("docs/host-interface.md does not describe " + name)
    if host_reference.main([]) != 0:
        fail("docs/host-interface.md is not what the headers' comments generate")

    for problem in problems:
        print(problem)
    print("docs: %d log lines, %d sample lines, %d error codes, %d host functions; %d problems"
          % (len(in_code), len(sample), len(codes), len(functions), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except ValueError as error:  # a source or document the readers cannot read
        print(error)
        sys.exit(1)
