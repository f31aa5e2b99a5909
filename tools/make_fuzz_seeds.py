#!/usr/bin/env python3
"""Writes the seeds of the Collada, FBX and 3DS fuzz targets (fuzz/corpus/{dae,fbx,3ds}): small
files made here, each a valid mesh the reader loads, so that mutations start from every record and
list the readers know."""
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus")


def write(kind, name, data):
    folder = os.path.join(ROOT, kind)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


# Collada: a quad and a triangle with two materials under a placed node, and a node instanced twice.
DAE = """<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <asset><unit name="meter" meter="1"/><up_axis>Y_UP</up_axis></asset>
  <library_materials><material id="m1" name="steel"/><material id="m2" name="paint"/></library_materials>
  <library_geometries><geometry id="g" name="plate"><mesh>
    <source id="p"><float_array id="pa" count="15">0 0 0 1 0 0 1 1 0 0 1 0 2 0.5 0</float_array>
      <technique_common><accessor source="#pa" count="5" stride="3">
        <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
      </accessor></technique_common></source>
    <source id="t"><float_array id="ta" count="10">0 0 1 0 1 1 0 1 0.5 0.5</float_array>
      <technique_common><accessor source="#ta" count="5" stride="2">
        <param name="S" type="float"/><param name="T" type="float"/>
      </accessor></technique_common></source>
    <vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
    <polylist material="steel" count="1"><input semantic="VERTEX" source="#v" offset="0"/>
      <input semantic="TEXCOORD" source="#t" offset="1" set="0"/>
      <vcount>4</vcount><p>0 0 1 1 2 2 3 3</p></polylist>
    <triangles material="paint" count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>1 4 2</p></triangles>
  </mesh></geometry></library_geometries>
  <library_nodes><node id="shared" name="shared"><instance_geometry url="#g"/></node></library_nodes>
  <library_visual_scenes><visual_scene id="s">
    <node id="rig" name="rig"><matrix>1 0 0 5 0 1 0 6 0 0 1 7 0 0 0 1</matrix>
      <node id="plate" name="plate"><instance_geometry url="#g"/></node>
      <node id="a" name="a"><translate>1 0 0</translate><instance_node url="#shared"/></node>
      <node id="b" name="b"><rotate>0 0 1 90</rotate><instance_node url="#shared"/></node>
    </node>
  </visual_scene></library_visual_scenes>
  <scene><instance_visual_scene url="#s"/></scene>
</COLLADA>
"""

FBX_ASCII = """; FBX 7.4.0 project file
FBXHeaderExtension:  {
	FBXHeaderVersion: 1003
	FBXVersion: 7400
}
Objects:  {
	Geometry: 100, "Geometry::quad", "Mesh" {
		Vertices: *15 {
			a: 0,0,0,1,0,0,1,1,0,0,1,0,2,0.5,0
		}
		PolygonVertexIndex: *7 {
			a: 0,1,2,-4,1,4,-3
		}
	}
	Model: 200, "Model::quad", "Mesh" {
		Properties70:  {
			P: "Lcl Translation", "Lcl Translation", "", "A",1,2,3
		}
	}
	Model: 300, "Model::rig", "Null" {
	}
}
Connections:  {
	C: "OO",300,0
	C: "OO",200,300
	C: "OO",100,200
}
"""


def fbx_property(kind, value):
    if kind == "L":
        return b"L" + struct.pack("<q", value)
    if kind == "I":
        return b"I" + struct.pack("<i", value)
    if kind == "D":
        return b"D" + struct.pack("<d", value)
    if kind == "S":
        return b"S" + struct.pack("<I", len(value)) + value
    if kind in ("d", "i"):
        raw = struct.pack("<%d%s" % (len(value), "d" if kind == "d" else "i"), *value)
        packed = zlib.compress(raw)
        return kind.encode() + struct.pack("<III", len(value), 1, len(packed)) + packed
    raise ValueError(kind)


def fbx_record(name, properties=(), children=None, at=0):
    """A record (version 7400: 32-bit offsets) starting at byte `at` of the file; `children` None for a
    record without a nested list, a list (perhaps empty) for one with."""
    props = b"".join(fbx_property(k, v) for k, v in properties)
    head_len = 13 + len(name)
    body = b""
    for child in children or ():
        body += child(at + head_len + len(props) + len(body))
    if children is not None:
        body += b"\0" * 13
    end = at + head_len + len(props) + len(body)
    return struct.pack("<IIIB", end, len(properties), len(props), len(name)) + name.encode() + props + body


def rec(name, properties=(), children=None):
    return lambda at: fbx_record(name, properties, children, at)


def fbx_binary():
    top = [
        rec("FBXHeaderExtension", children=[rec("FBXHeaderVersion", [("I", 1003)]), rec("FBXVersion", [("I", 7400)])]),
        rec("Objects", children=[
            rec("Geometry", [("L", 100), ("S", b"quad\0\x01Geometry"), ("S", b"Mesh")], [
                rec("Vertices", [("d", [0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0.5, 0])]),
                rec("PolygonVertexIndex", [("i", [0, 1, 2, -4, 1, 4, -3])]),
            ]),
            rec("Model", [("L", 200), ("S", b"quad\0\x01Model"), ("S", b"Mesh")], []),
            rec("Model", [("L", 300), ("S", b"rig\0\x01Model"), ("S", b"Null")], []),
        ]),
        rec("Connections", children=[
            rec("C", [("S", b"OO"), ("L", 300), ("L", 0)]),
            rec("C", [("S", b"OO"), ("L", 200), ("L", 300)]),
            rec("C", [("S", b"OO"), ("L", 100), ("L", 200)]),
        ]),
    ]
    out = b"Kaydara FBX Binary  \0\x1a\0" + struct.pack("<I", 7400)
    for r in top:
        out += r(len(out))
    return out + b"\0" * 13 + b"\0" * 160


def chunk(chunk_id, payload=b"", children=()):
    body = payload + b"".join(children)
    return struct.pack("<HI", chunk_id, 6 + len(body)) + body


def three_ds():
    points = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
    vertices = chunk(0x4110, struct.pack("<H", len(points)) + b"".join(struct.pack("<3f", *p) for p in points))
    faces = chunk(0x4120, struct.pack("<H", 2) + struct.pack("<4H", 0, 1, 2, 0) + struct.pack("<4H", 0, 2, 3, 0))
    uv = chunk(0x4140, struct.pack("<H", 4) + b"".join(struct.pack("<2f", p[0], p[1]) for p in points))
    mesh = chunk(0x4100, children=[vertices, faces, uv])
    obj = chunk(0x4000, b"square\0", [mesh])
    edit = chunk(0x3D3D, children=[chunk(0x3D3E, struct.pack("<I", 3)), obj])
    return chunk(0x4D4D, children=[chunk(0x0002, struct.pack("<I", 3)), edit])


write("dae", "plate_materials_instances.dae", DAE)
write("fbx", "ascii_quad_triangle_rig.fbx", FBX_ASCII)
write("fbx", "binary_quad_triangle_rig.fbx", fbx_binary())
write("3ds", "square.3ds", three_ds())
