// One elementary change that a contraction made to the host object, stored so that it can be made
// again (forward) or taken back (backward) without running the reduction.
//
// Changes of float and 16-bit data are kept as the bitwise exclusive-or of the old and new bit
// patterns, so that applying and reverting restore every value exactly (a float difference added
// and subtracted again would not). Polygon indices keep their integer differences, which are exact.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"

enum ChangeKind : int32_t {
    CHANGE_POLYGON = 0,     // index: polygon; values[0..3]: differences of a, b, c, d
    CHANGE_MEMBERSHIP = 1,  // target: HstSelection; index: element; values[0]: member after, [1]: before
    CHANGE_FLOAT = 2,       // target: float array; index; values[0]: old ^ new bits
    CHANGE_UVW = 3,         // target: UVW records; index: polygon; values[0..11]: old ^ new bits
    CHANGE_NORMALS = 4,     // target: normal records; index: polygon; values[0..11]: old ^ new bits
};

struct ChangeEntry {
    int32_t kind = CHANGE_POLYGON;
    int32_t index = 0;
    void* target = nullptr;
    uint32_t values[12] = {};

    // Makes the change (forward) or takes it back on the object's polygon array and on the data
    // that `target` names.
    void apply(HostPolygon* polygons, bool forward) const;
};
