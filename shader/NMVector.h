// The baker's and the shader's name for the module's double-precision vector: world-space
// positions, normals, tangent frames and texture coordinates.
#pragma once

#include "sources/Geometry.h"

using NMVec3 = Vector;
