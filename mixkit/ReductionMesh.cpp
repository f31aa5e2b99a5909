#include "mixkit/ReductionMesh.h"

#include "mixkit/PrefetchOnly.h"
#include "mixkit/ShapeMeasures.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"
#include "sources/HostWorkers.h"

namespace {

// Points measured per block of the position pass's workers.
constexpr int32_t kPositionBlock = 1 << 16;
// The polygon lists are made by workers that each own a run of the points and read every polygon:
// worth it from this many polygons, and on this many workers at most (each reads them all).
constexpr int32_t kOwnedListsFrom = 1 << 16;
constexpr int32_t kMostListOwners = 4;

// Every non-zero byte becomes 255.
void saturate(Stack<uint8_t>& bytes) {
    for (int32_t i = 0; i < bytes.count; ++i)
        if (bytes.items[i] != 0) bytes.items[i] = 255;
}

int32_t nonZero(const Stack<uint8_t>& bytes) {
    int32_t n = 0;
    for (int32_t i = 0; i < bytes.count; ++i)
        if (bytes.items[i] != 0) ++n;
    return n;
}

// Sizes `bytes` to n and fills it with the set's membership bytes.
bool takeMembership(const HostSelection& set, int32_t n, Stack<uint8_t>& bytes) {
    if (!bytes.resize(n)) return false;
    if (n > 0) set.memberBytes(bytes.items, n);
    return true;
}

}  // namespace

bool ReductionMesh::build(HostPolygonObject obj, HostSelection reducible, HostSelection polygons) {
    if (!obj.valid()) return false;
    object_ = obj;
    hostPoints = reinterpret_cast<FloatVector*>(obj.points());
    pointCount_ = obj.pointCount();
    hostPolygons = obj.polygons();
    polygonCount_ = obj.polygonCount();
    if ((pointCount_ > 0 && hostPoints == nullptr) || (polygonCount_ > 0 && hostPolygons == nullptr) ||
        pointCount_ < 0 || polygonCount_ < 0) {
        release();
        return false;
    }

    reducibleSet = reducible;
    bool ok = takeMembership(reducible, pointCount_, reducibleFlags);
    if (ok) reducibleCount_ = nonZero(reducibleFlags);

    // Every point, fixed ones included, is measured in the frame of the reducible points.
    if (ok) frame_ = ReferenceFrame::ofPoints(hostPoints, reducibleFlags.items, pointCount_);
    // By blocks on the host's workers, which share the first touch of the array's pages with it.
    ok = ok && positions.reserve(pointCount_);
    if (ok) {
        Vector* measured = positions.items;
        forBlocks(pointCount_, kPositionBlock, workerCount(0), nullptr, [&](int32_t from, int32_t to) {
            for (int32_t i = from; i < to; ++i) measured[i] = frame_.toFrame(hostPoints[i]);
            return true;
        });
        positions.count = pointCount_;
    }

    hiddenPointSet = obj.hiddenPoints();
    ok = ok && takeMembership(hiddenPointSet, pointCount_, hiddenPointFlags);
    if (ok) saturate(hiddenPointFlags);

    polygonSet = polygons;
    ok = ok && takeMembership(polygons, polygonCount_, polygonFlags);
    if (ok) livePolygonCount = nonZero(polygonFlags);

    ok = ok && buildAdjacency();
    ok = ok && pointMarks.resize(pointCount_) && polygonMarks.resize(polygonCount_);
    ok = ok && attributes_.collect(object_, pointCount_, polygonCount_);
    if (!ok) {
        release();
        return false;
    }
    return true;
}

