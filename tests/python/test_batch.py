# vexlor batch: all-or-nothing jobs, a journal that makes reruns do only what is left, disjoint shards.
import os

from conftest import outputs_of, run_vexlor, sample, sample_jobs, write_manifest


def test_a_bad_job_fails_alone_and_a_rerun_does_only_it(tmp_path):
    manifest = write_manifest(tmp_path, sample_jobs(bad=True))
    first = run_vexlor("batch", manifest, "--jobs", 2)
    assert first.returncode == 1
    assert "batch: 4 done, 1 failed, 0 skipped" in first.stdout
    assert "failed: broken: vexlor reduce: --ratio lots is not a number" in first.stdout
    made = outputs_of(tmp_path)
    assert sorted(made) == ["ao.png", "chain1.obj", "chain2.obj", "normal.png", "quarter.obj", "sample.glb"]
    # nothing of the failed job, and no staging folder or temporary file left anywhere
    assert not any(name.startswith(".") for name in os.listdir(tmp_path / "out"))

    # The journal knows the good jobs: a rerun does the bad one only (and fails it again).
    stamps = {name: os.stat(tmp_path / "out" / name).st_mtime_ns for name in made}
    second = run_vexlor("batch", manifest)
    assert second.returncode == 1
    assert "batch: 0 done, 1 failed, 4 skipped" in second.stdout
    assert "[1/1] broken failed" in second.stderr
    assert {name: os.stat(tmp_path / "out" / name).st_mtime_ns for name in made} == stamps

    # Mended, the job runs and the batch is clean; a changed job is done again, a removed output too.
    jobs = sample_jobs(bad=True)
    jobs[1]["options"]["ratio"] = 40
    jobs[0]["options"]["ratio"] = 30
    write_manifest(tmp_path, jobs)
    os.remove(tmp_path / "out" / "sample.glb")
    third = run_vexlor("batch", manifest)
    assert third.returncode == 0, third.stdout + third.stderr
    assert "batch: 3 done, 0 failed, 2 skipped" in third.stdout
    assert os.path.exists(tmp_path / "out" / "broken.obj") and os.path.exists(tmp_path / "out" / "sample.glb")
    assert run_vexlor("batch", manifest).stdout.startswith("batch: 0 done, 0 failed, 5 skipped")


def test_two_shards_cover_the_manifest_exactly_once(tmp_path):
    names = [f"{i}.{('ply', 'stl')[i % 2]}" for i in range(5)]
    jobs = [{"do": "convert", "input": sample("sample.obj"), "output": "out/" + name} for name in names]
    manifest = write_manifest(tmp_path, jobs)
    ran = []
    for shard in ("1/2", "2/2"):
        listed = run_vexlor("batch", manifest, "--shard", shard, "--list").stdout.split()
        r = run_vexlor("batch", manifest, "--shard", shard)
        assert r.returncode == 0, r.stderr
        assert f"({len(listed)} of {len(jobs)} jobs in shard {shard})" in r.stdout
        ran += listed
    assert sorted(ran) == sorted(f"job-{i + 1}" for i in range(len(jobs)))
    assert sorted(outputs_of(tmp_path)) == sorted(names)
    # both shards wrote one journal; together they make a rerun of the whole manifest a no-op
    assert run_vexlor("batch", manifest).stdout.startswith(f"batch: 0 done, 0 failed, {len(jobs)} skipped")
    assert run_vexlor("batch", manifest, "--shard", "3/2").returncode == 1


def test_a_manifest_that_would_lose_data_is_refused_before_any_work(tmp_path):
    jobs = sample_jobs()
    cases = [
        (jobs[:1] + [dict(jobs[0], id="again")], "both write"),
        ([dict(jobs[0], output=jobs[0]["input"])], "is one of its inputs"),
        ([jobs[0], {"do": "reduce", "input": "out/quarter.obj", "output": "out/q2.obj", "options": {"ratio": 50}}],
         "which another job reads"),
        ([dict(jobs[0], output=".")], "is a folder"),
        ([dict(jobs[0], options={"output": "x.obj"})], "cannot be given in \"options\""),
        ([{"do": "explode", "input": "a.obj", "output": "b.obj"}], "unknown \"do\""),
    ]
    for manifest_jobs, message in cases:
        manifest = write_manifest(tmp_path, manifest_jobs)
        r = run_vexlor("batch", manifest)
        assert r.returncode == 1 and message in r.stderr, (message, r.stderr)
        assert not os.path.exists(tmp_path / "out")
    (tmp_path / "broken.json").write_text('[{"do": "convert",')
    r = run_vexlor("batch", tmp_path / "broken.json")
    assert r.returncode == 1 and "not valid JSON" in r.stderr
