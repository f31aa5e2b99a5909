// What one contraction did, as the history keeps it: its cost and count, the moved point, and where
// its packed change entries lie in the history's storage.
#pragma once

#include <cstdint>

struct ChangeRecord {
    double cost = 0.0;       // the contraction's cost (quadric error plus penalties): its place in the order
    double error = 0.0;      // its quadric error alone: what an error limit is compared with
    int32_t pointCount = 0;  // reducible points left after the contraction
    int32_t point = 0;       // the point that moved
    float offset[3] = {};    // how far it moved (target - old position)
    // The moved point's float coordinates, old ^ new bits, so that applying and reverting land on
    // the exact coordinates again.
    uint32_t pointBits[3] = {};
    // The packed entries: `entryCount` of them from byte `start` of storage block `block`, in the
    // order the changes were made.
    int32_t block = 0;
    int32_t start = 0;
    int32_t entryCount = 0;
};
