#!/usr/bin/python3
"""vexlor batch against running the same jobs one by one.

    /usr/bin/python3 bench/batch_bench.py [VEXLOR] [--jobs N] [--count 50]

Makes a manifest of COUNT jobs over the samples (reductions, level chains, small bakes, conversions, in
turn), runs each job as its own `vexlor` command one after the other (the baseline, each command with its
default thread count), then the whole manifest with `vexlor batch --jobs 1` and `--jobs N` (default: the
processor count), and prints the times and their ratios. Outputs go to a temporary folder; both runs must give the
same files.
"""
import argparse
import filecmp
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "samples")


def jobs(count):
    s = lambda name: os.path.abspath(os.path.join(SAMPLES, name))  # noqa: E731
    kinds = [
        lambda i: {"do": "reduce", "input": s("sample.obj"), "output": f"out/r{i}.obj", "options": {"ratio": 10 + i % 40}},
        lambda i: {"do": "lod", "input": s("sample.obj"), "output": f"out/l{i}_{{n}}.obj", "options": {"levels": "50%,25%,10%"}},
        lambda i: {"do": "bake", "high": s("bake_high.obj"), "low": s("bake_low.obj"),
                   "outputs": {"normal": f"out/n{i}.png"}, "options": {"size": 128, "supersampling": 1}},
        lambda i: {"do": "convert", "input": s("sample.obj"), "output": f"out/c{i}.glb"},
    ]
    return [dict(kinds[i % len(kinds)](i), id=f"j{i}") for i in range(count)]


def command_of(job, folder):
    """The `vexlor` command line that the batch runs for the job."""
    out = lambda p: os.path.join(folder, p)  # noqa: E731
    if job["do"] == "bake":
        args = ["bake", "--high", job["high"], "--low", job["low"]]
        for kind, path in job["outputs"].items():
            args += ["--" + kind, out(path)]
    else:
        args = [job["do"], job["input"], "-o", out(job["output"])]
    for name, value in job.get("options", {}).items():
        args += ["--" + name, str(value)]
    return args


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("vexlor", nargs="?", default=os.path.join(HERE, "..", "build", "release", "bin", "vexlor"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--count", type=int, default=50)
    args = parser.parse_args()
    manifest_jobs = jobs(args.count)
    with tempfile.TemporaryDirectory(prefix="vexlor-batch-bench-") as root:
        one, many = os.path.join(root, "one"), os.path.join(root, "many")
        for folder in (one, many):
            os.makedirs(os.path.join(folder, "out"))
        manifest = os.path.join(many, "jobs.jsonl")
        with open(manifest, "w") as f:
            f.writelines(json.dumps(job) + "\n" for job in manifest_jobs)

        start = time.monotonic()
        for job in manifest_jobs:
            subprocess.run([args.vexlor] + command_of(job, one), check=True, capture_output=True)
        alone = time.monotonic() - start

        def batch(jobs):
            start = time.monotonic()
            subprocess.run([args.vexlor, "batch", manifest, "--jobs", str(jobs), "--no-journal"], check=True,
                           capture_output=True)
            return time.monotonic() - start

        serial = batch(1)  # the same processes one at a time, each with every core for its threads
        batched = batch(args.jobs)

        a, b = sorted(os.listdir(os.path.join(one, "out"))), sorted(os.listdir(os.path.join(many, "out")))
        same = a == b and all(filecmp.cmp(os.path.join(one, "out", n), os.path.join(many, "out", n), shallow=False)
                              for n in a)
    print(f"{args.count} jobs, {os.cpu_count()} processors")
    print(f"one by one:          {alone:7.2f} s")
    print(f"vexlor batch --jobs 1: {serial:7.2f} s")
    print(f"vexlor batch --jobs {args.jobs}: {batched:7.2f} s")
    print(f"ratio (batch --jobs {args.jobs} / one by one): {batched / alone:.2f}")
    print(f"ratio (batch --jobs {args.jobs} / batch --jobs 1): {batched / serial:.2f}")
    print("outputs identical" if same else "OUTPUTS DIFFER")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
