#include "mixkit/ReductionMesh.h"

#include "mixkit/ShapeMeasures.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"

namespace {


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
    object = obj;
    hostPoints = reinterpret_cast<FloatVector*>(obj.points());
    pointCount = obj.pointCount();
    hostPolygons = obj.polygons();
    polygonCount = obj.polygonCount();
    if ((pointCount > 0 && hostPoints == nullptr) || (polygonCount > 0 && hostPolygons == nullptr) ||
        pointCount < 0 || polygonCount < 0) {
        release();
        return false;
    }

    reducibleSet = reducible;
    bool ok = takeMembership(reducible, pointCount, reducibleFlags);
    if (ok) reducibleCount = nonZero(reducibleFlags);

    // Every point, fixed ones included, is measured in the frame of the reducible points.
    if (ok) frame = ReferenceFrame::ofPoints(hostPoints, reducibleFlags.items, pointCount);
    ok = ok && positions.resize(pointCount);
    for (int32_t i = 0; ok && i < pointCount; ++i) positions.items[i] = frame.toFrame(hostPoints[i]);

    hiddenPointSet = obj.hiddenPoints();
    ok = ok && takeMembership(hiddenPointSet, pointCount, hiddenPointFlags);
    if (ok) saturate(hiddenPointFlags);

    polygonSet = polygons;
    ok = ok && takeMembership(polygons, polygonCount, polygonFlags);
    if (ok) livePolygonCount = nonZero(polygonFlags);

    ok = ok && buildAdjacency();
    ok = ok && pointMarks.resize(pointCount) && polygonMarks.resize(polygonCount) && ringMarks.resize(pointCount);
    ok = ok && unitNormals.resize(polygonCount);
    for (int32_t f = 0; ok && f < polygonCount; ++f)
        if (!isDead(hostPolygons[f])) unitNormals.items[f] = polygonNormal(f, true);
    ok = ok && collectTags();
    if (!ok) {
        release();
        return false;
    }
    return true;
}

bool ReductionMesh::buildAdjacency() {
    // Count first, so that every list gets its room at once.
    Stack<int32_t> degree;
    if (!degree.resize(pointCount)) return false;
    auto valid = [this](int32_t p) { return p >= 0 && p < pointCount; };
    for (int32_t i = 0; i < polygonCount; ++i) {
        const HostPolygon& p = hostPolygons[i];
        if (isDead(p)) continue;
        const int n = cornerCount(p);
        for (int k = 0; k < n; ++k) {
            if (!valid(corner(p, k))) return false;  // a corner outside the point array
            ++degree.items[corner(p, k)];
        }
    }
    // Room for twice the polygons a point has now: a kept point gains the polygons of the point
    // merged into it, and a list that can take them is not moved.
    for (int32_t i = 0; i < pointCount; ++i) degree.items[i] *= 2;
    if (!pointPolygons.build(pointCount, degree.items)) return false;
    repeatedCorners = false;
    for (int32_t i = 0; i < polygonCount; ++i) {
        const HostPolygon& p = hostPolygons[i];
        if (isDead(p)) continue;
        const int n = cornerCount(p);
        for (int k = 0; k < n; ++k) {
            pointPolygons.push(corner(p, k), i);  // within the room just made
            for (int j = 0; j < k; ++j) repeatedCorners = repeatedCorners || corner(p, j) == corner(p, k);
        }
    }
    return true;
}

bool ReductionMesh::collectTags() {
    for (HostTag tag = object.firstTag(); tag.valid(); tag = tag.next()) {
        switch (tag.type()) {
            case TAG_UVW: {
                auto* rows = static_cast<UvwRecord*>(tag.data());
                if (polygonCount > 0 && (rows == nullptr || tag.dataCount() < polygonCount)) break;
                if (!pushChecked(uvwTags, UvwTagEntry{tag, 0, rows})) return false;
                break;
            }
            case TAG_POLYGON_SELECTION:
            case TAG_POINT_SELECTION: {
                const bool points = tag.type() == TAG_POINT_SELECTION;
                Stack<SelectionBytes>& list = points ? pointSets : seamSets;
                const int32_t before = list.count;
                list.push(SelectionBytes{});
                if (list.count == before) return false;
                SelectionBytes& entry = list.items[list.count - 1];
                entry.set = tag.selection();
                if (!takeMembership(entry.set, points ? pointCount : polygonCount, entry.bytes)) return false;
                saturate(entry.bytes);
                break;
            }
            case TAG_FLOAT_MAP: {
                auto* data = static_cast<float*>(tag.data());
                if (pointCount > 0 && (data == nullptr || tag.dataCount() < pointCount)) break;
                if (!pushChecked(vertexMaps, VertexMapEntry{tag, data})) return false;
                break;
            }
            case TAG_NORMALS: {
                auto* rows = static_cast<NormalRecord*>(tag.data());
                if (polygonCount > 0 && (rows == nullptr || tag.dataCount() < polygonCount)) break;
                normalTag = tag;
                normalRows = rows;
                break;
            }
            default:
                break;
        }
    }
    return true;
}

