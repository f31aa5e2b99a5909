// glTF 2.0 files (`.gltf` with its buffers, `.glb`), read and written through tinygltf.
//
// Reading: the default scene's node tree (every root when there is no scene) becomes objects with the
// nodes' names and placements; a node with a mesh becomes a polygon object (its primitives' vertices
// welded by exact position), any other node a group object. TEXCOORD_n become UVW tags (v turned
// from glTF's top-down to our bottom-up), NORMAL the corner-normal tag, scalar custom attributes
// (`_NAME`) per-point float maps, and primitive materials polygon-selection tags named after them.
// Levels referred to by a node's MSFT_lod extension are read as further top-level objects after the
// scene's own.
//
// Writing: the objects given, with their ancestors so that placements stay whole; one mesh per
// polygon object with one vertex per distinct point, texture coordinates and normal, triangles
// (quads split along a-c), one primitive per polygon-selection tag as a material of its name.
// Objects with baked maps get, instead, one metallic-roughness material that carries the maps as
// its normal and occlusion textures over the first texture coordinates, the images inside the file.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/formats/MeshBuild.h"

namespace host::formats {

// The maps baked for one polygon object, as PNG files in memory in glTF's own conventions: the first
// image row at texture coordinate t = 0 (our v = 1), and the normal map's green channel y up the
// texture. The occlusion map is grey (glTF reads its red channel); empty: none.
struct BakedMaps {
    std::string normalPng;
    std::string occlusionPng;
};
using BakedMapsOf = std::map<const Object*, BakedMaps>;

bool readGltf(const std::string& path, bool binary, std::vector<std::unique_ptr<Object>>& roots,
              std::vector<WeldResult>* welds, std::string* error);

// The whole file in memory (`binary`: .glb, else .gltf with the buffer embedded).
bool encodeGltf(const std::vector<const Object*>& objects, bool binary, std::string& bytes, std::string* error,
                const BakedMapsOf* baked = nullptr);

// One level of a chain of levels of detail: the top-level objects (with everything below them), a
// name for the level's node and the smallest share of the screen's height the level is meant for.
struct LodLevel {
    std::string name;
    std::vector<const Object*> roots;
    double screenCoverage = 0;
};
// Every level under one node each; the first level's node is in the scene and names the others in
// its MSFT_lod extension, with the coverages in its extras as MSFT_screencoverage.
bool encodeGltfLodChain(const std::vector<LodLevel>& levels, bool binary, std::string& bytes, std::string* error,
                        const BakedMapsOf* baked = nullptr);

}  // namespace host::formats
