#include "baking/NMGather.h"

#include <cmath>

#include "baking/NMBakeThread.h"
#include "shader/TangentFrame.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostTag.h"
#include "sources/HostWorkers.h"
#include "sources/Module.h"
#include "sources/Stack.h"

namespace {

// Every face counts at a shared point.
constexpr double kAllFaces = -2.0;
// A quad corner whose two edges are this close to opposite is not proper.
constexpr double kStraightCosine = -0.9999;

// An object's placement: offset and three axes; p maps to off + x·v1 + y·v2 + z·v3.
struct Placement {
    NMVec3 off, v1, v2, v3;

    static Placement identity() { return {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; }
    static Placement of(HstObject* object) {
        double m[12];
        moduleApi()->objGlobalMatrix(object, m);
        return {{m[0], m[1], m[2]}, {m[3], m[4], m[5]}, {m[6], m[7], m[8]}, {m[9], m[10], m[11]}};
    }
    NMVec3 direction(const NMVec3& d) const { return v1 * d.x + v2 * d.y + v3 * d.z; }
    NMVec3 apply(const NMVec3& p) const { return off + direction(p); }
    // First `inner`, then this.
    Placement after(const Placement& inner) const {
        return {apply(inner.off), direction(inner.v1), direction(inner.v2), direction(inner.v3)};
    }
    // The inverse placement; identity when the axes are singular.
    Placement inverse() const {
        const NMVec3 c0 = cross(v2, v3), c1 = cross(v3, v1), c2 = cross(v1, v2);
        const double det = dot(v1, c0);
        if (det == 0.0) return identity();
        // Rows of the inverse axes matrix are c0, c1, c2 divided by det.
        const NMVec3 r0 = c0 * (1.0 / det), r1 = c1 * (1.0 / det), r2 = c2 * (1.0 / det);
        Placement inv{{0, 0, 0}, {r0.x, r1.x, r2.x}, {r0.y, r1.y, r2.y}, {r0.z, r1.z, r2.z}};
        inv.off = -inv.direction(off);
        return inv;
    }
};

// Corner `at` of a quad is proper when its two edges are not (nearly) opposite and turn the same
// way as the quad's normal; `next` is the neighbour whose direction comes first in the cross product.
bool properCorner(const NMVec3& at, const NMVec3& next, const NMVec3& prev, const NMVec3& n) {
    const NMVec3 e1 = next - at, e2 = prev - at;
    if (dot(normalize(e1), normalize(e2)) < kStraightCosine) return false;
    return dot(cross(e1, e2), n) >= 0.0;
}

// Where a gathering writes: full triangle records, or only the corners and normals the octree
// reads. Triangles are written to slots reserved beforehand, each slot by one worker.
class GatherOutput {
public:
    explicit GatherOutput(NMTriangleList& list) : list_(&list) {}
    explicit GatherOutput(NMTriangleGeometry& geometry) : geometry_(&geometry) {}

    bool records() const { return list_ != nullptr; }
    NMTriangleList& list() const { return *list_; }
    NMTriangleGeometry& geometry() const { return *geometry_; }
    int32_t count() const { return list_ != nullptr ? list_->count() : geometry_->count(); }
    void clear() const {
        if (list_ != nullptr)
            list_->clear();
        else
            geometry_->clear();
    }
    void computeBox() const {
        if (list_ != nullptr)
            list_->computeBox();
        else
            geometry_->computeBox();
    }
    // Room for `total` triangles in all.
    bool reserve(int32_t total) const {
        if (list_ != nullptr) return list_->triangles.reserve(total);
        return geometry_->corners.reserve(3 * total) && geometry_->normals.reserve(3 * total);
    }
    // The reserved slots up to `total` hold triangles now.
    void setCount(int32_t total) const {
        if (list_ != nullptr) {
            list_->triangles.count = total;
        } else {
            geometry_->corners.count = 3 * total;
            geometry_->normals.count = 3 * total;
        }
    }

private:
    NMTriangleList* list_ = nullptr;
    NMTriangleGeometry* geometry_ = nullptr;
};

// Polygons, points or triangles that a worker of the gathering takes at once. Every block's output
// goes to slots fixed before the work starts, so the result is the same for any number of workers.
constexpr int32_t kBlock = 1024;

template <typename Body>
bool gatherBlocks(int32_t count, int32_t workers, HostThreadBase* thread, const Body& body) {
    return forBlocks(count, kBlock, workers, thread, body);
}

// One object appended to the output, placed by `correction` after its own global placement. The
// points, the triangles, the smooth normals and the tangent frames are each made on `workers`
// threads in blocks; the point-to-triangle table between them on one.
class ObjectGatherer {
public:
    ObjectGatherer(const GatherOutput& out, HostThreadBase* thread, int32_t workers)
        : out_(out), thread_(thread), workers_(workers < 1 ? 1 : workers) {}

