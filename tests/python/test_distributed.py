# vexlor.distributed on a local Dask cluster of worker processes (loopback only): the same outputs as
# vexlor batch, and a worker killed in the middle of a job whose job is done again elsewhere.
import logging
import os
import shutil
import signal
import threading
import time

import pytest

from conftest import VEXLOR, outputs_of, run_vexlor, sample_jobs, write_manifest

distributed = pytest.importorskip("distributed")
from vexlor.distributed import run_manifest  # noqa: E402


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, silence_logs=logging.CRITICAL) as c:
        with distributed.Client(c) as client:
            yield client


@pytest.fixture(scope="module")
def batch_run(tmp_path_factory):
    """The reference: the manifest (one bad job among good ones) run by vexlor batch."""
    folder = tmp_path_factory.mktemp("batch")
    r = run_vexlor("batch", write_manifest(folder, sample_jobs(bad=True)))
    assert r.returncode == 1
    return outputs_of(folder), r.stdout


def test_a_cluster_run_gives_what_vexlor_batch_gives(tmp_path, cluster, batch_run):
    outputs, batch_summary = batch_run
    summary = run_manifest(write_manifest(tmp_path, sample_jobs(bad=True)), cluster, vexlor=VEXLOR)
    assert sorted(summary.done) == ["chain", "glb", "maps", "quarter"]
    assert list(summary.failed) == ["broken"]
    assert f"failed: broken: {summary.failed['broken']}\n" in batch_summary
    assert outputs_of(tmp_path) == outputs


def test_a_killed_worker_s_job_is_redone_and_nothing_is_half_written(tmp_path, cluster, batch_run):
    outputs, _ = batch_run
    out = tmp_path / "out"
    killed = {}

    def kill_a_worker_mid_job():
        # A job is under way once its staging folder exists; kill the worker process running it.
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and not killed:
            staging = [n for n in (os.listdir(out) if out.exists() else []) if n.startswith(".vexlor-batch.")]
            for name in staging:
                job = name.split(".")[2]
                if job == "broken":  # fails at once either way
                    continue
                for address, keys in cluster.processing().items():
                    if any(str(k).endswith("-" + job) for k in keys):
                        pid = cluster.run(os.getpid, workers=[address])[address]
                        os.kill(pid, signal.SIGKILL)
                        killed.update(job=job, address=address)
                        return
            time.sleep(0.02)

    killer = threading.Thread(target=kill_a_worker_mid_job)
    killer.start()
    summary = run_manifest(write_manifest(tmp_path, sample_jobs(bad=True)), cluster, vexlor=VEXLOR)
    killer.join()
    assert killed, "no job was seen running"
    assert killed["job"] in summary.done
    assert sorted(summary.done) == ["chain", "glb", "maps", "quarter"] and list(summary.failed) == ["broken"]
    # every output whole and as the batch made it, no staging folder or temporary file left
    assert outputs_of(tmp_path) == outputs
    cluster.wait_for_workers(2, timeout=60)