bool ReductionMesh::buildAdjacency() {
    // Count first, so that every list gets its room at once. Each owner counts and lists only the
    // corners in its run of the points, reading the polygons in index order: a list takes its
    // polygons in that order, as one pass over them gives it, and no two owners write one count
    // or one list. The reads run ahead of the scattered writes, which the owners share.
    const int32_t workers = workerCount(0);
    int32_t owners = polygonCount_ < kOwnedListsFrom ? 1 : workers < kMostListOwners ? workers : kMostListOwners;
    if (owners > pointCount_) owners = pointCount_ > 0 ? pointCount_ : 1;
    auto runOf = [this, owners](int32_t w) { return static_cast<int32_t>(static_cast<int64_t>(pointCount_) * w / owners); };
    // Every corner of the live polygons in index order, as visit(polygon, its corners, slot); false
    // as soon as visit answers false.
    auto eachCorner = [this](const auto& visit) {
        for (int32_t i = 0; i < polygonCount_; ++i) {
            const HostPolygon& p = hostPolygons[i];
            if (isDead(p)) continue;
            const int n = cornerCount(p);
            for (int k = 0; k < n; ++k)
                if (!visit(i, p, k)) return false;
        }
        return true;
    };
    Stack<int32_t> degree;  // each owner clears its own run: the pages' first touch is shared too
    if (!degree.reserve(pointCount_)) return false;
    const bool counted = forBlocks(owners, 1, owners, nullptr, [&](int32_t w, int32_t) {
        const int32_t from = runOf(w), to = runOf(w + 1);
        for (int32_t c = from; c < to; ++c) degree.items[c] = 0;
        return eachCorner([&](int32_t, const HostPolygon& p, int k) {
            const int32_t c = corner(p, k);
            if (c < 0 || c >= pointCount_) return false;  // a corner outside the point array
            if (c >= from && c < to) ++degree.items[c];
            return true;
        });
    });
    if (!counted) return false;
    degree.count = pointCount_;
    // Room for twice the polygons a point has now: a kept point gains the polygons of the point
    // merged into it, and a list that can take them is not moved.
    const int32_t* degrees = degree.items;
    if (!pointPolygons.buildWith(pointCount_, workers, [degrees](int32_t i) { return 2 * degrees[i]; })) return false;
    std::atomic<bool> repeated{false};
    forBlocks(owners, 1, owners, nullptr, [&](int32_t w, int32_t) {
        const int32_t from = runOf(w), to = runOf(w + 1);
        bool any = false;  // the first owner looks for repeated corners, over every polygon
        eachCorner([&](int32_t i, const HostPolygon& p, int k) {
            const int32_t c = corner(p, k);
            // Within the room just made: no list moves, and the array never grows.
            if (c >= from && c < to) pointPolygons.push(c, i);
            if (w == 0)
                for (int j = 0; j < k; ++j) any = any || corner(p, j) == c;
            return true;
        });
        if (any) repeated = true;
        return true;
    });
    repeatedCorners = repeated.load();
    return true;
}

void ReductionMesh::setFrame(const ReferenceFrame& f) {
    frame_ = f;
    for (int32_t i = 0; i < positions.count; ++i) positions.items[i] = frame_.toFrame(hostPoints[i]);
}

void ReductionMesh::followObjectArrays() {
    hostPoints = reinterpret_cast<FloatVector*>(object_.points());
    hostPolygons = object_.polygons();
    attributes_.followTagData();
}

void ReductionMesh::release() {
    object_ = HostPolygonObject();
    hostPoints = nullptr;
    frame_ = ReferenceFrame();
    positions.clear();
    pointCount_ = 0;
    hostPolygons = nullptr;
    polygonCount_ = 0;
    reducibleSet = HostSelection();
    reducibleFlags.clear();
    reducibleCount_ = 0;
    hiddenPointSet = HostSelection();
    hiddenPointFlags.clear();
    polygonSet = HostSelection();
    polygonFlags.clear();
    livePolygonCount = 0;
    pointPolygons.clear();
    pointMarks.clear();
    polygonMarks.clear();
    repeatedCorners = false;
    attributes_.release();
    ownLane_.transfer.clear();
    recorder_.release();
}

double ReductionMesh::polygonArea(int32_t f) const {
    return ::polygonArea(hostPolygons[f], [this](int32_t p) -> const Vector& { return positions[p]; });
}

Plane ReductionMesh::polygonPlane(int32_t f, bool unit) const {
    const HostPolygon& p = hostPolygons[f];
    const Vector& a = positions[p.a];
    const Vector& b = positions[p.b];
    const Vector& c = positions[p.c];
    if (p.c == p.d) return unit ? trianglePlaneUnit(a, b, c) : trianglePlaneRaw(a, b, c);
    const Vector& d = positions[p.d];
    return unit ? quadPlaneUnit(a, b, c, d) : quadPlaneRaw(a, b, c, d);
}

