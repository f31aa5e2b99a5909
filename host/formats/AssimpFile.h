// FBX, STL, Collada and 3DS files, read through assimp.
//
// Only these four formats reach the library, each through its own importer, which we choose: every
// other importer is taken out of the library's list before the read, so that neither its guess by
// content nor its choice by suffix can hand the file to another. The file is read by us (a regular
// file only) and given to the library from memory through a file system that holds that one file:
// a reference inside it to another file (a material library, a texture) opens nothing. Collada and
// FBX files are first checked by our own bounded scans (ColladaCheck.h, FbxCheck.h) for what the
// library would crash on or allocate without bound.
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

enum class AssimpFormat { Fbx, Stl, Collada, ThreeDs };

bool readWithAssimp(const std::string& path, AssimpFormat format, std::vector<std::unique_ptr<Object>>& roots,
                    std::vector<WeldResult>* welds, std::string* error);

}  // namespace host::formats
