// The binary forms the page reads: a polygon object's mesh, and pictures as PNG.
#pragma once

#include <memory>
#include <string>

#include "host/Bitmap.h"
#include "host/Object.h"

namespace host::studio {

// The binary form of a polygon object's mesh, little-endian:
//   "VXM1", u32 points, u32 polygons, u32 flags (1: UVs follow, 2: corner normals follow),
//   f32 x y z per point, i32 a b c d per polygon,
//   [f32 u v per corner, four corners per polygon], [f32 x y z per corner, four per polygon],
//   [flag 4: u8 per polygon, 1 when selected, padded with zeros to a multiple of 4 bytes].
std::string encodeMesh(const PolygonObject& object);
// A copy of the object without the polygons a preview retired (a == b) and without the points that
// no live polygon uses; every tag follows.
std::unique_ptr<PolygonObject> shownCopy(const PolygonObject& object);
// PNG bytes of a bitmap (8-bit samples; 16-bit bitmaps are reduced), "" when it has no pixels.
std::string encodePng(const Bitmap& bitmap);

}  // namespace host::studio
