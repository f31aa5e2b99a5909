// The frame the reduction core measures in. A mesh's coordinates are moved so that the bounding box
// of its reducible points is centred on the origin and scaled so that the box's diagonal is
// REFERENCE_DIAGONAL long. The quadric errors, the penalties added to them, the error limits and the
// fixed thresholds of the quadric solves are then the same for one shape whatever its units and
// wherever it sits: a mesh in millimetres and the same mesh in metres reduce alike.
//
// Scaling by a power of two and moving by a representable offset keep every mapped coordinate
// exact, so such copies of one mesh reduce to the same polygons bit for bit.
#pragma once

#include <cstdint>

#include "sources/Geometry.h"

// The bounding-box diagonal of the reducible points in the frame. Chosen by the reduction quality
// benchmark (bench/reduction_quality_bench.cpp); see the note in ReferenceFrame.cpp.
extern const double REFERENCE_DIAGONAL;

struct ReferenceFrame {
    Vector centre;        // bounding-box centre, in object units
    double scale = 1.0;   // frame units per object unit
    double inverse = 1.0; // object units per frame unit

    // The frame of the points whose flag is non-zero (every point when `flags` is null). With no
    // such point, or a box of no extent or of a non-finite one, the frame is centred on the box
    // (or the origin) with scale 1.
    static ReferenceFrame ofPoints(const FloatVector* points, const uint8_t* flags, int32_t count);

    Vector toFrame(const FloatVector& p) const {
        return Vector{(static_cast<double>(p.x) - centre.x) * scale, (static_cast<double>(p.y) - centre.y) * scale,
                      (static_cast<double>(p.z) - centre.z) * scale};
    }
    Vector toFrame(const Vector& p) const {
        return Vector{(p.x - centre.x) * scale, (p.y - centre.y) * scale, (p.z - centre.z) * scale};
    }
    Vector toObject(const Vector& p) const {
        return Vector{p.x * inverse + centre.x, p.y * inverse + centre.y, p.z * inverse + centre.z};
    }
    // Lengths (a radius, an offset) between the two frames.
    double lengthToFrame(double l) const { return l * scale; }
    double lengthToObject(double l) const { return l * inverse; }
    Vector offsetToObject(const Vector& d) const { return Vector{d.x * inverse, d.y * inverse, d.z * inverse}; }
};
