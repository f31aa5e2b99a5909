// Spatial parts of a mesh's reducible points, fixed by the mesh alone: the points are halved by
// count across the longest side of their box, and each half again, until no part holds more than
// `most`. Ties in a coordinate go by point number, so the parts never depend on how the halving
// was run.
#pragma once

#include <cstdint>

#include "mixkit/ReductionMesh.h"
#include "sources/Stack.h"

// Fills partOf with each point's part (-1 for points that are not reducible) and answers the
// number of parts; -1 when the host refuses the memory. With `turned` the points are halved in a
// fixed frame turned against the mesh's axes, none of whose planes is parallel to an axis plane:
// such a partition's borders cross those of the unturned one instead of running along them. The
// halving runs on up to `workers` threads; the parts are the same for any number.
int32_t splitIntoParts(const ReductionMesh& mesh, int32_t most, Stack<int32_t>& partOf, bool turned = false,
                       int32_t workers = 1);
