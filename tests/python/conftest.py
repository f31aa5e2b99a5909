# The vexlor program and the samples for the Python tests (ctest sets VEXLOR, VEXLOR_SOURCE_DIR and a
# PYTHONPATH holding the built package).
import os
import subprocess

import pytest

SOURCE_DIR = os.environ.get("VEXLOR_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLES = os.path.join(SOURCE_DIR, "samples")
VEXLOR = os.environ.get("VEXLOR", os.path.join(SOURCE_DIR, "build", "asan", "bin", "vexlor"))


def sample(name: str) -> str:
    return os.path.join(SAMPLES, name)


def run_vexlor(*args, cwd=None):
    return subprocess.run([VEXLOR, *map(str, args)], capture_output=True, text=True, cwd=cwd)


def read_bytes(path) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def write_manifest(folder, jobs) -> str:
    """A JSON-lines manifest in `folder`; outputs in the jobs are relative to it."""
    import json
    path = os.path.join(folder, "jobs.jsonl")
    with open(path, "w") as f:
        for job in jobs:
            f.write(json.dumps(job) + "\n")
    return path


def sample_jobs(bad=False):
    """Jobs over the samples: a reduction, a level chain, a small bake, a conversion; with `bad`, one job
    whose option is not a number among them."""
    jobs = [
        {"id": "quarter", "do": "reduce", "input": sample("sample.obj"), "output": "out/quarter.obj",
         "options": {"ratio": 25}},
        {"id": "chain", "do": "lod", "input": sample("sample.obj"), "output": "out/chain{n}.obj",
         "options": {"levels": "50%,10%"}},
        {"id": "maps", "do": "bake", "high": sample("bake_high.obj"), "low": sample("bake_low.obj"),
         "outputs": {"normal": "out/normal.png", "occlusion": "out/ao.png"},
         "options": {"size": 48, "supersampling": 1, "ao-grid": 1}},
        {"id": "glb", "do": "convert", "input": sample("sample.obj"), "output": "out/sample.glb"},
    ]
    if bad:
        jobs.insert(1, {"id": "broken", "do": "reduce", "input": sample("sample.obj"), "output": "out/broken.obj",
                        "options": {"ratio": "lots"}})
    return jobs


def outputs_of(folder):
    """Every file under folder/out, by relative path, with its bytes."""
    root = os.path.join(folder, "out")
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            found[os.path.relpath(path, root)] = read_bytes(path)
        for name in dirnames:
            found[os.path.relpath(os.path.join(dirpath, name), root) + "/"] = b""
    return found
