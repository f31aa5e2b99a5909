// Baked map files turned into the images a glTF asset carries: 8-bit PNG files in memory, with the
// normal map's green channel y up the texture whichever way the file was baked.
#pragma once

#include <string>

#include "host/formats/GltfFile.h"

namespace host::formats {

// Reads the normal map (any image file the host reads; float files hold signed components, the
// others the usual c = (x + 1) / 2 encoding) and, when `occlusionPath` is not empty, the occlusion
// map, and fills `maps`. `normalYDown` says that the file's green channel holds y down the texture;
// it is turned up. False with `error` naming the file and the problem.
bool bakedMapsFromFiles(const std::string& normalPath, bool normalYDown, const std::string& occlusionPath,
                        BakedMaps& maps, std::string& error);

// Gives the object a corner-normal tag holding the smooth normals that the baker and our renderer
// shade it with, unless it has one: a tangent-space map only reads right over the normals it was
// baked over, and glTF clients otherwise shade a mesh without normals flat.
void keepBakedNormals(PolygonObject& object);

}  // namespace host::formats