double ReductionMesh::cornerAngle(int32_t a, int32_t b, int32_t c) const {
    return ::cornerAngle(positions[a], positions[b], positions[c]);
}

void ReductionMesh::splitMarked(int32_t p, uint8_t threshold, Stack<int32_t>& low, Stack<int32_t>& high) {
    const FlatLists<int32_t>::List polys = pointPolygons[p];
    for (int32_t i = 0; i < polys.count; ++i) {
        const int32_t f = polys.items[i];
        uint8_t& m = polygonMarks[f];
        if (m == 0) continue;
        (m < threshold ? low : high).push(f);
        m = 0;
    }
}

void ReductionMesh::polygonsOfEdge(int32_t i, int32_t j, Stack<int32_t>& list, uint8_t* marks) const {
    const FlatLists<int32_t>::List first = pointPolygons[i];
    if (!repeatedCorners) {
        // Each polygon is in i's list once: those with a corner at j, without j's list and the
        // marks (a caller that has just walked around i has them at hand).
        for (int32_t k = 0; k < first.count; ++k)
            if (hasCorner(hostPolygons[first.items[k]], j)) list.push(first.items[k]);
        return;
    }
    // Mark 1 on i's polygons, then 0 on j's: the ones left at 0 in i's list use both, each taken once.
    const FlatLists<int32_t>::List second = pointPolygons[j];
    for (int32_t k = 0; k < first.count; ++k) marks[first.items[k]] = 1;
    for (int32_t k = 0; k < second.count; ++k) marks[second.items[k]] = 0;
    for (int32_t k = 0; k < first.count; ++k) {
        const int32_t f = first.items[k];
        if (marks[f] == 0) {
            list.push(f);
            marks[f] = 1;
        }
    }
}

void ReductionMesh::pointNeighbours(int32_t p, Stack<int32_t>& list, uint8_t* marks) const {
    const FlatLists<int32_t>::List polys = pointPolygons[p];
    for (int32_t i = 0; i < polys.count; ++i) {
        const HostPolygon& q = hostPolygons[polys.items[i]];
        const int n = cornerCount(q);
        for (int k = 0; k < n; ++k) marks[corner(q, k)] = 1;
    }
    for (int32_t i = 0; i < polys.count; ++i) {
        const HostPolygon& q = hostPolygons[polys.items[i]];
        if (q.c == q.d) {
            // The two corners other than p.
            if (q.a == p) {
                marks[q.b] = 0;
                marks[q.c] = 0;
            } else if (q.b == p) {
                marks[q.a] = 0;
                marks[q.c] = 0;
            } else {
                marks[q.a] = 0;
                marks[q.b] = 0;
            }
        } else {
            // The corners before and after p; the opposite corner stays marked.
            const int k = cornerOf(q, p);
            if (k < 0) continue;
            marks[corner(q, (k + 3) % 4)] = 0;
            marks[corner(q, (k + 1) % 4)] = 0;
        }
    }
    marks[p] = 1;
    for (int32_t i = 0; i < polys.count; ++i) {
        const HostPolygon& q = hostPolygons[polys.items[i]];
        const int n = cornerCount(q);
        for (int k = 0; k < n; ++k) {
            const int32_t c = corner(q, k);
            uint8_t& m = marks[c];
            if (m == 0) {
                list.push(c);
                m = 1;
            }
        }
    }
}

void ReductionMesh::planContraction(int32_t v1, int32_t v2, const Vector& target, double cost, Contraction& k) {
    k.v1 = v1;
    k.v2 = v2;
    k.dv1 = subtract(target, positions[v1]);
    k.dv2 = subtract(target, positions[v2]);
    k.cost = cost >= 0.0 ? cost : 0.0;
    emptyKeepingStorage(k.changedPolygons);
    emptyKeepingStorage(k.dyingPolygons);

    view().markEnds(v1, v2, polygonMarks.items);
    splitMarked(v1, 2, k.changedPolygons, k.dyingPolygons);
    k.pivot = k.changedPolygons.count;
    splitMarked(v2, 2, k.changedPolygons, k.dyingPolygons);

    // A quad whose merged corners were neighbours lives on as a triangle.
    for (int32_t i = k.dyingPolygons.count - 1; i >= 0; --i) {
        const int32_t f = k.dyingPolygons.items[i];
        HostPolygon q = hostPolygons[f];
        if (q.c == q.d) continue;
        for (int c = 0; c < 4; ++c)
            if (corner(q, c) == v2) corner(q, c) = v1;
        if (!hasEqualNeighbours(q)) continue;
        k.changedPolygons.push(f);
        k.dyingPolygons.items[i] = k.dyingPolygons.items[k.dyingPolygons.count - 1];
        --k.dyingPolygons.count;
    }
}

