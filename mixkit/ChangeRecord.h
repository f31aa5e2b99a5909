// Every change that one contraction made to the host object.
#pragma once

#include <cstdint>

#include "mixkit/ChangeEntry.h"
#include "sources/Stack.h"

struct ChangeRecord {
    double cost = 0.0;       // the contraction's cost (quadric error plus penalties): its place in the order
    double error = 0.0;      // its quadric error alone: what an error limit is compared with
    int32_t pointCount = 0;  // reducible points left after the contraction
    int32_t point = 0;       // the point that moved
    float offset[3] = {};    // how far it moved (target - old position)
    // The moved point's float coordinates, old ^ new bits, so that applying and reverting land on
    // the exact coordinates again.
    uint32_t pointBits[3] = {};
    Stack<ChangeEntry> entries;  // in the order the changes were made
};
