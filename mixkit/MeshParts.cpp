#include "mixkit/MeshParts.h"

#include <algorithm>
#include <cmath>

#include "mixkit/StackHelpers.h"
#include "sources/HostWorkers.h"

namespace {

// The least and the greatest of two coordinates, a NaN taking no part (as std::fmin and std::fmax,
// which are calls to the library here, whatever the sign they give a zero: only the box's sizes are
// compared, and zeros of either sign compare equal).
inline double lower(double a, double b) { return std::isnan(a) || b < a ? b : a; }
inline double higher(double a, double b) { return std::isnan(a) || b > a ? b : a; }

// The turned frame: an orthonormal one whose axes, (2, 2, -1) / 3, (2, -1, 2) / 3 and
// (-1, 2, 2) / 3, each lean on all three of the mesh's axes.
inline double turnedX(const Vector& v) { return (2.0 * v.x + 2.0 * v.y - v.z) / 3.0; }
inline double turnedY(const Vector& v) { return (2.0 * v.x - v.y + 2.0 * v.z) / 3.0; }
inline double turnedZ(const Vector& v) { return (2.0 * v.z + 2.0 * v.y - v.x) / 3.0; }
Vector inFrame(const Vector& v, bool turned) {
    if (!turned) return v;
    return Vector{turnedX(v), turnedY(v), turnedZ(v)};
}

// The coordinate along `axis` of the frame (turned or not) to sort by, working out that one
// coordinate only (the sort asks for it at every comparison): NaN (a point no file should bring)
// after every number, so that the order stays strict.
inline double frameCoordinate(const Vector& v, bool turned, int axis) {
    const double c = !turned ? (axis == 0 ? v.x : axis == 1 ? v.y : v.z)
                             : (axis == 0 ? turnedX(v) : axis == 1 ? turnedY(v) : turnedZ(v));
    return std::isnan(c) ? INFINITY : c;
}

}  // namespace

int32_t splitIntoParts(const ReductionMesh& mesh, int32_t most, Stack<int32_t>& partOf, bool turned, int32_t workers) {
    const int32_t points = mesh.pointCount();
    Stack<int32_t> order;  // reducible points, each part's a run
    if (!partOf.resize(points) || !order.reserve(points)) return -1;
    for (int32_t p = 0; p < points; ++p) {
        partOf.items[p] = -1;
        if (mesh.isReducible(p)) order.items[order.count++] = p;
    }
    if (most < 1) most = 1;
    struct Run {
        int32_t from, to;
    };
    // The runs are halved a level at a time, the runs of a level side by side on the workers: each
    // halving reorders only its own run's points. The parts are the runs left whole, numbered in
    // the order of their points, as halving the lower half first all the way down numbers them.
    Stack<Run> level, halves, parts;
    if (order.count > 0 && !pushChecked(level, Run{0, order.count})) return -1;
    int32_t* ids = order.items;
    while (level.count > 0) {
        if (!halves.resize(2 * level.count)) return -1;
        forBlocks(level.count, 1, workers, nullptr, [&](int32_t from, int32_t to) {
            for (int32_t k = from; k < to; ++k) {
                const Run r = level.items[k];
                if (r.to - r.from <= most) {
                    halves.items[2 * k] = halves.items[2 * k + 1] = Run{-1, -1};
                    continue;
                }
                Vector low = inFrame(mesh.position(ids[r.from]), turned);
                Vector high = low;
                for (int32_t i = r.from + 1; i < r.to; ++i) {
                    const Vector v = inFrame(mesh.position(ids[i]), turned);
                    low = Vector{lower(low.x, v.x), lower(low.y, v.y), lower(low.z, v.z)};
                    high = Vector{higher(high.x, v.x), higher(high.y, v.y), higher(high.z, v.z)};
                }
                const Vector size = subtract(high, low);
                const int axis = size.x >= size.y && size.x >= size.z ? 0 : size.y >= size.z ? 1 : 2;
                const int32_t mid = r.from + (r.to - r.from) / 2;
                std::nth_element(ids + r.from, ids + mid, ids + r.to, [&](int32_t a, int32_t b) {
                    const double ca = frameCoordinate(mesh.position(a), turned, axis);
                    const double cb = frameCoordinate(mesh.position(b), turned, axis);
                    return ca < cb || (ca == cb && a < b);
                });
                halves.items[2 * k] = Run{r.from, mid};
                halves.items[2 * k + 1] = Run{mid, r.to};
            }
            return true;
        });
        int32_t kept = 0;
        for (int32_t k = 0; k < level.count; ++k) {
            if (halves.items[2 * k].from < 0) {
                if (!pushChecked(parts, level.items[k])) return -1;
                continue;
            }
            halves.items[kept++] = halves.items[2 * k];
            halves.items[kept++] = halves.items[2 * k + 1];
        }
        halves.count = kept;
        std::swap(level, halves);
    }
    std::sort(parts.items, parts.items + parts.count, [](const Run& a, const Run& b) { return a.from < b.from; });
    for (int32_t k = 0; k < parts.count; ++k)
        for (int32_t i = parts.items[k].from; i < parts.items[k].to; ++i) partOf.items[ids[i]] = k;
    return parts.count;
}
