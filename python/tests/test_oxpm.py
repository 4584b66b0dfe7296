"""The Python module against the tool: the same lines, the same summary."""

import json
import os
import subprocess

import pytest

oxpm = pytest.importorskip("oxpm")

SOURCE = os.environ.get("OX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
OXPM = os.environ.get("OXPM_BINARY", "oxpm")
CATALOG = os.path.join(SOURCE, "examples", "halden-spec.xml")
MACHINES = os.path.join(SOURCE, "examples", "fleet-dask", "machines.jsonl")
REQUEST = os.path.join(SOURCE, "examples", "fleet", "request.json")
INVENTORY = os.path.join(SOURCE, "examples", "inventory.json")
REQUESTS = os.path.join(SOURCE, "examples", "requests")


def run_oxpm(*args):
    return subprocess.run([OXPM, *args], capture_output=True, text=True, check=False)


def read(path):
    with open(path, encoding="utf-8") as text:
        return text.read()


@pytest.fixture(scope="module")
def catalog():
    return oxpm.Catalog([CATALOG], platform="linux-x64")


@pytest.fixture(scope="module")
def fleet_json():
    run = run_oxpm("fleet", "--spec", CATALOG, "--platform", "linux-x64", "--machines", MACHINES,
                   "--request", REQUEST, "--format", "json", "--jobs", "2")
    assert run.returncode == 1, run.stderr
    return run.stdout.splitlines()


def machine_lines():
    with open(MACHINES, encoding="utf-8") as machines:
        return [(number, text.rstrip("\n")) for number, text in enumerate(machines, start=1)
                if text.strip()]


def test_every_line_and_the_summary_are_the_tools(catalog, fleet_json):
    # Every outcome, unreadable lines, per-machine requests and platforms.
    request = read(REQUEST)
    summary = oxpm.Summary()
    lines = []
    for number, text in machine_lines():
        line = catalog.resolve_line(text, request=request, source=MACHINES, line_number=number)
        summary.add(line)
        lines.append(line)
    assert lines == fleet_json[:-1]
    assert summary.json() == fleet_json[-1]
    assert (summary.machines, summary.ok) == (len(lines), 12)
    outcomes = json.loads(summary.json())["summary"]["outcomes"]
    assert set(outcomes) == {"ok", "broken_dependents", "incompatible", "input_error",
                             "not_resolved", "obsolete", "unmet_dependency"}


def test_the_text_is_the_tools(catalog):
    run = run_oxpm("fleet", "--spec", CATALOG, "--platform", "linux-x64", "--machines", MACHINES,
                   "--request", REQUEST)
    summary = oxpm.Summary()
    text = ""
    for number, line in machine_lines():
        result = catalog.resolve_line(line, request=json.loads(read(REQUEST)), source=MACHINES,
                                      line_number=number)
        summary.add(json.loads(result))
        text += oxpm.text_line(result)
    assert text + summary.text() == run.stdout


@pytest.mark.parametrize("request_file", sorted(os.listdir(REQUESTS)))
def test_one_machine_is_the_document_of_resolve(catalog, request_file):
    # With all=True a machine's line holds every record, as resolve's does.
    path = os.path.join(REQUESTS, request_file)
    run = run_oxpm("resolve", "--spec", CATALOG, "--platform", "linux-x64", "--installed",
                   INVENTORY, "--request", path, "--format", "json")
    assert run.returncode in (0, 1), run.stderr
    line = json.loads(catalog.resolve(json.loads(read(INVENTORY)), read(path), machine="ws-1",
                                      all=True))
    assert line.pop("machine") == "ws-1"
    assert line == json.loads(run.stdout)
    # The compact line (the default) is the fleet's for the same machine.
    compact = catalog.resolve(read(INVENTORY), json.loads(read(path)), machine="ws-1")
    run = subprocess.run([OXPM, "fleet", "--spec", CATALOG, "--platform", "linux-x64",
                          "--machines", "-", "--request", path, "--format", "json"],
                         input=json.dumps({"machine": "ws-1",
                                           "installed": json.loads(read(INVENTORY))}),
                         capture_output=True, text=True, check=False)
    assert compact == run.stdout.splitlines()[0]


def test_a_machine_on_another_platform_gets_that_platforms_catalog(catalog, tmp_path):
    request = tmp_path / "request.json"
    request.write_text('{"install": [{"id": "halden-agent", "version": "4.1.0.0"}]}')
    lines = {}
    for platform in ("linux-x64", "windows-x64"):
        run = run_oxpm("resolve", "--spec", CATALOG, "--platform", platform, "--installed",
                       INVENTORY, "--request", str(request), "--format", "json")
        line = json.loads(catalog.resolve(read(INVENTORY), read(str(request)), platform=platform,
                                          all=True))
        line.pop("machine")
        assert line == json.loads(run.stdout), platform
        lines[platform] = line
    assert lines["linux-x64"] != lines["windows-x64"]
    assert catalog.platform == "linux-x64"


def test_malformed_input_is_refused_with_its_reason(catalog):
    with pytest.raises(ValueError, match="nowhere.xml"):
        oxpm.Catalog([os.path.join(SOURCE, "nowhere.xml")])
    with pytest.raises(ValueError, match="installed"):
        catalog.resolve("[{", {"install": []})
    with pytest.raises(ValueError, match="request"):
        catalog.resolve([], {"install": [{"id": "halden-runtime", "version": "two"}]})
    with pytest.raises(ValueError, match="request my.json"):
        oxpm.check_request({"instal": []}, source="request my.json")
    with pytest.raises(ValueError, match="not JSON"):
        oxpm.Summary().add("{")
    # A machine line that is broken is reported, as the tool reports it.
    line = json.loads(catalog.resolve_line('{"machine": "x"}', request=read(REQUEST),
                                           source="m.jsonl", line_number=7))
    assert line == {"machine": "x", "outcome": "input_error", "ok": False,
                    "error": 'm.jsonl line 7: "installed" must be an array of {"id", "version"}'}


def test_a_line_that_is_not_utf8_is_reported_as_the_tool_reports_it(catalog, tmp_path):
    text = b'{"machine": "ws-\xff", "installed": []}'
    machines = tmp_path / "bad.jsonl"
    machines.write_bytes(text + b"\n")
    run = run_oxpm("fleet", "--spec", CATALOG, "--platform", "linux-x64", "--machines",
                   str(machines), "--request", REQUEST, "--format", "json")
    tools_line = run.stdout.splitlines()[0]
    line = catalog.resolve_line(text, request=json.loads(read(REQUEST)), source=str(machines),
                                line_number=1)
    assert line == tools_line
    assert json.loads(line)["ok"] is False
