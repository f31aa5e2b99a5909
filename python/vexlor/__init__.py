"""vexlor in Python: meshes as numpy arrays, and the engine's reduction, levels of detail, baking and
rendering, run through the same host and module as the ``vexlor`` command line.

    import vexlor
    mesh = vexlor.load("samples/sample.obj")
    low = vexlor.reduce(mesh, ratio=25)
    vexlor.save(low, "out/low.obj")
    maps = vexlor.bake(vexlor.load("samples/bake_high.obj"), vexlor.load("samples/bake_low.obj"),
                       normal=True, occlusion=True, size=512)
    maps["normal"].shape   # (512, 512, 3), uint8

Every call that fails raises :class:`vexlor.Error` with the command line's one-line message. Ctrl-C
during a reduction or a bake stops it and raises KeyboardInterrupt; the input mesh is untouched. The
engine's work runs without the interpreter lock, so other Python threads go on meanwhile (engine calls
themselves run one at a time in a process: spread work over processes with ``vexlor batch`` or
:mod:`vexlor.distributed`).
"""
from __future__ import annotations

import os
import tempfile
from typing import Any, Dict, List, Optional, Sequence, Union

import numpy as np

# An installed package carries the vexlor program and the module in engine/; a build folder's package
# uses the build's own (the extension knows where it is).
_ENGINE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "engine")
if os.path.exists(os.path.join(_ENGINE, "vexlor_module.so")):
    os.environ.setdefault("VEXLOR_MODULE_DIR", _ENGINE)
    os.environ.setdefault("VEXLOR", os.path.join(_ENGINE, "vexlor"))

from . import _vexlor  # noqa: E402
from ._vexlor import Error  # noqa: E402

__all__ = ["Error", "Mesh", "load", "save", "from_arrays", "reduce", "lod", "bake", "render", "read_image",
           "show_progress"]

PathLike = Union[str, os.PathLike]


class Mesh:
    """The objects of a mesh file. ``points``, ``polygons`` and ``uv_sets`` are numpy views of the
    first polygon object's arrays (``object=i`` for the others): writing into them changes the mesh.
    Polygons are n x 4 point indices, a triangle with c == d; a UV set is polygons x 4 corners x
    (u, v, w). ``groups`` maps each polygon group's name to its polygon indices."""

    def __init__(self, handle: "_vexlor.Mesh") -> None:
        self._handle = handle

    @property
    def object_count(self) -> int:
        """Number of polygon objects."""
        return self._handle.object_count

    def object_name(self, object: int = 0) -> str:
        return self._handle.object_name(object)

    @property
    def points(self) -> np.ndarray:
        """n x 3 float32 view of the first object's points."""
        return self._handle.points(0)

    @property
    def polygons(self) -> np.ndarray:
        """n x 4 int32 view of the first object's polygons (c == d for a triangle)."""
        return self._handle.polygons(0)

    @property
    def uv_sets(self) -> List[np.ndarray]:
        """The first object's UV sets, each a polygons x 4 x 3 float32 view."""
        return self._handle.uv_sets(0)

    @property
    def groups(self) -> Dict[str, np.ndarray]:
        """The first object's polygon groups: name -> polygon indices."""
        return self._handle.groups(0)

    def object_points(self, object: int) -> np.ndarray:
        return self._handle.points(object)

    def object_polygons(self, object: int) -> np.ndarray:
        return self._handle.polygons(object)

    def object_uv_sets(self, object: int) -> List[np.ndarray]:
        return self._handle.uv_sets(object)

    def object_groups(self, object: int) -> Dict[str, np.ndarray]:
        return self._handle.groups(object)

    def __repr__(self) -> str:
        return f"<vexlor.Mesh {self.object_count} objects, {len(self.points)} points in the first>"


def load(path: PathLike) -> Mesh:
    """Reads a mesh file (OBJ, glTF, FBX, PLY, STL, Collada, 3DS)."""
    return Mesh(_vexlor.load(os.fspath(path)))


def save(mesh: Mesh, path: PathLike) -> None:
    """Writes the mesh in the format of the path's suffix (.obj, .glb, .gltf, .ply, .stl); the file is
    replaced only once it is written whole."""
    _vexlor.save(mesh._handle, os.fspath(path))


def from_arrays(points: np.ndarray, polygons: np.ndarray, uv_sets: Sequence[np.ndarray] = (),
                name: str = "Polygon") -> Mesh:
    """A one-object mesh from n x 3 points, n x 3 triangles or n x 4 polygons (c == d for a triangle)
    and UV sets of polygons x 4 x 2 (or 3)."""
    return Mesh(_vexlor.from_arrays(points, polygons, list(uv_sets), name))


def read_image(path: PathLike) -> np.ndarray:
    """An image file (TIFF, PNG, EXR, TGA, BMP) as a height x width x channels array (uint8, uint16 or
    float32), first row v = 1 as the maps are written."""
    return _vexlor.read_image(os.fspath(path))


# Files are the functions' own business: these options would point the command elsewhere.
_RESERVED = {"o", "output", "input", "high", "low", "normal", "occlusion", "displacement", "asset", "show_dialog",
             "help", "module_dir", "compare", "compare_reduction"}


def show_progress(on: bool = True) -> None:
    """Shows the engine's progress line on stderr while it works (off by default)."""
    _vexlor.show_progress(on)


