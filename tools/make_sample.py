#!/usr/bin/env python3
# Writes samples/sample.obj: a bumpy torus of 72 x 48 quads (3456 shared points) with per-corner texture
# coordinates and smooth normals. The UV map is one island cut open along both wrap-around seams, so the
# points on the seams carry two (or, at the corner point, four) different `vt`. The polygons of the outer
# band form the group "rim", those of the inner band the group "hole"; the rest belong to no group.
# The output is the same on every run: `python3 tools/make_sample.py [output path]`.
import math
import os
import sys

NU, NV = 72, 48          # segments around the ring and around the tube
R, RT = 1.0, 0.35        # ring radius and tube radius


def position(u, v):
    """Point on the bumpy torus for ring angle u and tube angle v (radians)."""
    r = RT * (1.0 + 0.08 * math.sin(6 * u) * math.sin(4 * v))
    return ((R + r * math.cos(v)) * math.cos(u), (R + r * math.cos(v)) * math.sin(u), r * math.sin(v))


def normal(u, v):
    """Surface normal from central differences of the parametrisation."""
    h = 1e-4
    pu = [(a - b) / (2 * h) for a, b in zip(position(u + h, v), position(u - h, v))]
    pv = [(a - b) / (2 * h) for a, b in zip(position(u, v + h), position(u, v - h))]
    n = (pu[1] * pv[2] - pu[2] * pv[1], pu[2] * pv[0] - pu[0] * pv[2], pu[0] * pv[1] - pu[1] * pv[0])
    length = math.sqrt(sum(c * c for c in n))
    return tuple(c / length for c in n)


def fmt(x):
    text = "%.6f" % x
    return "0.000000" if text == "-0.000000" else text


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "samples", "sample.obj")
    lines = ["# bumpy torus made by tools/make_sample.py", "o torus"]
    for j in range(NV):
        for i in range(NU):
            x, y, z = position(2 * math.pi * i / NU, 2 * math.pi * j / NV)
            lines.append("v %s %s %s" % (fmt(x), fmt(y), fmt(z)))
    # (NU + 1) x (NV + 1) texture coordinates: the last column and row repeat the first points' positions
    # with u = 1 or v = 1, which makes the seams.
    for j in range(NV + 1):
        for i in range(NU + 1):
            lines.append("vt %s %s" % (fmt(i / NU), fmt(j / NV)))
    for j in range(NV):
        for i in range(NU):
            nx, ny, nz = normal(2 * math.pi * i / NU, 2 * math.pi * j / NV)
            lines.append("vn %s %s %s" % (fmt(nx), fmt(ny), fmt(nz)))

    def group_of(j):
        if j < 4 or j >= NV - 4:
            return "rim"      # the outer band around v = 0
        if NV // 2 - 4 <= j < NV // 2 + 4:
            return "hole"     # the inner band around v = pi
        return None

    current = None
    for j in range(NV):
        group = group_of(j)
        if group != current:
            lines.append("g " + group if group else "g")
            current = group
        for i in range(NU):
            corners = []
            for di, dj in ((0, 0), (1, 0), (1, 1), (0, 1)):
                pi, pj = (i + di) % NU, (j + dj) % NV
                point = pj * NU + pi + 1
                tex = (j + dj) * (NU + 1) + (i + di) + 1
                corners.append("%d/%d/%d" % (point, tex, point))
            lines.append("f " + " ".join(corners))
    os.makedirs(os.path.dirname(out_path), exist_ok=True)
    with open(out_path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