bool ReductionMesh::reserveContraction(const Contraction& k, Lane& lane) {
    const int32_t kept = pointPolygons.count(k.v1);
    const int32_t touched = kept + pointPolygons.count(k.v2);
    // The kept point gains at most the polygons relinked to it.
    const int32_t room = kept + k.changedPolygons.count - k.pivot;
    if (lane.shared()) return pointPolygons.reserveIn(k.v1, room, *lane.polygonArena) && lane.transfer.reserve(touched);
    return pointPolygons.reserve(k.v1, room) && lane.transfer.reserve(touched) && attributes_.reserveRing(touched);
}

void ReductionMesh::addRetired(Lane& lane) {
    reducibleCount_ -= lane.retiredPoints;
    livePolygonCount -= lane.retiredSetPolygons;
    lane.retiredPoints = 0;
    lane.retiredSetPolygons = 0;
}

int32_t ReductionMesh::recordEntryBound(int32_t v1, int32_t v2) const {
    const FlatLists<int32_t>::List first = pointPolygons[v1];
    const FlatLists<int32_t>::List second = pointPolygons[v2];
    const int32_t touched = first.count + second.count;
    const int32_t uvw = attributes_.uvwTagCount();
    // UVW transfer: one entry per touched polygon and tag. Retiring or relinking: the indices, and
    // for a quad turned into a triangle its UVW records and normals.
    int32_t bound = touched * uvw + touched * (uvw + 2);
    // Point selections, float maps and the hidden set.
    bound += attributes_.pointEntryBound();
    if (attributes_.hasNormals()) {
        // Every polygon around every corner of the touched polygons, and v1's list growing by v2's.
        int32_t region = touched;
        for (const FlatLists<int32_t>::List* list : {&first, &second}) {
            for (int32_t i = 0; i < list->count; ++i) {
                const HostPolygon& q = hostPolygons[list->items[i]];
                const int n = cornerCount(q);
                for (int c = 0; c < n; ++c) region += pointPolygons.count(corner(q, c));
            }
        }
        bound += region;
    }
    return bound;
}

bool ReductionMesh::startRecording() {
    if (!recorder_.start(reducibleCount_, attributes_.uvwTagCount(), attributes_.floatMapCount(),
                         attributes_.pointSetCount(), hiddenPointSet))
        return false;
    attributes_.bindSlots(recorder_.history());
    return true;
}

// ---- one contraction ----
// The merged point moves, the polygons that used both ends vanish or turn into triangles, the
// removed point's polygons are re-pointed; the attribute transfer carries the tags' data along and
// the recorder writes every change into the contraction's record while a history is recorded.

void ReductionMesh::prefetchContraction(int32_t v1, int32_t v2) const {
    keepPrefetchCall();
    for (const int32_t end : {v1, v2}) {
        __builtin_prefetch(hostPoints + end);
        const FlatLists<int32_t>::List polys = pointPolygons[end];
        for (int32_t i = 0; i < polys.count; ++i) {
            const int32_t f = polys.items[i];
            __builtin_prefetch(polygonFlags.items + f);
            __builtin_prefetch(polygonMarks.items + f);
            attributes_.prefetchUvwRows(f);
        }
    }
}