    bool append(HstObject* object, HstTag* uvw, int32_t mode, const Placement& correction);

private:
    void put(int32_t t, const int32_t corner[3], const int32_t uvCorner[3], const NMVec3& faceNormal,
             const UvwRecord* uv);
    bool polygonTriangles(int32_t from, int32_t to, const HostPolygon* polygons, const UvwRecord* rows,
                          int32_t rowCount);
    bool pointTriangles();
    bool smooth(int32_t from, int32_t to, double threshold, bool frames);

    GatherOutput out_;
    HostThreadBase* thread_;
    int32_t workers_;
    int32_t first_ = 0;  // first triangle of this object in the output
    Stack<FloatVector> points_;
    Stack<int32_t> blockFirst_;  // per block of polygons: its first new triangle
    Stack<NMVec3> faceNormals_;
    Stack<int32_t> corners_;     // three point indices per new triangle
    Stack<int32_t> pointStart_;  // per point: where its triangles start in pointTris_
    Stack<int32_t> pointTris_;
};

// New triangle t of this object: its corners, texture coordinates and face normal.
void ObjectGatherer::put(int32_t t, const int32_t corner[3], const int32_t uvCorner[3], const NMVec3& faceNormal,
                         const UvwRecord* uv) {
    const int32_t at = first_ + t;
    if (out_.records()) {
        NMTriangle tri;
        for (int k = 0; k < 3; ++k) {
            tri.v[k].position = toVector(points_.items[corner[k]]);
            if (uv != nullptr) tri.v[k].uvw = toVector(uv->corner[uvCorner[k]]);
        }
        out_.list().triangles.items[at] = tri;
    } else {
        NMVec3* c = out_.geometry().corners.items + 3 * at;
        for (int k = 0; k < 3; ++k) c[k] = toVector(points_.items[corner[k]]);
    }
    for (int k = 0; k < 3; ++k) corners_.items[3 * t + k] = corner[k];
    faceNormals_.items[t] = faceNormal;
}

// The triangles of polygons from to to − 1, written from the first slot of their block on.
bool ObjectGatherer::polygonTriangles(int32_t from, int32_t to, const HostPolygon* polygons, const UvwRecord* rows,
                                      int32_t rowCount) {
    const int32_t pointCount = points_.count;
    int32_t t = blockFirst_.items[from / kBlock];
    for (int32_t i = from; i < to; ++i) {
        if (i % 100 == 0 && bakeStopRequested(thread_)) return false;
        const HostPolygon& p = polygons[i];
        if (p.a == p.b || !cornersWithin(p, pointCount)) continue;
        const UvwRecord* uv = i < rowCount ? rows + i : nullptr;
        const NMVec3 a = toVector(points_.items[p.a]), b = toVector(points_.items[p.b]),
                     c = toVector(points_.items[p.c]), d = toVector(points_.items[p.d]);
        if (p.c == p.d) {
            const int32_t corner[3] = {p.a, p.b, p.c}, uvCorner[3] = {0, 1, 2};
            put(t++, corner, uvCorner, normalize(cross(b - a, c - a)), uv);
            continue;
        }
        // Split a quad along the diagonal through its first corner that is not proper (reflex or
        // straight), or along b–d when all are.
        const NMVec3 n = normalize(cross(b - d, c - a));
        int32_t first[3], second[3], uvFirst[3], uvSecond[3];
        const int32_t pc[4] = {p.a, p.b, p.c, p.d};
        int32_t s;  // corner the split starts from
        if (!properCorner(a, b, d, n))
            s = 0;
        else if (!properCorner(b, c, a, n))
            s = 1;
        else if (!properCorner(c, d, b, n))
            s = 2;
        else
            s = 3;
        for (int k = 0; k < 3; ++k) {
            uvFirst[k] = (s + k) % 4;
            uvSecond[k] = (s + (k == 0 ? 0 : k + 1)) % 4;
            first[k] = pc[uvFirst[k]];
            second[k] = pc[uvSecond[k]];
        }
        put(t++, first, uvFirst, n, uv);
        put(t++, second, uvSecond, n, uv);
    }
    return true;
}

// For every point, the triangles of this object that use it (counted, then filled), in triangle
// order.
bool ObjectGatherer::pointTriangles() {
    const int32_t n = points_.count;
    if (!pointStart_.resize(n + 1) || !pointTris_.resize(corners_.count > 0 ? corners_.count : 1)) return false;
    for (int32_t i = 0; i < corners_.count; ++i) ++pointStart_.items[corners_.items[i] + 1];
    for (int32_t p = 0; p < n; ++p) pointStart_.items[p + 1] += pointStart_.items[p];
    Stack<int32_t> fill;
    if (!fill.resize(n > 0 ? n : 1)) return false;
    for (int32_t i = 0; i < corners_.count; ++i) {
        const int32_t p = corners_.items[i];
        pointTris_.items[pointStart_.items[p] + fill.items[p]++] = i / 3;
    }
    return true;
}

// Smooth normals at the corners of new triangles from to to − 1, then their tangent frames when
// asked for.
bool ObjectGatherer::smooth(int32_t from, int32_t to, double threshold, bool frames) {
    for (int32_t t = from; t < to; ++t) {
        if (t % 100 == 0 && bakeStopRequested(thread_)) return false;
        const NMVec3& own = faceNormals_.items[t];
        NMVec3 normal[3];
        for (int k = 0; k < 3; ++k) {
            const int32_t p = corners_.items[3 * t + k];
            NMVec3 sum;
            for (int32_t i = pointStart_.items[p]; i < pointStart_.items[p + 1]; ++i) {
                const int32_t other = pointTris_.items[i];
                const NMVec3& n = faceNormals_.items[other];
                if (other == t ? threshold <= 1.0 : dot(n, own) >= threshold) sum += n;
            }
            normal[k] = normalize(sum);
        }
        if (out_.records()) {
            NMTriangle& tri = out_.list().triangles.items[first_ + t];
            for (int k = 0; k < 3; ++k) tri.v[k].normal = normal[k];
            if (frames) computeFrames(tri);
        } else {
            NMVec3* n = out_.geometry().normals.items + 3 * (first_ + t);
            for (int k = 0; k < 3; ++k) n[k] = normal[k];
        }
    }
    return true;
}

bool ObjectGatherer::append(HstObject* object, HstTag* uvw, int32_t mode, const Placement& correction) {
    const HostApi* api = moduleApi();
    const int32_t pointCount = api->polyPointCount(object);
    const int32_t polygonCount = api->polyPolygonCount(object);
    const float* points = api->polyPoints(object);
    const HostPolygon* polygons = api->polyPolygons(object);
    if (pointCount <= 0 || polygonCount <= 0 || points == nullptr || polygons == nullptr) return true;

    // 1. Points into world space, in floats.
    const Placement place = correction.after(Placement::of(object));
    const float off[3] = {float(place.off.x), float(place.off.y), float(place.off.z)};
    const float a1[3] = {float(place.v1.x), float(place.v1.y), float(place.v1.z)};
    const float a2[3] = {float(place.v2.x), float(place.v2.y), float(place.v2.z)};
    const float a3[3] = {float(place.v3.x), float(place.v3.y), float(place.v3.z)};
    if (!points_.reserve(pointCount)) return false;
    points_.count = pointCount;
    gatherBlocks(pointCount, workers_, thread_, [&](int32_t from, int32_t to) {
        for (int32_t i = from; i < to; ++i) {
            const float* p = points + 3 * i;
            FloatVector& w = points_.items[i];
            w.x = off[0] + p[0] * a1[0] + p[1] * a2[0] + p[2] * a3[0];
            w.y = off[1] + p[0] * a1[1] + p[1] * a2[1] + p[2] * a3[1];
            w.z = off[2] + p[0] * a1[2] + p[1] * a2[2] + p[2] * a3[2];
        }
        return true;
    });

    // 2. Count the triangles, block by block, and make room for all of them at once. Polygons
    // naming points that do not exist are left out like dead ones.
    const int32_t blocks = (polygonCount - 1) / kBlock + 1;
    if (!blockFirst_.resize(blocks + 1)) return false;
    gatherBlocks(polygonCount, workers_, thread_, [&](int32_t from, int32_t to) {
        int32_t count = 0;
        for (int32_t i = from; i < to; ++i) {
            const HostPolygon& p = polygons[i];
            if (p.a == p.b || !cornersWithin(p, pointCount)) continue;
            count += p.c == p.d ? 1 : 2;
        }
        blockFirst_.items[from / kBlock + 1] = count;
        return true;
    });
    int64_t newCount = 0;
    for (int32_t b = 0; b < blocks; ++b) {
        const int32_t inBlock = blockFirst_.items[b + 1];
        blockFirst_.items[b] = static_cast<int32_t>(newCount < 0x7fffffff ? newCount : 0x7fffffff);
        newCount += inBlock;
    }
    if (newCount == 0) return true;
    if (out_.count() + newCount > 0x7fffffff / 3) return false;
    const int32_t n = static_cast<int32_t>(newCount);
    first_ = out_.count();
    if (!out_.reserve(first_ + n) || !faceNormals_.reserve(n) || !corners_.reserve(3 * n)) return false;
    faceNormals_.count = n;
    corners_.count = 3 * n;

    // UVW rows, one per polygon; polygons beyond the tag's rows get zero coordinates.
    const UvwRecord* rows = nullptr;
    int32_t rowCount = 0;
    if (uvw != nullptr) {
        rows = static_cast<const UvwRecord*>(api->tagData(uvw));
        rowCount = rows != nullptr ? api->tagDataCount(uvw) : 0;
    }

    // 3. Triangles and face normals.
    if (!gatherBlocks(polygonCount, workers_, thread_, [&](int32_t from, int32_t to) {
            return polygonTriangles(from, to, polygons, rows, rowCount);
        }))
        return false;
    out_.setCount(first_ + n);

    // 4.–6. Smooth normals at every corner, then tangent frames.
    if (!pointTriangles()) return false;
    const double threshold = smoothingThreshold(object, mode);
    const bool frames = uvw != nullptr && out_.records();
    return gatherBlocks(n, workers_, thread_,
                     [&](int32_t from, int32_t to) { return smooth(from, to, threshold, frames); })
               ? 1
               : 0;
}

// Gathers every polygon object of a hierarchy whose effective visibility is on: an object's own
// setting when it is 0 (on) or 1 (off), its parent's when it is 2 (as the parent).
bool gatherHierarchy(const GatherOutput& out, HstObject* root, const Placement& correction, HostThreadBase* thread,
                     int32_t workers) {
    const HostApi* api = moduleApi();
    struct Item {
        HstObject* object;
        int32_t visibility;
    };
    Stack<Item> stack;
    stack.push({root, 0});
    if (stack.count == 0) return false;
    while (stack.count > 0) {
        const Item it = stack.items[--stack.count];
        int32_t own = api->objVisibility(it.object);
        const int32_t visibility = own == 2 ? it.visibility : own;
        if (visibility == 0 && api->objType(it.object) == OBJECT_POLYGON) {
            ObjectGatherer gatherer(out, thread, workers);
            if (!gatherer.append(it.object, nullptr, NM_GATHER_HIGH, correction)) return false;
        }
        // Children in order: pushed last to first so that the first is taken next.
        int32_t children = 0;
        for (HstObject* c = api->objFirstChild(it.object); c != nullptr; c = api->objNext(c)) ++children;
        if (!stack.reserve(stack.count + children)) return false;
        stack.count += children;
        int32_t slot = stack.count - 1;
        for (HstObject* c = api->objFirstChild(it.object); c != nullptr; c = api->objNext(c))
            stack.items[slot--] = {c, visibility};
    }
    return true;
}

// Gathers the copy of `object`'s current state, placed where the object is in its document.
bool gatherCopy(const GatherOutput& out, HstObject* object, HostThreadBase* thread, int32_t workers) {
    const HostApi* api = moduleApi();
    HstObject* copy = api->objCurrentStateCopy(api->objDocument(object), object);
    if (copy == nullptr) return false;
    // A copy outside the document has lost the placement of the original's parents.
    const Placement correction = Placement::of(object).after(Placement::of(copy).inverse());
    const bool ok = gatherHierarchy(out, copy, correction, thread, workers);
    api->objDestroy(copy);
    return ok;
}

bool gatherOne(const GatherOutput& out, HstObject* object, HstTag* uvw, int32_t mode, HostThreadBase* thread,
               int32_t workers) {
    out.clear();
    if (object == nullptr || (mode == NM_GATHER_LOW && uvw == nullptr)) return false;
    ObjectGatherer gatherer(out, thread, workers);
    const bool ok = gatherer.append(object, uvw, mode, Placement::identity());
    out.computeBox();
    return ok;
}

bool occludersFromObject(const GatherOutput& out, HstObject* object, HostThreadBase* thread, int32_t workers) {
    out.clear();
    if (object == nullptr) return false;
    const bool ok = gatherCopy(out, object, thread, workers);
    out.computeBox();
    return ok;
}

bool occludersFromDocument(const GatherOutput& out, HstDocument* document, HostThreadBase* thread,
                           int32_t workers) {
    out.clear();
    if (document == nullptr) return false;
    const HostApi* api = moduleApi();
    bool ok = true;
    for (HstObject* o = api->docFirstObject(document); ok && o != nullptr; o = api->objNext(o))
        ok = gatherCopy(out, o, thread, workers);
    out.computeBox();
    return ok;
}

}  // namespace

double smoothingThreshold(HstObject* object, int32_t mode) {
    if (mode == NM_GATHER_LOW) return kAllFaces;
    const HostApi* api = moduleApi();
    HstTag* tag = api->objTagOfType(object, TAG_SMOOTHING, 0);
    if (tag == nullptr) return kAllFaces;
    const HstSettings* settings = api->tagSettings(tag);
    if (settings == nullptr || api->setsGetBool(settings, SMOOTHING_ANGLE_LIMIT, 0) == 0) return kAllFaces;
    return std::cos(api->setsGetReal(settings, SMOOTHING_ANGLE, 0.0));
}

bool gatherObject(NMTriangleList& list, HstObject* object, HstTag* uvw, int32_t mode, HostThreadBase* thread,
                  int32_t threads) {
    return gatherOne(GatherOutput(list), object, uvw, mode, thread, threads);
}

bool gatherObject(NMTriangleGeometry& geometry, HstObject* object, HostThreadBase* thread, int32_t threads) {
    return gatherOne(GatherOutput(geometry), object, nullptr, NM_GATHER_HIGH, thread, threads);
}

bool gatherOccludersFromObject(NMTriangleList& list, HstObject* object, HostThreadBase* thread, int32_t threads) {
    return occludersFromObject(GatherOutput(list), object, thread, threads);
}

bool gatherOccludersFromObject(NMTriangleGeometry& geometry, HstObject* object, HostThreadBase* thread,
                               int32_t threads) {
    return occludersFromObject(GatherOutput(geometry), object, thread, threads);
}

bool gatherOccludersFromDocument(NMTriangleList& list, HstDocument* document, HostThreadBase* thread,
                                 int32_t threads) {
    return occludersFromDocument(GatherOutput(list), document, thread, threads);
}

bool gatherOccludersFromDocument(NMTriangleGeometry& geometry, HstDocument* document, HostThreadBase* thread,
                                 int32_t threads) {
    return occludersFromDocument(GatherOutput(geometry), document, thread, threads);
}
