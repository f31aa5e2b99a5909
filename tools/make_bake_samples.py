#!/usr/bin/env python3
# Writes the two meshes of the baking demo:
#   samples/bake_high.obj  a studded torus of 256 x 128 quads (65536 triangles): the tube carries a
#                          grid of round studs and four shallow grooves that run around the ring
#                          between the rows of studs;
#   samples/bake_low.obj   the plain torus under it, 48 x 24 quads, with a UV layout of two islands,
#                          one per half of the ring, stacked in the lower and the upper half of the
#                          map with a small margin: u runs along the ring and v around the tube. The
#                          tube is cut open along its wrap-around seam and the ring at both halves'
#                          ends, so the points on the cuts carry two texture coordinates (four at the
#                          crossings). Two halves keep the stretch between the ring's and the tube's
#                          directions low (about 1.6 instead of 2.5 for one island).
# The low torus has the mean radius of the detailed one, so the detail lies on both sides of it and
# the bake finds it along the low normals in both directions.
# The output is the same on every run: `python3 tools/make_bake_samples.py [output folder]`.
import math
import os
import sys

R = 1.0          # ring radius
RT = 0.4         # tube radius of the plain torus
STUD_ROWS = 8    # studs around the tube
STUD_COLS = 24   # studs around the ring
STUD_HEIGHT = 0.035
STUD_RADIUS = 0.38   # of a stud cell, in cell units
GROOVE_DEPTH = 0.015
GROOVES = 4      # grooves around the ring, on every other border between stud rows


def detail(u, v):
    """Offset along the tube's normal at ring angle u and tube angle v (radians)."""
    # Studs: smooth domes in the middle of each cell of a STUD_COLS x STUD_ROWS grid.
    cu = (u / (2 * math.pi) * STUD_COLS) % 1.0 - 0.5
    cv = (v / (2 * math.pi) * STUD_ROWS) % 1.0 - 0.5
    d = math.sqrt(cu * cu + cv * cv) / STUD_RADIUS
    stud = STUD_HEIGHT * (1.0 - d * d) ** 2 if d < 1.0 else 0.0
    # Grooves: narrow cosine valleys around the ring, placed between the stud rows.
    g = (v / (2 * math.pi) * GROOVES) % 1.0 - 0.5
    width = 0.08
    groove = -GROOVE_DEPTH * 0.5 * (1.0 + math.cos(math.pi * g / width)) if abs(g) < width else 0.0
    return stud + groove


def mean_detail(samples=256):
    """Average of the detail over the surface, so that the low torus lies amid it."""
    total = 0.0
    for j in range(samples):
        for i in range(samples):
            total += detail(2 * math.pi * (i + 0.5) / samples, 2 * math.pi * (j + 0.5) / samples)
    return total / (samples * samples)


def torus_point(u, v, r):
    return ((R + r * math.cos(v)) * math.cos(u), (R + r * math.cos(v)) * math.sin(u), r * math.sin(v))


def fmt(x, decimals):
    text = "%.*f" % (decimals, x)
    return text[1:] if text.startswith("-") and float(text) == 0.0 else text


def write(path, lines):
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def high_lines(nu, nv):
    lines = ["# studded torus made by tools/make_bake_samples.py", "o high"]
    for j in range(nv):
        for i in range(nu):
            u, v = 2 * math.pi * i / nu, 2 * math.pi * j / nv
            x, y, z = torus_point(u, v, RT + detail(u, v))
            lines.append("v %s %s %s" % (fmt(x, 5), fmt(y, 5), fmt(z, 5)))
    for j in range(nv):
        for i in range(nu):
            a = j * nu + i + 1
            b = j * nu + (i + 1) % nu + 1
            c = ((j + 1) % nv) * nu + (i + 1) % nu + 1
            d = ((j + 1) % nv) * nu + i + 1
            lines.append("f %d %d %d %d" % (a, b, c, d))
    return lines


UV_MARGIN = 0.02  # around each island, in map units


def low_lines(nu, nv, radius):
    lines = ["# plain torus with two UV islands, made by tools/make_bake_samples.py", "o low"]
    for j in range(nv):
        for i in range(nu):
            x, y, z = torus_point(2 * math.pi * i / nu, 2 * math.pi * j / nv, radius)
            lines.append("v %s %s %s" % (fmt(x, 6), fmt(y, 6), fmt(z, 6)))
    # Island k holds ring columns k * half .. (k + 1) * half; its texture coordinates form a grid of
    # (half + 1) x (nv + 1), the island's last column and row repeating points of the first.
    half = nu // 2
    width, height = 1.0 - 2 * UV_MARGIN, 0.5 - 2 * UV_MARGIN
    for k in range(2):
        for j in range(nv + 1):
            for i in range(half + 1):
                u = UV_MARGIN + width * i / half
                v = 0.5 * k + UV_MARGIN + height * j / nv
                lines.append("vt %s %s" % (fmt(u, 6), fmt(v, 6)))
    for j in range(nv):
        for i in range(nu):
            k, ii = divmod(i, half)
            corners = []
            for di, dj in ((0, 0), (1, 0), (1, 1), (0, 1)):
                point = ((j + dj) % nv) * nu + (i + di) % nu + 1
                tex = k * (half + 1) * (nv + 1) + (j + dj) * (half + 1) + (ii + di) + 1
                corners.append("%d/%d" % (point, tex))
            lines.append("f " + " ".join(corners))
    return lines


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "samples")
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "bake_high.obj"), high_lines(256, 128))
    write(os.path.join(folder, "bake_low.obj"), low_lines(48, 24, RT + mean_detail()))


if __name__ == "__main__":
    main()
