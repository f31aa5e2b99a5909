#!/usr/bin/python3
"""The bake against an earlier build of itself, in the same run, and against its own single thread.

    /usr/bin/python3 bench/bake_against_build.py [BAKE_BENCH] [--base REV] [--runs 5]

BAKE_BENCH is this build's bake_bench (default build/rel/bin/bake_bench). REV's bake_bench is built once
in a worktree of its own under build/bake-base-REV (Release, benchmarks only). Then, taking the two
builds in turn RUNS times, each bakes:

    normal 1024   the 1024² normal map of the 1M-triangle torus, one sample a texel, on every core
    occl. 512     the 512² occlusion map (direction grid 3, 37 rays a texel), on every core
    normal, 1 th. the normal map on one thread

and the medians of the whole bake's wall time are printed with the ratio of this build to REV, the speed-up
of every core over one, and the machine's core count. The maps of both builds must be the same byte for
byte (for every thread count, which the tests check).
"""
import argparse
import filecmp
import os
import re
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, ".."))
# The last build before the bake's speed work: octree, queries and threads as they were.
DEFAULT_BASE = "e3dd6dc"

JOBS = [
    ("normal 1024", ["--runs", "n1"], "all", "n1-normal.tif"),
    ("occl. 512", ["--runs", "ao", "--size", "512"], "all", "ao-occlusion.tif"),
    ("normal, 1 th.", ["--runs", "n1"], "one", "n1-normal.tif"),
]


def build_base(rev):
    folder = os.path.join(ROOT, "build", f"bake-base-{rev}")
    binary = os.path.join(folder, "build", "bin", "bake_bench")
    if os.path.exists(binary):
        return binary
    source = os.path.join(folder, "src")
    if not os.path.isdir(source):
        subprocess.run(["git", "-C", ROOT, "worktree", "add", "--detach", source, rev], check=True,
                       stdout=subprocess.DEVNULL)
    build = os.path.join(folder, "build")
    subprocess.run(["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DVEXLOR_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 1), "--target", "bake_bench"], check=True,
                   stdout=subprocess.DEVNULL)
    return binary


def bake(binary, args, threads, keep):
    out = subprocess.run([binary, *args, "--threads", str(threads), "--keep", keep], capture_output=True, text=True)
    found = re.search(r"done in ([0-9.]+) s", out.stdout)
    if out.returncode != 0 or not found:
        sys.exit(f"{binary} {' '.join(args)}: no finished bake\n{out.stdout}{out.stderr}")
    return float(found.group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bake_bench", nargs="?", default=os.path.join(ROOT, "build", "rel", "bin", "bake_bench"))
    parser.add_argument("--base", default=DEFAULT_BASE)
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    cores = os.cpu_count() or 1
    builds = {"this build": os.path.abspath(options.bake_bench), options.base: build_base(options.base)}
    times = {(job[0], name): [] for job in JOBS for name in builds}
    same = True
    with tempfile.TemporaryDirectory() as scratch:
        for run in range(options.runs):
            for label, args, threads, map_name in JOBS:
                maps = []
                for name, binary in builds.items():
                    keep = os.path.join(scratch, f"{run}-{len(maps)}")
                    times[(label, name)].append(bake(binary, args, cores if threads == "all" else 1, keep))
                    maps.append(os.path.join(keep, map_name))
                same = same and filecmp.cmp(maps[0], maps[1], shallow=False)
    median = {key: statistics.median(values) for key, values in times.items()}
    print(f"{cores} cores; medians of {options.runs} runs, whole bake, seconds")
    print(f"{'':16}{'this build':>12}{options.base:>12}{'ratio':>8}")
    for label, *_ in JOBS:
        ours, theirs = median[(label, "this build")], median[(label, options.base)]
        print(f"{label:16}{ours:12.3f}{theirs:12.3f}{ours / theirs:8.2f}")
    one, all_cores = median[("normal, 1 th.", "this build")], median[("normal 1024", "this build")]
    print(f"normal map on {cores} cores against one: {one / all_cores:.2f}x faster")
    print(f"maps the same as {options.base}'s: {'yes' if same else 'NO'}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