void ReductionMesh::contract(const Contraction& k, Lane& lane) {
    if (attributes_.normalsDeferred()) attributes_.settleLeavingPoints(view(), k);
    recorder_.begin();
    // The UVW groups are told apart by the polygons that still name both ends.
    attributes_.transferUvw(view(), polygonMarks.items, k, lane.transfer, recorder_);
    movePoint(k);
    relinkPolygons(k, lane);
    retirePoint(k.v2, lane);
    attributes_.blendPointData(k, recorder_);
    // The corner normals are part of this contraction's record, so they are refreshed before it closes.
    attributes_.refreshNormals(view(), polygonMarks.items, k.v1, recorder_);
    hideRemovedPoint(k.v2);
    recorder_.close(object_, reducibleCount_, k.cost, k.rawError);
}

void ReductionMesh::movePoint(const Contraction& k) {
    const int32_t v1 = k.v1;
    // A point that lands on one of the ends takes that end's host coordinates as they are; any
    // other target is mapped back to object units.
    const bool atV1 = k.dv1.x == 0.0 && k.dv1.y == 0.0 && k.dv1.z == 0.0;
    const bool atV2 = k.dv2.x == 0.0 && k.dv2.y == 0.0 && k.dv2.z == 0.0;
    Vector& p = positions[v1];
    p = atV2 ? positions[k.v2] : add(p, k.dv1);
    const FloatVector moved = atV1 ? hostPoints[v1] : atV2 ? hostPoints[k.v2] : toFloatVector(frame_.toObject(p));
    if (recorder_.recording()) recorder_.pointMoved(v1, frame_.offsetToObject(k.dv1), hostPoints[v1], moved);
    hostPoints[v1] = moved;
}

void ReductionMesh::relinkPolygons(const Contraction& k, Lane& lane) {
    for (int32_t i = 0; i < k.dyingPolygons.count; ++i) retirePolygon(k.dyingPolygons.items[i], lane);
    for (int32_t i = k.pivot; i < k.changedPolygons.count; ++i) relinkPolygon(k.changedPolygons.items[i], k.v2, k.v1);
}

void ReductionMesh::retirePoint(int32_t v2, Lane& lane) {
    reducibleFlags[v2] = 0;
    if (lane.shared())
        ++lane.retiredPoints;
    else
        --reducibleCount_;
    pointPolygons.empty(v2);
}

void ReductionMesh::retirePolygon(int32_t f, Lane& lane) {
    HostPolygon& p = hostPolygons[f];
    const HostPolygon before = p;
    const int n = cornerCount(before);
    for (int c = 0; c < n; ++c) pointPolygons.removeFirst(corner(before, c), f);
    p = HostPolygon{0, 0, 0, 0};
    recorder_.polygonChanged(f, before, p);
    uint8_t& flag = polygonFlags[f];
    // The count follows the live members of the polygon set.
    if (flag != 0) {
        if (lane.shared())
            ++lane.retiredSetPolygons;
        else
            --livePolygonCount;
    }
    flag = 0;
}

void ReductionMesh::relinkPolygon(int32_t f, int32_t v2, int32_t v1) {
    // The room was reserved with the contraction.
    if (!pointPolygons.contains(v1, f)) pointPolygons.push(v1, f);

    HostPolygon& p = hostPolygons[f];
    const HostPolygon before = p;
    if (p.c == p.d) {
        if (p.a == v2) {
            p.a = v1;
        } else if (p.b == v2) {
            p.b = v1;
        } else if (p.c == v2) {
            p.c = v1;
            p.d = v1;
        }
    } else {
        const int at = cornerOf(p, v2);
        if (at >= 0) corner(p, at) = v1;
        const int shift = triangleFormShift(p);
        if (shift != 0) {
            int32_t corners[4] = {p.a, p.b, p.c, p.d};
            rotateCorners(corners, shift);
            p = HostPolygon{corners[0], corners[1], corners[2], corners[3]};
            attributes_.turnCorners(f, shift, recorder_);
        }
    }
    recorder_.polygonChanged(f, before, p);
}

void ReductionMesh::hideRemovedPoint(int32_t v2) {
    // The removed point is hidden while the level of detail is being chosen, that is while the
    // preview's course is recorded.
    if (!recorder_.recording()) return;
    uint8_t& hidden = hiddenPointFlags[v2];
    if (hidden != 0) return;
    hidden = 255;
    hiddenPointSet.select(v2);
    recorder_.membershipChanged(HISTORY_HIDDEN_POINTS, v2, false, true);
}
