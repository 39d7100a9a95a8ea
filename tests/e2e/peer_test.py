#!/usr/bin/env python3
"""A peer importer reads what convert writes as it reads the original.

    peer_test.py --asehost PATH --peer PATH INPUT.ase...

For every input, the peer (Debian's `assimp`, through its JSON dump) reads
the file and `asehost convert`'s output of it; the two readings must hold
the same triangles (world-space corner positions), the same UVs in every
channel the output writes, the same vertex colours, and, on the triangles
whose smoothing group is planar, the same normals within 1 degree: there the
peer's normals, rebuilt from the smoothing groups, cannot depend on how it
weights faces, so a difference is a group that did not travel.

Exits 77 (skipped) when the peer is missing.
"""
import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile

NORMAL_DEGREES = 1.0


def peer_reading(peer, path, folder, name):
    """The peer's meshes of `path` as a list of triangles, each a list of three
    corners (position, normal, uvs per channel, colour), in world space; None
    when the peer cannot read the file or reads positions that are not
    finite."""
    out = os.path.join(folder, name + ".json")
    done = subprocess.run([peer, "export", path, out, "-fassjson"], capture_output=True, timeout=300)
    if done.returncode != 0 or not os.path.exists(out):
        return None
    # Names pass through as the file's bytes, which need not be UTF-8.
    with open(out, "rb") as f:
        scene = json.loads(f.read().decode("utf-8", "replace"))
    triangles = []

    def walk(node, parent):
        matrix = multiply(parent, [float(x) for x in node["transformation"]])
        for m in node.get("meshes", []):
            triangles.extend(mesh_triangles(scene["meshes"][m], matrix))
        for child in node.get("children", []):
            walk(child, matrix)

    walk(scene["rootnode"], [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1])
    if any(not math.isfinite(x) for t in triangles for c in t for x in c[0]):
        return None
    return triangles


def multiply(a, b):
    """Row-major 4x4 product a * b."""
    return [sum(a[r * 4 + k] * b[k * 4 + c] for k in range(4)) for r in range(4) for c in range(4)]


def transform(matrix, v, w):
    return [sum(matrix[r * 4 + c] * (v[c] if c < 3 else w) for c in range(4)) for r in range(3)]


def normalised(v):
    length = math.sqrt(sum(x * x for x in v))
    return [x / length for x in v] if length > 1e-12 else [0.0, 0.0, 0.0]


def mesh_triangles(mesh, matrix):
    # The peer writes a value it cannot print as a number as a text ("nan").
    vertices = [float(x) for x in mesh["vertices"]]
    normals = [float(x) for x in mesh["normals"]] if mesh.get("normals") else None
    channels = mesh.get("texturecoords", [])
    widths = mesh.get("numuvcomponents", [])
    colours = mesh.get("colors", [])
    # The root's turn is a rotation: normals go through the same matrix
    # without its translation.
    result = []
    for face in mesh["faces"]:
        if len(face) != 3:
            continue
        corners = []
        for i in face:
            position = transform(matrix, vertices[3 * i:3 * i + 3], 1.0)
            normal = normalised(transform(matrix, normals[3 * i:3 * i + 3], 0.0)) if normals else None
            uvs = tuple(tuple(round(x, 4) for x in channel[widths[c] * i:widths[c] * i + 2]) for c, channel in enumerate(channels))
            # No colours read as white, which is what a consumer draws.
            colour = tuple(round(x, 3) for x in colours[0][4 * i:4 * i + 4]) if colours else (1.0, 1.0, 1.0, 1.0)
            corners.append((position, normal, uvs, colour))
        result.append(corners)
    return result


def close(a, b):
    """Two positions the same within what four written decimals allow, and
    the float error of the peer's node transforms (it takes a file's
    vertices back through the inverse of each node's matrix)."""
    return all(abs(x - y) <= 2e-4 + 4e-6 * abs(x) for x, y in zip(a, b))


def cell(p):
    return tuple(math.floor(x * 100.0) for x in p)


class TriangleIndex:
    """Triangles found by their corners, within `close`, in their winding
    order (two triangles back to back on the same corners are told apart):
    bucketed by the grid cell of their first corner, the neighbouring cells
    searched too, so that a rounding across a cell's edge still finds it."""

    def __init__(self, triangles):
        self.cells = {}
        for t in triangles:
            self.cells.setdefault(cell(t[0][0]), []).append(t)

    def take(self, triangle):
        """The matching triangle, rotated to `triangle`'s corner order, and
        taken out of the index; None when there is none."""
        first = cell(triangle[0][0])
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                for dz in (-1, 0, 1):
                    bucket = self.cells.get((first[0] + dx, first[1] + dy, first[2] + dz), [])
                    for i, other in enumerate(bucket):
                        if all(close(triangle[k][0], other[k][0]) for k in range(3)):
                            return bucket.pop(i)
        return None


def rotations(triangle):
    return [triangle[k:] + triangle[:k] for k in range(3)]


def label(p):
    return tuple(round(x, 4) + 0.0 for x in p)


def face_normal(triangle):
    a, b, c = (t[0] for t in triangle)
    u = [b[k] - a[k] for k in range(3)]
    v = [c[k] - a[k] for k in range(3)]
    return normalised([u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]])


