"""fleet_dask.py on a LocalCluster of two worker processes against `oxpm fleet`:
the same line for every machine, in the same order, and the same summary."""

import json
import os
import subprocess
import sys

import pytest

pytest.importorskip("distributed")
pytest.importorskip("oxpm")

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("OX_SOURCE_DIR", os.path.join(HERE, "..", ".."))
OXPM = os.environ.get("OXPM_BINARY", "oxpm")
CATALOG = os.path.join(SOURCE, "examples", "halden-spec.xml")
MACHINES = os.path.join(HERE, "machines.jsonl")
REQUEST = os.path.join(SOURCE, "examples", "fleet", "request.json")
COMMON = ["--spec", CATALOG, "--platform", "linux-x64", "--machines", MACHINES,
          "--request", REQUEST, "--format", "json"]


def test_dask_answers_machine_for_machine_as_oxpm_fleet():
    fleet = subprocess.run([OXPM, "fleet", *COMMON], capture_output=True, text=True,
                           check=False, timeout=60)
    # Partitions of five lines: the 37 machines land on both workers, and the
    # last partition is short.
    dask = subprocess.run([sys.executable, os.path.join(HERE, "fleet_dask.py"), *COMMON,
                           "--workers", "2", "--partition-size", "5"],
                          capture_output=True, text=True, check=False, timeout=120)
    assert dask.returncode == fleet.returncode == 1, dask.stderr
    expected = fleet.stdout.splitlines()
    got = dask.stdout.splitlines()
    assert len(got) == len(expected) == 38
    for want, have in zip(expected[:-1], got[:-1]):
        assert json.loads(have)["machine"] == json.loads(want)["machine"]
        assert have == want
    assert got[-1] == expected[-1]
    summary = json.loads(got[-1])["summary"]
    assert len(summary["outcomes"]) == 7


def test_an_unusable_catalog_stops_before_any_worker_starts(tmp_path):
    missing = str(tmp_path / "missing.xml")
    run = subprocess.run([sys.executable, os.path.join(HERE, "fleet_dask.py"), "--spec", missing,
                          "--machines", MACHINES], capture_output=True, text=True, check=False,
                         timeout=60)
    assert run.returncode == 2
    assert "missing.xml" in run.stderr