void ReductionMesh::setFrame(const ReferenceFrame& f) {
    frame = f;
    for (int32_t i = 0; i < positions.count; ++i) positions.items[i] = frame.toFrame(hostPoints[i]);
    for (int32_t i = 0; i < unitNormals.count; ++i)
        if (!isDead(hostPolygons[i])) unitNormals.items[i] = polygonNormal(i, true);
}

void ReductionMesh::release() {
    object = HostPolygonObject();
    hostPoints = nullptr;
    frame = ReferenceFrame();
    positions.clear();
    pointCount = 0;
    hostPolygons = nullptr;
    polygonCount = 0;
    reducibleSet = HostSelection();
    reducibleFlags.clear();
    reducibleCount = 0;
    hiddenPointSet = HostSelection();
    hiddenPointFlags.clear();
    polygonSet = HostSelection();
    polygonFlags.clear();
    livePolygonCount = 0;
    pointPolygons.clear();
    pointMarks.clear();
    polygonMarks.clear();
    ringMarks.clear();
    unitNormals.clear();
    pointSets.clear();
    seamSets.clear();
    vertexMaps.clear();
    uvwTags.clear();
    normalTag = HostTag();
    normalRows = nullptr;
    sharedPolygons.clear();
    firstOnlyPolygons.clear();
    secondOnlyPolygons.clear();
    recording = 0;
    history.release();
    recordingFailed = false;
    repeatedCorners = false;
    ringNormals_.clear();
}

double ReductionMesh::polygonArea(int32_t f) const {
    const HostPolygon& p = hostPolygons[f];
    const Vector& a = positions[p.a];
    const Vector& b = positions[p.b];
    const Vector& c = positions[p.c];
    if (p.c == p.d) return 0.5 * length(cross(subtract(b, a), subtract(c, a)));
    const Vector& d = positions[p.d];
    return 0.5 * length(cross(subtract(b, a), subtract(d, a))) + 0.5 * length(cross(subtract(d, c), subtract(b, c)));
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
    // Mark 1 on i's polygons, then 0 on j's: the ones left at 0 in i's list use both, each taken once.
    const FlatLists<int32_t>::List first = pointPolygons[i];
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

    markPolygons(v2, 0);
    markPolygons(v1, 1);
    addToMarks(v2, 1);
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

void ReductionMesh::writeBackPointSets() {
    for (int32_t s = 0; s < pointSets.count; ++s) {
        SelectionBytes& entry = pointSets.items[s];
        for (int32_t i = 0; i < entry.bytes.count; ++i) {
            if (entry.bytes.items[i] < POINT_SET_THRESHOLD)
                entry.set.deselect(i);
            else
                entry.set.select(i);
        }
    }
}

bool ReductionMesh::reserveContraction(const Contraction& k) {
    const int32_t kept = pointPolygons.count(k.v1);
    const int32_t touched = kept + pointPolygons.count(k.v2);
    // The kept point gains at most the polygons relinked to it.
    return pointPolygons.reserve(k.v1, kept + k.changedPolygons.count - k.pivot) && sharedPolygons.reserve(touched) &&
           firstOnlyPolygons.reserve(touched) && secondOnlyPolygons.reserve(touched) &&
           (normalRows == nullptr || ringNormals_.reserve(4 * touched));
}

int32_t ReductionMesh::recordEntryBound(int32_t v1, int32_t v2) const {
    const FlatLists<int32_t>::List first = pointPolygons[v1];
    const FlatLists<int32_t>::List second = pointPolygons[v2];
    const int32_t touched = first.count + second.count;
    const int32_t uvw = uvwTags.count;
    // UVW transfer: one entry per touched polygon and tag. Retiring or relinking: the indices, and
    // for a quad turned into a triangle its UVW records and normals.
    int32_t bound = touched * uvw + touched * (uvw + 2);
    // Point selections, float maps and the hidden set.
    bound += pointSets.count + vertexMaps.count + 1;
    if (normalRows != nullptr) {
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
