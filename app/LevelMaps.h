// Maps baked onto every level of a chain of levels of detail: each polygon object of each level with
// texture coordinates gets a normal map baked from one high-resolution mesh onto its own polygons
// (the levels keep the input's UV layout, so each is a bake like any other).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/formats/GltfFile.h"

namespace app {

struct LevelBake {
    std::string high;  // FILE or FILE:OBJECT, as `vexlor bake --high` takes it
    int size = 1024;   // width and height of each map
};

// Bakes every level's maps by running `vexlor bake` on each object (written to a temporary file),
// one after the other; the maps land in `baked`. False with `error` set when a bake fails; the
// temporary files are removed in every case.
bool bakeLevelMaps(const std::string& moduleDir, const LevelBake& bake,
                   const std::vector<host::formats::LodLevel>& levels, host::formats::BakedMapsOf& baked,
                   std::ostream& err, std::string& error);

}  // namespace app
