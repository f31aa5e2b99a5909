// What the attribute transfer may read of a reduction mesh: positions, polygons (with their normals,
// made from the positions) and each point's live polygons, all read-only. The mesh hands out a
// fresh view for each contraction (its arrays move when a finished level is put back), so a view is
// not kept.
#pragma once

#include <cstdint>

#include "mixkit/FlatLists.h"
#include "mixkit/PolygonMeasures.h"
#include "sources/Geometry.h"

struct TopologyView {
    const Vector* positions = nullptr;
    const HostPolygon* polygons = nullptr;
    const FlatLists<int32_t>* pointPolygons = nullptr;

    const Vector& position(int32_t p) const { return positions[p]; }
    const HostPolygon& polygon(int32_t f) const { return polygons[f]; }
    // Live polygon f's normal as its points stand (PolygonMeasures.h), and the same normalised: no
    // normal is kept, so every reader makes the same bits from the same points.
    Vector normal(int32_t f) const {
        return polygonNormal(polygons[f], [this](int32_t p) -> const Vector& { return positions[p]; });
    }
    Vector unitNormal(int32_t f) const { return normalize(normal(f)); }
    // The live polygons that use point p.
    FlatLists<int32_t>::List polygonsOf(int32_t p) const { return (*pointPolygons)[p]; }

    // Marks, in the caller's scratch (one byte per polygon), every polygon of v1 or v2 with the
    // number of the two ends it uses: 1 for one end, 2 for both. A polygon that repeats a corner
    // stands twice in that point's list and still counts the point once: the second list is
    // marked in two passes, 3 and 4 standing for "counted" until the second turns them into 1
    // and 2. The caller clears the marks again.
    void markEnds(int32_t v1, int32_t v2, uint8_t* marks) const {
        const FlatLists<int32_t>::List first = polygonsOf(v1);
        const FlatLists<int32_t>::List second = polygonsOf(v2);
        for (int32_t i = 0; i < second.count; ++i) marks[second.items[i]] = 0;
        for (int32_t i = 0; i < first.count; ++i) marks[first.items[i]] = 1;
        for (int32_t i = 0; i < second.count; ++i) {
            uint8_t& m = marks[second.items[i]];
            if (m < 3) m = static_cast<uint8_t>(m + 3);
        }
        for (int32_t i = 0; i < second.count; ++i) {
            uint8_t& m = marks[second.items[i]];
            if (m >= 3) m = static_cast<uint8_t>(m - 2);
        }
    }
};