def degrees(a, b):
    dot = max(-1.0, min(1.0, sum(x * y for x, y in zip(a, b))))
    return math.degrees(math.acos(dot))


def planar(triangle):
    """The peer gave every corner the face's own normal: its group is planar."""
    n = face_normal(triangle)
    return any(n) and all(c[1] is not None and degrees(c[1], n) <= NORMAL_DEGREES * 0.5 for c in triangle)


def compare(name, before, after, uv_channels):
    """The differences between two readings, as texts; and the numbers compared."""
    faults = []
    stats = {"triangles": 0, "normals": 0, "averaged": 0}
    # Corner colours that differ at one position: the host holds one colour
    # per vertex, so they come out averaged (a loss asehost names).
    colours = {}
    for t in before:
        for c in t:
            colours.setdefault(label(c[0]), set()).add(c[3])
    averaged = {p for p, seen in colours.items() if len(seen) > 1}
    # Faces back to back on the same corners: their normals at those corners
    # sum to nothing, so what the peer makes of them depends on how it
    # weights and groups, not on what travelled.
    windings = {}
    for t in before:
        corners = [label(c[0]) for c in t]
        windings.setdefault(frozenset(corners), set()).add(tuple(rotations(corners)[corners.index(min(corners))]))
    back_to_back = {k for k, seen in windings.items() if len(seen) > 1}
    if len(before) != len(after):
        faults.append(f"{name}: {len(before)} triangles read from the file, {len(after)} from its conversion")
    written = TriangleIndex([r for t in after for r in rotations(t)])
    for t in before:
        u = written.take(t)
        if u is None:
            faults.append(f"{name}: triangle {[label(c[0]) for c in t]} is not in the conversion")
            continue
        # The other two rotations of the match stay behind unmatched: take them too.
        for r in rotations(u)[1:]:
            written.take(r)
        stats["triangles"] += 1
        for corner, other in zip(t, u):
            where = f"{name}: corner {label(corner[0])}"
            # A file without UVs gets the host's (0, 0) written: nothing to keep.
            if corner[2] and corner[2][:uv_channels] != other[2][:uv_channels]:
                faults.append(f"{where}: UVs {corner[2][:uv_channels]} became {other[2][:uv_channels]}")
            if label(corner[0]) in averaged:
                stats["averaged"] += 1
            elif corner[3] != other[3]:
                faults.append(f"{where}: colour {corner[3]} became {other[3]}")
        if planar(t) and frozenset(label(c[0]) for c in t) not in back_to_back:
            for corner, other in zip(t, u):
                stats["normals"] += 1
                if other[1] is None or degrees(corner[1], other[1]) > NORMAL_DEGREES:
                    faults.append(f"{name}: corner {label(corner[0])}: normal {corner[1]} became {other[1]}")
    return faults, stats


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--asehost", required=True)
    parser.add_argument("--peer", default=shutil.which("assimp"))
    parser.add_argument("inputs", nargs="+")
    args = parser.parse_args()
    if not args.peer or not os.path.exists(args.peer) or args.peer.endswith("-NOTFOUND"):
        print("no peer importer (assimp): skipped")
        return 77

    inputs = []
    for item in args.inputs:
        if not os.path.exists(item):
            print(f"  {item}: not here, left out")
        elif os.path.isdir(item):
            inputs += [os.path.join(item, n) for n in sorted(os.listdir(item))
                       if n.lower().endswith(".ase") and not n.startswith(("bad_", "no_geometry"))]
        else:
            inputs.append(item)

    folder = tempfile.mkdtemp(prefix="peer_test_")
    faults, files, totals = [], 0, {"triangles": 0, "normals": 0, "averaged": 0}
    try:
        for index, source in enumerate(inputs):
            name = os.path.basename(source)
            converted = os.path.join(folder, f"{index}.ase")
            done = subprocess.run([args.asehost, "convert", "--quiet", source, converted], capture_output=True, timeout=300)
            if done.returncode != 0:
                faults.append(f"{name}: convert failed: {done.stderr.decode(errors='replace').strip()}")
                continue
            after = peer_reading(args.peer, converted, folder, f"{index}_after")
            if after is None:
                faults.append(f"{name}: the peer cannot read the conversion")
                continue
            before = peer_reading(args.peer, source, folder, f"{index}_before")
            if before is None:
                print(f"  {name}: the peer cannot read the file itself; it reads the conversion")
                continue
            with open(converted, "rb") as f:
                uv_channels = 2 if b"*MESH_MAPPINGCHANNEL 2" in f.read() else 1
            found, stats = compare(name, before, after, uv_channels)
            faults += found
            files += 1
            for k in totals:
                totals[k] += stats[k]
            print(f"  {name}: {stats['triangles']} triangles, {stats['normals']} corner normals on planar groups, "
                  f"{uv_channels} UV channel(s), {stats['averaged']} corner colours averaged")
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    print(f"{files} files: {totals['triangles']} triangles and {totals['normals']} corner normals compared; "
          f"{totals['averaged']} corner colours averaged by design")
    for fault in faults[:50]:
        print("FAULT " + fault)
    if files == 0 or totals["normals"] == 0:
        print("FAULT nothing was compared")
        return 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
