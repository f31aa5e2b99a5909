// One edge that the decimator may contract, kept in its heap by negated cost. A million-polygon
// mesh has millions of them, so a candidate holds only its ends and its place in the heap (12
// bytes): its key is kept in the heap's slot alone, its number is where the pool keeps it, and
// where its merged point goes follows from the ends' quadrics and positions, which do not change
// between the candidate's refreshes, and is worked out again when it is needed (see
// Decimator::placement).
#pragma once

#include <cstdint>

#include "mixkit/IndexedHeap.h"
#include "sources/Geometry.h"

struct EdgeCandidate {
    int32_t heapPosition = HEAP_ABSENT;  // index in the heap it is in
    int32_t v1 = 0;  // the end that stays when the edge is contracted
    int32_t v2 = 0;  // the end that goes
};

// Where a candidate's merged point goes and the quadric error there, before penalties.
struct Placement {
    Vector target;
    double rawError = 0.0;
};

// A candidate taken from a heap: its number and the key it had there, and where it is placed when
// that was worked out with its key just now (nothing has changed around it since), so that
// contracting it need not work it out again.
struct HeapEntry {
    int32_t id = -1;
    double key = 0.0;
    bool placed = false;
    Placement at;
};

// The end of the candidate that is not p.
inline int32_t otherEnd(const EdgeCandidate& c, int32_t p) { return c.v1 == p ? c.v2 : c.v1; }
