# The Python module against the command line: the same engine, the same files, the same messages.
import os
import signal
import threading

import numpy as np
import pytest

import vexlor
from conftest import read_bytes, run_vexlor, sample


def test_points_and_uvs_round_trip_through_numpy(tmp_path):
    low = vexlor.load(sample("bake_low.obj"))
    points = low.points.copy()
    uvs = low.uv_sets[0].copy()
    assert points.shape[1] == 3 and uvs.shape == (len(low.polygons), 4, 3)
    # The arrays are views: a change made through numpy is what gets written.
    low.points[:, 1] += 0.25
    low.uv_sets[0][:, :, 0] = 1.0 - low.uv_sets[0][:, :, 0]
    moved = points + np.float32([0, 0.25, 0])
    flipped = np.stack([1.0 - uvs[:, :, 0], uvs[:, :, 1]], -1)
    vexlor.save(low, tmp_path / "moved.obj")
    back = vexlor.load(tmp_path / "moved.obj")
    np.testing.assert_array_equal(back.polygons, low.polygons)
    np.testing.assert_allclose(back.points, moved, rtol=0, atol=1e-6)
    np.testing.assert_allclose(back.uv_sets[0][:, :, :2], flipped, rtol=0, atol=1e-6)
    # glTF holds triangles: each point keeps its place and each corner its UV.
    vexlor.save(low, tmp_path / "moved.glb")
    back = vexlor.load(tmp_path / "moved.glb")
    assert {tuple(p) for p in back.points} == {tuple(p) for p in moved}
    corner_uv = {}
    for polygon, rows in zip(back.polygons, back.uv_sets[0]):
        for k in range(4):
            corner_uv.setdefault(tuple(back.points[polygon[k]]), set()).add(tuple(np.round(rows[k, :2], 5)))
    for polygon, rows in zip(low.polygons, flipped):
        for k in range(4):
            assert tuple(np.round(rows[k], 5)) in corner_uv[tuple(moved[polygon[k]])]

    # A mesh made from arrays: a quad and a triangle (c == d), with one UV set.
    quad_tri = vexlor.from_arrays(np.float32([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [2, 0, 0]]),
                                  np.int32([[0, 1, 2, 3], [1, 4, 2, 2]]),
                                  [np.float32([[[0, 0], [1, 0], [1, 1], [0, 1]], [[0, 0], [1, 0], [1, 1], [1, 1]]])])
    vexlor.save(quad_tri, tmp_path / "two.obj")
    back = vexlor.load(tmp_path / "two.obj")
    np.testing.assert_array_equal(back.polygons, [[0, 1, 2, 3], [1, 4, 2, 2]])
    np.testing.assert_array_equal(back.uv_sets[0][1, :, :2], [[0, 0], [1, 0], [1, 1], [1, 1]])


def assert_same_mesh(result, cli_file, tmp_path):
    """The same arrays, and the same bytes once written (a file the command wrote can hold texture
    coordinates no corner uses any more, which a reading drops)."""
    cli = vexlor.load(cli_file)
    np.testing.assert_array_equal(result.points, cli.points)
    np.testing.assert_array_equal(result.polygons, cli.polygons)
    for mine, theirs in zip(result.uv_sets, cli.uv_sets, strict=True):
        np.testing.assert_array_equal(mine, theirs)
    vexlor.save(result, tmp_path / "mine.obj")
    vexlor.save(cli, tmp_path / "theirs.obj")
    assert read_bytes(tmp_path / "mine.obj") == read_bytes(tmp_path / "theirs.obj")


