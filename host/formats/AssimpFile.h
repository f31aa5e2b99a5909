// FBX, STL, Collada and 3DS files (and any other assimp reads), read through assimp.
//
// The node tree becomes objects with the nodes' names and placements (the file's own root node is
// left out when it holds no mesh, its placement going to the objects below it). A node's meshes
// become one polygon object: vertices welded by exact position, polygons kept as triangles and quads
// (larger ones cut into a fan), every texture set a UVW tag, normals the corner-normal tag, and the
// meshes' materials polygon-selection tags named after them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/formats/MeshBuild.h"

namespace host::formats {

bool readWithAssimp(const std::string& path, std::vector<std::unique_ptr<Object>>& roots,
                    std::vector<WeldResult>* welds, std::string* error);

}  // namespace host::formats
