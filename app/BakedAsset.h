// Ready-to-use glTF assets out of a bake: the low object (or every level of a chain) with its baked
// normal and occlusion maps as the textures of its material.
#pragma once

#include <string>
#include <vector>

#include "host/Document.h"
#include "host/formats/GltfFile.h"

namespace app {

// "" when `path` can name an asset (a .glb or .gltf file that may be written), else what is wrong.
std::string assetPathProblem(const std::string& path);

// Files made only on the way to an asset (a map, a level written for its bake), removed when this
// goes out of scope, however the command ends.
struct TemporaryFiles {
    std::vector<std::string> paths;
    ~TemporaryFiles();
};

// A fresh name for a map that only goes into an asset, in the system's temporary folder, with the
// given suffix; the caller removes the file.
std::string temporaryMapPath(const std::string& what, const std::string& suffix);

// Calls `f` on the object and every polygon object below it.
void withPolygonObjects(host::Object& root, void (*f)(host::PolygonObject&));

// Writes `objects` with the maps of `baked` as a .glb or .gltf file (by the suffix), replacing
// the file only when all of it could be made. False with `error` set.
bool writeBakedAsset(const std::string& path, const std::vector<const host::Object*>& objects,
                     const host::formats::BakedMapsOf& baked, std::string& error);

}  // namespace app
