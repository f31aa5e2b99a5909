// One edge that the decimator may contract, kept in its heap by negated cost.
#pragma once

#include <cstdint>

#include "mixkit/CandidateHeap.h"
#include "sources/Geometry.h"

struct EdgeCandidate : HeapItem {
    int32_t v1 = 0;  // the end that stays when the edge is contracted
    int32_t v2 = 0;  // the end that goes
    Vector target;   // where the merged point goes
    double rawError = 0.0;  // quadric error at the target, before penalties
};

// The end of the candidate that is not p.
inline int32_t otherEnd(const EdgeCandidate& c, int32_t p) { return c.v1 == p ? c.v2 : c.v1; }
