// The rows and spans of texels a triangle covers in pixel space. Each edge runs from its end with
// the smaller row to the one with the larger, between integer end points (coordinates rounded);
// its column at a row steps like a Bresenham line, rounded to the nearest texel. A row's span runs
// from the smallest to the largest column of the edges that cover it.
#pragma once

#include <cstdint>

class NMTexelSpans {
public:
    // X and Y: the three vertices in pixel coordinates, finite.
    NMTexelSpans(const double X[3], const double Y[3]);

    int64_t top() const { return top_; }
    int64_t bottom() const { return bottom_; }
    // The span of row y, which is held to [top, bottom] first (rows above the triangle take the
    // span of its top row, rows below that of its bottom row).
    void span(int64_t y, int64_t* first, int64_t* last) const;

private:
    struct Edge {
        int64_t xa, ya, xb, yb;  // ya ≤ yb
    };
    Edge edges_[3];
    int64_t top_ = 0, bottom_ = 0;
};
