#!/usr/bin/python3
"""Runs oxpm as scripts do and validates every JSON document it writes
against the schemas in docs/schema/ (JSON Schema draft 2020-12).

Usage: check_json_outputs.py OXPM SOURCE_DIR

The runs are those of tests/tools/data/scenarios.json, plus `lint --format
json` of every bundled and test catalog. Besides the schema, each run's exit
status must be the one listed and, for resolve, "ok" must agree with it.
Exits 0 when everything validates, 1 otherwise, 77 when the validator is
missing (python3-jsonschema, installed by scripts/setup.sh).
"""
import glob
import json
import os
import re
import subprocess
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed (scripts/setup.sh installs it)")
    sys.exit(77)


def main():
    oxpm, source = sys.argv[1], sys.argv[2]
    schema_dir = os.path.join(source, "docs", "schema")
    data = os.path.join(source, "tests", "tools", "data")
    examples = os.path.join(source, "examples")
    validators = {}
    for command in ("resolve", "lint", "show"):
        with open(os.path.join(schema_dir, command + ".schema.json"), encoding="utf-8") as f:
            schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(schema)
        validators[command] = jsonschema.Draft202012Validator(schema)

    failures = []

    def run(name, args, status=None):
        command = args[0]
        result = subprocess.run([oxpm] + args + ["--format", "json"], capture_output=True,
                                check=False)
        where = "%s (oxpm %s)" % (name, " ".join(args))
        if status is not None and result.returncode != status:
            failures.append("%s: exit status %d, expected %d\n%s" %
                            (where, result.returncode, status, result.stderr.decode()))
            return None
        if result.returncode not in (0, 1):
            failures.append("%s: exit status %d\n%s" %
                            (where, result.returncode, result.stderr.decode()))
            return None
        try:
            document = json.loads(result.stdout)
        except ValueError as error:
            failures.append("%s: not JSON: %s" % (where, error))
            return None
        for error in validators[command].iter_errors(document):
            failures.append("%s: %s at %s" % (where, error.message, list(error.absolute_path)))
        if command == "resolve" and document.get("ok") != (result.returncode == 0):
            failures.append("%s: \"ok\" is %s but the exit status is %d" %
                            (where, document.get("ok"), result.returncode))
        return document

    with open(os.path.join(data, "scenarios.json"), encoding="utf-8") as f:
        scenarios = json.load(f)["runs"]
    for scenario in scenarios:
        args = [a.replace("@examples@", examples).replace("@data@", data)
                for a in scenario["args"]]
        document = run(scenario["name"], args, scenario["status"])
        if document is None:
            continue
        if "outcome" in scenario and document["outcome"] != scenario["outcome"]:
            failures.append("%s: outcome %s, expected %s" %
                            (scenario["name"], document["outcome"], scenario["outcome"]))
        records = {}
        for record in document.get("resolved", []):
            records.setdefault(record["id"], []).append(record)
        for record_id, expected in scenario.get("findings", {}).items():
            found = []
            for record in records.get(record_id, []):
                for finding in record["failed_dependencies"] + record["failed_compatibilities"]:
                    blocker = finding["blocker"]
                    found.append([finding["sref"], None if blocker is None else
                                  "%s %s" % (blocker["id"], blocker["version"])])
            if found != expected:
                failures.append("%s: findings of %s are %s, expected %s" %
                                (scenario["name"], record_id, found, expected))
        for record_id, expected in scenario.get("removed", {}).items():
            reasons = [reason["reason"] for record in records.get(record_id, [])
                       for reason in record["removed_because"]]
            if reasons != expected:
                failures.append("%s: %s is removed because %s, expected %s" %
                                (scenario["name"], record_id, reasons, expected))

    catalogs = sorted(glob.glob(os.path.join(examples, "*.xml")) +
                      glob.glob(os.path.join(data, "*.xml")))
    for catalog in catalogs:
        run("lint " + os.path.basename(catalog), ["lint", catalog])

    # The codes the schema allows are the codes lint knows.
    help_text = subprocess.run([oxpm, "lint", "--help"], capture_output=True, check=False,
                               text=True).stdout
    listed = re.search(r"Codes: ([^.]*)\.", help_text)
    schema_codes = set(validators["lint"].schema["$defs"]["code"]["enum"])
    if listed is None or set(listed.group(1).replace("\n", " ").split(", ")) != schema_codes:
        failures.append("lint --help lists codes %s, the schema %s" %
                        (listed.group(1) if listed else None, sorted(schema_codes)))

    for failure in failures:
        print("FAIL " + failure)
    print("%d runs and %d catalogs checked, %d failures" %
          (len(scenarios), len(catalogs), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
