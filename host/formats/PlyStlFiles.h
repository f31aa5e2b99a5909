// PLY and STL output. Both hold one mesh: every object given goes into it with its points placed
// where the object puts them.
//
// PLY (binary, little-endian): one vertex per distinct point, first texture set and normal; x y z
// as float, then nx ny nz, s t and one float property per float map; faces as lists of 3 or 4
// vertex indices, so quads stay quads.
// STL (binary): triangles (quads split along a-c) with their facet normal.
#pragma once

#include <string>
#include <vector>

#include "host/Object.h"

namespace host::formats {

bool encodePly(const std::vector<const PolygonObject*>& objects, std::string& bytes, std::string* error);
bool encodeStl(const std::vector<const PolygonObject*>& objects, std::string& bytes, std::string* error);

}  // namespace host::formats
