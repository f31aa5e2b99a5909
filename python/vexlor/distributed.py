"""A batch manifest spread over a Dask cluster: one task per job, each task one ``vexlor batch MANIFEST
--job ID`` process on whichever worker takes it, so every job is as all-or-nothing as in ``vexlor
batch`` (outputs staged beside their targets, moved into place only when the job succeeded).

A worker that dies mid-job takes its vexlor process with it (the process is killed with its parent);
the scheduler gives the job to another worker, which starts it afresh. A job that fails (bad input, a
refused option) is not retried: its message comes back in the summary.

Workers need the vexlor program (``vexlor=...`` names it on the workers) and the manifest's files at
the same paths, as on a shared file system.

    from dask.distributed import Client
    from vexlor.distributed import run_manifest
    with Client("tcp://scheduler:8786") as client:
        summary = run_manifest("/shared/library/jobs.jsonl", client, vexlor="/opt/vexlor/bin/vexlor")
    print(summary.done, summary.failed)

or from a shell: ``python3 -m vexlor.distributed MANIFEST --scheduler tcp://scheduler:8786`` (or
``--local N`` for N worker processes on this machine).
"""
from __future__ import annotations

import argparse
import ctypes
import os
import signal
import subprocess
import sys
import uuid
from dataclasses import dataclass, field
from typing import Dict, List, Optional

__all__ = ["Summary", "job_ids", "run_job", "run_manifest", "main"]


@dataclass
class Summary:
    done: List[str] = field(default_factory=list)
    failed: Dict[str, str] = field(default_factory=dict)  # job id -> the job's one-line message

    @property
    def ok(self) -> bool:
        return not self.failed


def _default_vexlor() -> str:
    """$VEXLOR, else the program beside the module this package uses, else vexlor on the PATH."""
    if os.environ.get("VEXLOR"):
        return os.environ["VEXLOR"]
    from . import _vexlor
    beside = os.path.join(_vexlor.module_dir(), "vexlor")
    return beside if os.path.exists(beside) else "vexlor"


def job_ids(manifest: str, vexlor: Optional[str] = None, shard: Optional[str] = None) -> List[str]:
    """The ids of the manifest's jobs, as ``vexlor batch`` names them (of one shard "I/N" when given)."""
    args = [vexlor or _default_vexlor(), "batch", manifest, "--list"] + (["--shard", shard] if shard else [])
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(done.stderr.strip().splitlines()[-1] if done.stderr.strip() else "vexlor batch --list failed")
    return [line for line in done.stdout.splitlines() if line]


def _die_with_parent() -> None:
    # The job's process must not outlive a worker that is killed: its redo elsewhere would race it.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def run_job(manifest: str, job: str, vexlor: str) -> Dict[str, object]:
    """Runs one job of the manifest in its own vexlor process (this is the task a worker runs)."""
    done = subprocess.run([vexlor, "batch", manifest, "--job", job, "--no-journal", "--jobs", "1"],
                          capture_output=True, text=True, preexec_fn=_die_with_parent)
    message = ""
    if done.returncode != 0:
        lines = [l for l in done.stdout.splitlines() if l.startswith("failed: ")]
        message = lines[-1][len("failed: " + job + ": "):] if lines else (
            done.stderr.strip().splitlines()[-1] if done.stderr.strip() else f"exit status {done.returncode}")
    return {"id": job, "ok": done.returncode == 0, "message": message}


def run_manifest(manifest: str, client, vexlor: Optional[str] = None, shard: Optional[str] = None,
                 progress=None) -> Summary:
    """Runs every job of the manifest (or of one shard) on the client's cluster and gathers the results.
    ``progress(result_dict)`` is called as each job ends."""
    from distributed import as_completed

    vexlor = os.path.abspath(vexlor) if vexlor and os.path.exists(vexlor) else (vexlor or _default_vexlor())
    manifest = os.path.abspath(manifest)
    run = uuid.uuid4().hex[:8]
    futures = [client.submit(run_job, manifest, job, vexlor, key=f"vexlor-{run}-{job}", pure=False)
               for job in job_ids(manifest, vexlor, shard)]
    summary = Summary()
    for future in as_completed(futures):
        result = future.result()
        if result["ok"]:
            summary.done.append(result["id"])
        else:
            summary.failed[result["id"]] = result["message"]
        if progress:
            progress(result)
    return summary


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m vexlor.distributed",
                                     description="Run a vexlor batch manifest on a Dask cluster")
    parser.add_argument("manifest")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler", help="address of a running scheduler, tcp://HOST:PORT")
    where.add_argument("--local", type=int, metavar="N", help="start N worker processes on this machine")
    parser.add_argument("--vexlor", default=None, help="the vexlor program on the workers (default: $VEXLOR or vexlor)")
    parser.add_argument("--shard", default=None, help="I/N: only the I-th of N shares of the manifest")
    args = parser.parse_args(argv)

    from distributed import Client, LocalCluster

    def report(result):
        print(f"{result['id']} {'done' if result['ok'] else 'failed: ' + result['message']}", file=sys.stderr)

    if args.local:
        with LocalCluster(n_workers=args.local, threads_per_worker=1, host="127.0.0.1",
                          dashboard_address=None) as cluster, Client(cluster) as client:
            summary = run_manifest(args.manifest, client, args.vexlor, args.shard, report)
    else:
        with Client(args.scheduler) as client:
            summary = run_manifest(args.manifest, client, args.vexlor, args.shard, report)
    print(f"distributed: {len(summary.done)} done, {len(summary.failed)} failed")
    for job, message in summary.failed.items():
        print(f"failed: {job}: {message}")
    return 0 if summary.ok else 1


if __name__ == "__main__":
    sys.exit(main())
