#!/usr/bin/python3
"""Checks docs/schema/catalog.xsd against the catalogs and against lint.

Usage: check_catalogs.py OXPM SOURCE_DIR

- Every bundled and test catalog meant to be valid, and every XML example of
  docs/catalog.md, validates with xmllint against the schema, and lint finds
  in it none of the faults the schema can see (nothing at all in the
  documentation's examples).
- Each catalog of tests/tools/data/faults/ plants one fault on the line
  marked "<!-- planted -->" and is named after the lint code that reports it
  (a suffix after the code's name tells variants apart). lint reports
  exactly that finding, on that line; the schema rejects the catalog, at
  that line, exactly for the faults it can see, and accepts the others.
Exits 0 when all agree, 1 otherwise, 77 when xmllint (libxml2-utils,
installed by scripts/setup.sh) is missing.
"""
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# The faults an XML Schema can express. The others need the import's
# reading of versions and patterns, or the whole catalog.
SCHEMA_SEES = {"unloadable", "no-softwares", "missing-attribute", "skipped-element",
               "duplicate-container", "unknown-container", "non-numeric-version",
               "ignored-action"}
# Children of relation containers may have any name, so the schema cannot
# require their attributes.
SCHEMA_BLIND_VARIANTS = {"missing-attribute-in-relation"}
# Faults of the whole document: the schema and lint may name different lines.
DOCUMENT_FAULTS = {"unloadable", "no-softwares"}
# Test catalogs that hold faults on purpose.
INVALID = {"lint-bad.xml", "lint-mistakes.xml"}


def main():
    oxpm, source = sys.argv[1], sys.argv[2]
    xmllint = shutil.which("xmllint")
    if xmllint is None:
        print("xmllint is not installed (scripts/setup.sh installs libxml2-utils)")
        return 77
    schema = os.path.join(source, "docs", "schema", "catalog.xsd")
    data = os.path.join(source, "tests", "tools", "data")
    failures = []

    def schema_errors(path):
        result = subprocess.run([xmllint, "--noout", "--schema", schema, path],
                                capture_output=True, text=True, check=False)
        if result.returncode == 0:
            return []
        lines = [int(m.group(1)) for m in
                 re.finditer(r"^" + re.escape(path) + r":(\d+):", result.stderr, re.M)]
        return lines or [0]

    def lint(path):
        result = subprocess.run([oxpm, "lint", "--format", "json", path], capture_output=True,
                                text=True, check=False)
        return json.loads(result.stdout)["findings"]

    valid = [p for p in sorted(glob.glob(os.path.join(source, "examples", "*.xml")) +
                               glob.glob(os.path.join(data, "*.xml")))
             if os.path.basename(p) not in INVALID]
    documented = set()
    with tempfile.TemporaryDirectory() as scratch:
        with open(os.path.join(source, "docs", "catalog.md"), encoding="utf-8") as f:
            blocks = re.findall(r"```xml\n(.*?)```", f.read(), re.S)
        for n, block in enumerate(blocks):
            path = os.path.join(scratch, "catalog-md-%d.xml" % (n + 1))
            with open(path, "w", encoding="utf-8") as out:
                out.write(block)
            valid.append(path)
            documented.add(path)
        if not blocks:
            failures.append("docs/catalog.md has no xml example")
        for path in valid:
            if schema_errors(path):
                failures.append("%s: does not validate against the schema" % path)
            # Where the schema finds nothing wrong, lint finds nothing of what
            # the schema could see; the documentation's examples are clean.
            findings = [f for f in lint(path)
                        if path in documented or f["code"] in SCHEMA_SEES]
            if findings:
                failures.append("%s: lint finds %s" % (path, findings))

    for path in [os.path.join(data, name) for name in sorted(INVALID)]:
        if not schema_errors(path):
            failures.append("%s: holds faults the schema sees, yet validates" % path)

    with open(os.path.join(source, "docs", "schema", "lint.schema.json"), encoding="utf-8") as f:
        known = json.load(f)["$defs"]["code"]["enum"]
    faults = sorted(glob.glob(os.path.join(data, "faults", "*.xml")))
    codes = set()
    for path in faults:
        variant = os.path.basename(path)[:-4]
        with open(path, encoding="utf-8") as f:
            marked = [n + 1 for n, line in enumerate(f) if "<!-- planted -->" in line]
        if len(marked) != 1:
            failures.append("%s: mark exactly one line as planted" % path)
            continue
        line = marked[0]
        findings = lint(path)
        code = max((c for c in known if variant == c or variant.startswith(c + "-")), key=len,
                   default=variant)
        codes.add(code)
        expected_line = 1 if code == "unloadable" else line
        got = [(f["code"], f["line"]) for f in findings]
        if got != [(code, expected_line)]:
            failures.append("%s: lint reports %s, expected [(%r, %d)]" %
                            (path, got, code, expected_line))
        sees = code in SCHEMA_SEES and variant not in SCHEMA_BLIND_VARIANTS
        errors = schema_errors(path)
        if sees and not errors:
            failures.append("%s: the schema accepts the planted %s" % (path, code))
        elif sees and code not in DOCUMENT_FAULTS and errors != [line]:
            failures.append("%s: the schema rejects lines %s, the fault is on %d" %
                            (path, errors, line))
        elif not sees and errors:
            failures.append("%s: the schema rejects lines %s, though it cannot see %s" %
                            (path, errors, code))
    for code in sorted(set(known) - codes - {"no-entry"}):
        failures.append("no planted fault for %s" % code)

    for failure in failures:
        print("FAIL " + failure)
    print("%d valid catalogs and %d planted faults checked, %d failures" %
          (len(valid), len(faults), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
