// PLY files (ASCII and binary of either byte order), read by our own parser so that every vertex
// property comes in: x y z as points, nx ny nz as corner normals, s t (or u v, texture_u texture_v)
// as texture coordinates, and every other scalar vertex property as a per-point float map of its
// name. Faces (vertex_indices or vertex_index lists) keep 3 and 4 corners; larger ones are cut into
// quads. Other elements are skipped.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/formats/MeshBuild.h"

namespace host::formats {

bool readPly(const std::string& path, std::vector<std::unique_ptr<Object>>& roots, std::vector<WeldResult>* welds,
             std::string* error);

}  // namespace host::formats