def test_reduce_lod_and_bake_give_what_the_command_line_gives(tmp_path):
    mesh = vexlor.load(sample("sample.obj"))
    r = run_vexlor("reduce", sample("sample.obj"), "-o", tmp_path / "cli.obj", "--ratio", 25, "--group", "rim")
    assert r.returncode == 0, r.stderr
    reduced = vexlor.reduce(mesh, ratio=25, group="rim")
    assert_same_mesh(reduced, tmp_path / "cli.obj", tmp_path)
    assert len(reduced.points) < len(mesh.points)

    r = run_vexlor("lod", sample("sample.obj"), "-o", tmp_path / "cli{n}.obj", "--levels", "50%,10%")
    assert r.returncode == 0, r.stderr
    levels = vexlor.lod(mesh, ["50%", "10%"])
    assert len(levels) == 2 and len(levels[1].points) < len(levels[0].points)
    for n, level in enumerate(levels, start=1):
        assert_same_mesh(level, tmp_path / f"cli{n}.obj", tmp_path)

    options = ["--size", 64, "--supersampling", 1, "--ao-grid", 2]
    r = run_vexlor("bake", "--high", sample("bake_high.obj"), "--low", sample("bake_low.obj"),
                   "--normal", tmp_path / "cli_n.png", "--occlusion", tmp_path / "cli_ao.png", *options)
    assert r.returncode == 0, r.stderr
    maps = vexlor.bake(vexlor.load(sample("bake_high.obj")), vexlor.load(sample("bake_low.obj")),
                       normal=tmp_path / "py_n.png", occlusion=True, size=64, supersampling=1, ao_grid=2)
    assert read_bytes(tmp_path / "py_n.png") == read_bytes(tmp_path / "cli_n.png")
    np.testing.assert_array_equal(maps["occlusion"], vexlor.read_image(tmp_path / "cli_ao.png"))
    assert maps["normal"].shape == (64, 64, 3) and maps["normal"].dtype == np.uint8
    # a normal map of a real bake is not flat: blue dominates, red and green vary
    assert maps["normal"][..., 0].std() > 1


def test_failures_raise_the_command_lines_message(tmp_path):
    bad = tmp_path / "broken.obj"
    bad.write_text("v 0 0 0\nv 1 0 0\nf 1 2 9\n")
    r = run_vexlor("reduce", bad, "-o", tmp_path / "x.obj", "--ratio", 50)
    assert r.returncode != 0
    message = r.stderr.strip().splitlines()[-1]
    with pytest.raises(vexlor.Error) as caught:
        vexlor.load(bad)
    assert str(caught.value) in message  # the command prefixes "vexlor reduce: "
    assert "broken.obj" in str(caught.value)

    mesh = vexlor.load(sample("sample.obj"))
    with pytest.raises(vexlor.Error, match=r"^vexlor reduce: .*group.*nothing"):
        vexlor.reduce(mesh, ratio=50, group="nothing")
    r = run_vexlor("reduce", sample("sample.obj"), "-o", tmp_path / "y.obj", "--ratio", 50, "--group", "nothing")
    with pytest.raises(vexlor.Error) as caught:
        vexlor.reduce(mesh, ratio=50, group="nothing")
    assert str(caught.value) == r.stderr.strip().splitlines()[-1]


def grid(n):
    """An n x n quad grid over a bumpy surface: big enough that a reduction takes a while."""
    u, v = np.meshgrid(np.linspace(0, 1, n + 1), np.linspace(0, 1, n + 1))
    z = 0.05 * np.sin(11 * u) * np.cos(7 * v)
    points = np.stack([u, v, z], -1).reshape(-1, 3).astype(np.float32)
    i = np.arange(n)[:, None] * (n + 1) + np.arange(n)[None, :]
    quads = np.stack([i, i + 1, i + n + 2, i + n + 1], -1).reshape(-1, 4).astype(np.int32)
    return vexlor.from_arrays(points, quads)


def interrupt_once_progress_shows():
    """Sends SIGINT (what Ctrl-C at a terminal sends) once the engine prints its first progress, that is
    once the reduction itself runs; returns a function that undoes the watch of stderr."""
    read_end, write_end = os.pipe()
    saved = os.dup(2)
    os.dup2(write_end, 2)
    os.close(write_end)
    sent = threading.Event()

    def watch():
        while True:
            chunk = os.read(read_end, 4096)
            if not chunk:
                return
            if b"%" in chunk and not sent.is_set():
                sent.set()
                os.kill(os.getpid(), signal.SIGINT)

    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()

    def stop():
        os.dup2(saved, 2)
        os.close(saved)
        watcher.join(timeout=10)
        os.close(read_end)
        return sent.is_set()
    return stop


def test_keyboard_interrupt_stops_a_reduction_and_leaves_the_mesh_as_it_was():
    mesh = grid(300)
    before_points = mesh.points.copy()
    before_polygons = mesh.polygons.copy()
    vexlor.show_progress(True)
    stop = interrupt_once_progress_shows()
    try:
        with pytest.raises(KeyboardInterrupt):
            vexlor.reduce(mesh, points=50)
    finally:
        sent = stop()
        vexlor.show_progress(False)
    assert sent
    np.testing.assert_array_equal(mesh.points, before_points)
    np.testing.assert_array_equal(mesh.polygons, before_polygons)
    # The interpreter's own Ctrl-C handling is back, and the engine works again.
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    assert len(vexlor.reduce(vexlor.load(sample("sample.obj")), ratio=50).points) > 0
