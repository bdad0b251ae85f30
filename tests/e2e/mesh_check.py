"""Reads krel's mesh outputs with readers that are not krel's: meshio for PLY,
OBJ and Gmsh, the XML parser of Python for LandXML, a strict line parser for
2dm. Usage: mesh_check.py RESULT.xyz FILE... Prints "file points triangles"
per file and exits 1 naming the first file whose nodes are not the result's
(within the 3 decimals written), whose triangles name a missing node, or whose
triangles differ from the first file's."""
import sys
import xml.etree.ElementTree as ET

import meshio


def read_2dm(path):
    lines = open(path).read().split("\n")
    assert lines[0] == "MESH2D" and lines[-1] == "", "MESH2D first, LF last"
    pts, tris = [], []
    for i, line in enumerate(lines[1:-1], 2):
        f = line.split(" ")
        if f[0] == "MESHNAME" and i == 2:
            continue
        if f[0] == "E3T" and len(f) == 6 and int(f[1]) == len(tris) + 1:
            tris.append(tuple(int(v) - 1 for v in f[2:5]))
        elif f[0] == "ND" and len(f) == 5 and int(f[1]) == len(pts) + 1:
            pts.append(tuple(float(v) for v in f[2:5]))
        else:
            raise ValueError(f"line {i}: {line!r}")
    return pts, tris


def read_landxml(path):
    ns = "{http://www.landxml.org/schema/LandXML-1.2}"
    root = ET.parse(path).getroot()
    assert root.tag == ns + "LandXML", root.tag
    (tin,) = root.iter(ns + "Definition")
    assert tin.get("surfType") == "TIN"
    pts, tris = [], []
    for i, p in enumerate(tin.iter(ns + "P"), 1):
        assert int(p.get("id")) == i, f"P id {p.get('id')}"
        n, e, z = (float(v) for v in p.text.split(" "))
        pts.append((e, n, z))
    for f in tin.iter(ns + "F"):
        tris.append(tuple(int(v) - 1 for v in f.text.split(" ")))
    return pts, tris


def read(path):
    if path.endswith(".2dm"):
        return read_2dm(path)
    if path.endswith(".xml"):
        return read_landxml(path)
    m = meshio.read(path)
    tris = [tuple(int(v) for v in t) for c in m.cells if c.type == "triangle" for t in c.data]
    return [tuple(p) for p in m.points], tris


def main():
    want = [tuple(float(v) for v in line.split()) for line in open(sys.argv[1]) if line.strip()]
    first = None
    for path in sys.argv[2:]:
        pts, tris = read(path)
        print(path, len(pts), len(tris))
        if any(not 0 <= v < len(pts) for t in tris for v in t):
            sys.exit(f"{path}: a triangle names a missing node")
        if len(pts) != len(want) or any(abs(a - b) > 5.1e-4 for p, q in zip(pts, want) for a, b in zip(p, q)):
            sys.exit(f"{path}: nodes are not the result's")
        if first is None:
            first = tris
        elif tris != first:
            sys.exit(f"{path}: triangles differ from {sys.argv[2]}'s")


main()