def _options(options: Dict[str, Any]) -> List[str]:
    """Keyword arguments as the command line's options: boundary_weight=5 -> --boundary-weight 5."""
    args: List[str] = []
    for name, value in options.items():
        if name in _RESERVED:
            raise TypeError(f"{name}= is not an option here: the function reads and returns its meshes and maps")
        flag = "--" + name.replace("_", "-")
        if value is None or value is False:
            continue
        if value is True:
            args.append(flag)
        elif isinstance(value, (list, tuple)):
            for v in value:
                args += [flag, str(v)]
        else:
            args += [flag, str(value)]
    return args


def _temp_input(folder: str, mesh: Mesh, name: str, shown: Dict[str, str]) -> str:
    """Writes the mesh where the command reads it; messages will name the mesh's own file instead."""
    path = os.path.join(folder, name + mesh._handle.format_suffix)
    save(mesh, path)
    shown[path] = mesh._handle.source or f"the {name} mesh"
    return path


def _run(args: List[str], shown: Dict[str, str]) -> None:
    try:
        _vexlor.run([str(a) for a in args])
    except Error as error:
        message = str(error)
        for path, name in shown.items():
            message = message.replace(path, name)
        raise Error(message) from None


def reduce(mesh: Mesh, points: Optional[int] = None, ratio: Optional[float] = None,
           error: Optional[float] = None, group: Optional[str] = None, **options: Any) -> Mesh:
    """A reduced copy of the mesh: to a point count, a percentage of each object's points, or an error
    limit. ``group`` reduces only that polygon group; other options are the command line's
    (weighting, no_checks, boundary_weight, compactness, flip, valence, hierarchy, weld, threads)."""
    with tempfile.TemporaryDirectory(prefix="vexlor-") as folder:
        shown: Dict[str, str] = {}
        src = _temp_input(folder, mesh, "input", shown)
        out = os.path.join(folder, "reduced" + mesh._handle.format_suffix)
        extra = _options({"points": points, "ratio": ratio, "error": error, "group": group, **options})
        _run(["reduce", src, "-o", out] + extra, shown)
        return load(out)


def lod(mesh: Mesh, levels: Union[str, Sequence[Union[str, int]]], **options: Any) -> List[Mesh]:
    """Levels of detail from one reduction pass: ``levels`` as "50%,25%", ["50%", 2000, "e0.001"]."""
    if not isinstance(levels, str):
        levels = ",".join(str(level) for level in levels)
    with tempfile.TemporaryDirectory(prefix="vexlor-") as folder:
        shown: Dict[str, str] = {}
        src = _temp_input(folder, mesh, "input", shown)
        pattern = os.path.join(folder, "level{n}" + mesh._handle.format_suffix)
        _run(["lod", src, "-o", pattern, "--levels", levels] + _options(options), shown)
        count = len(levels.split(","))
        return [load(pattern.replace("{n}", str(n))) for n in range(1, count + 1)]


def bake(high: Mesh, low: Mesh, normal: Union[bool, PathLike] = True, occlusion: Union[bool, PathLike] = False,
         displacement: Union[bool, PathLike] = False, size: int = 600, **options: Any) -> Dict[str, np.ndarray]:
    """Bakes maps of ``high`` over the UV layout of ``low``; returns {"normal": array, ...} for the maps
    asked for. A map given a path is also written there. Other options are the command line's
    (supersampling, bits, format, occluders, ao_grid, ao_random, ao_exponent, normal_y, threads...)."""
    with tempfile.TemporaryDirectory(prefix="vexlor-") as folder:
        shown: Dict[str, str] = {}
        args = ["bake", "--high", _temp_input(folder, high, "high", shown),
                "--low", _temp_input(folder, low, "low", shown)]
        files: Dict[str, str] = {}
        # the maps of one bake share a format: the one asked for, else that of a map given a path
        named = [os.fspath(w) for w in (normal, occlusion, displacement) if w not in (True, False, None)]
        suffix = "." + options["format"] if "format" in options else (
            os.path.splitext(named[0])[1] if named else ".tif")
        for kind, want in (("normal", normal), ("occlusion", occlusion), ("displacement", displacement)):
            if want is False or want is None:
                continue
            files[kind] = os.path.join(folder, kind + suffix) if want is True else os.fspath(want)
            args += ["--" + kind, files[kind]]
        if not files:
            raise Error("vexlor bake: ask for at least one map (normal, occlusion or displacement)")
        _run(args + ["--size", str(size)] + _options(options), shown)
        return {kind: read_image(path) for kind, path in files.items()}


def render(mesh: Mesh, size: str = "640x480", view: Optional[str] = None,
           normal_map: Optional[PathLike] = None, **options: Any) -> np.ndarray:
    """The host's ray-traced image of the mesh (height x width x channels uint8); view is front, side,
    top or perspective; other options are the command line's (samples, wireframe, uv_set, threads...)."""
    with tempfile.TemporaryDirectory(prefix="vexlor-") as folder:
        out = os.path.join(folder, "render.png")
        extra = _options({"size": size, "view": view,
                          "normal_map": os.fspath(normal_map) if normal_map else None, **options})
        shown: Dict[str, str] = {}
        _run(["render", _temp_input(folder, mesh, "input", shown), "-o", out, "--quiet"] + extra, shown)
        return read_image(out)
