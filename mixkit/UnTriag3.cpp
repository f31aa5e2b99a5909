#include "mixkit/UnTriag3.h"

#include <climits>
#include <cmath>
#include <new>
#include <utility>

#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"
#include "sources/HostMemory.h"
#include "sources/HostWorkers.h"

namespace {

// Candidate records per block from the host allocator.
constexpr int32_t kCandidateBlock = 1024;
// Triangles searched for merges per block of a worker.
constexpr int32_t kTriangleBlock = 16384;
// Allocation lines reported with the source tag.
constexpr int32_t kLineCandidates = 120;
// Texture coordinates closer than this in each of u, v and w count as continuous.
constexpr double kUvwTolerance = 0.0001;


// Calls f with each corner point of p once, in corner order (a triangle's repeated d is skipped).
template <class F>
void forEachDistinctCorner(const HostPolygon& p, F f) {
    for (int32_t s = 0; s < 4; ++s) {
        const int32_t c = corner(p, s);
        bool repeated = false;
        for (int32_t t = 0; t < s; ++t) repeated = repeated || corner(p, t) == c;
        if (!repeated) f(c);
    }
}

// Slots of a triangle's corners at the ends of an edge, as numbered in QuadCandidate::edge.
void edgeSlots(int32_t edge, int32_t* from, int32_t* to) {
    switch (edge) {
        case QUAD_EDGE_AB: *from = 0; *to = 1; return;
        case QUAD_EDGE_BC: *from = 1; *to = 2; return;
        default: *from = 2; *to = 0; return;
    }
}

// The slot (0..2) of point p in triangle t, or -1.
int32_t slotOf(const HostPolygon& t, int32_t p) {
    if (t.a == p) return 0;
    if (t.b == p) return 1;
    if (t.c == p) return 2;
    return -1;
}

// Where the corner of the second triangle lands in the quad, per shared edge of the first:
// a-b: (a, X, b, c); b-c: (a, b, X, c); c-a: (a, b, c, X).
int32_t insertSlot(int32_t edge) {
    switch (edge) {
        case QUAD_EDGE_AB: return 1;
        case QUAD_EDGE_BC: return 2;
        default: return 3;
    }
}

// The quad's four entries: the first triangle's slots 0, 1, 2 in order with the second triangle's
// entry `x` put in at `at`. T is one corner's value (a point index, a UVW or a normal).
template <typename T>
void quadOrder(const T first[3], const T& x, int32_t at, T out[4]) {
    int32_t from = 0;
    for (int32_t k = 0; k < 4; ++k) out[k] = k == at ? x : first[from++];
}

// The merged quad is stored so that the shared edge is its diagonal a-c: a quad is drawn, measured
// and split as the triangles (a, b, c) and (a, c, d), so it then stands for exactly the surface of
// the two triangles it came from, however far from planar they are. The orders of insertSlot put
// the shared edge there already for a-b and c-a; for b-c, (a, b, X, c) becomes (b, X, c, a).
template <typename T>
void keepSharedDiagonal(int32_t edge, T quad[4]) {
    if (edge != QUAD_EDGE_BC) return;
    const T first = quad[0];
    quad[0] = quad[1];
    quad[1] = quad[2];
    quad[2] = quad[3];
    quad[3] = first;
}

// One corner of a corner-normal record; four of them make a NormalRecord.
struct NormalCorner {
    int16_t v[3];
};
static_assert(sizeof(NormalCorner) * 4 == sizeof(NormalRecord));

}  // namespace

bool quadCandidateKey(const double quad[4][3], double* key) {
    const Vector p0 = toVector(quad[0]), p1 = toVector(quad[1]), p2 = toVector(quad[2]), p3 = toVector(quad[3]);
    const Vector e01 = subtract(p1, p0), e03 = subtract(p3, p0);
    const Vector e12 = subtract(p2, p1), e10 = subtract(p0, p1);
    const Vector e23 = subtract(p3, p2), e21 = subtract(p1, p2);
    const Vector e30 = subtract(p0, p3), e32 = subtract(p2, p3);
    const Vector m0 = normalize(cross(e01, e03));
    const Vector m1 = normalize(cross(e12, e10));
    const Vector m2 = normalize(cross(e23, e21));
    const Vector m3 = normalize(cross(e30, e32));
    if (!(dot(m0, m1) >= 0.0 && dot(m1, m2) >= 0.0 && dot(m2, m3) >= 0.0)) return false;

    // Twice the area of the two halves split along p1-p3, over the summed squared edge lengths.
    const double doubleArea = length(cross(e01, e03)) + length(cross(e12, subtract(p3, p1)));
    const double s = dot(e01, e01) + dot(e12, e12) + dot(e23, e23) + dot(e30, e30);
    const double compactness = s == 0.0 ? 1.0 : 2.0 * doubleArea / s;
    *key = compactness + dot(m0, m2);
    return true;
}

void UnTriag3::release() {
    polygonFlags.clear();
    selectionTagFlags.clear();
    uvwTags.clear();
    normalTags.clear();
    candidates.clear();
    releaseNeighboursAndCandidates();
}

void UnTriag3::releaseNeighboursAndCandidates() {
    cornerStart.clear();
    cornerPolygons.clear();
    for (int32_t i = 0; i < candidateBlocks.count; ++i) hostFree(candidateBlocks.items[i]);
    candidateBlocks.clear();
    nextCandidate = nullptr;
    candidatesLeft = 0;
}

bool UnTriag3::run(HostPolygonObject target, HostSelection polygonSet) {
    release();
    merged = 0;
    object = target;
    points = nullptr;
    polygons = nullptr;
    pointCount = 0;
    polygonCount = 0;
    if (!object.valid() || !object.isPolygonObject()) return false;

    points = object.points();
    pointCount = object.pointCount();
    polygons = object.polygons();
    polygonCount = object.polygonCount();
    if (pointCount < 0 || polygonCount < 0) return false;
    if (polygonCount == 0) return true;
    if (polygons == nullptr || (pointCount > 0 && points == nullptr)) return false;

    if (!fillFlags(polygonSet)) return false;
    if (!collectTags()) return false;
    if (!buildNeighbours()) {
        cornerStart.clear();
        cornerPolygons.clear();
        return false;
    }

    collectCandidates();

    while (HeapItem* top = candidates.popTop()) {
        const QuadCandidate& c = *static_cast<QuadCandidate*>(top);
        // The next pair's triangles are asked for while this one is tested and merged: the pairs
        // come in key order, scattered over the polygon array.
        if (candidates.size() > 0) {
            const QuadCandidate& next = *static_cast<const QuadCandidate*>(candidates.at(0));
            __builtin_prefetch(polygons + next.first);
            __builtin_prefetch(polygons + next.second);
        }
        if (isTriangle(c.first) && isTriangle(c.second)) merge(c);
    }

    // The neighbour table and the candidate records are done with.
    releaseNeighboursAndCandidates();
    return true;
}

bool UnTriag3::fillFlags(HostSelection polygonSet) {
    if (!polygonFlags.resize(polygonCount)) return false;
    if (polygonSet.valid()) {
        polygonSet.memberBytes(polygonFlags.items, polygonCount);
    } else {
        for (int32_t i = 0; i < polygonCount; ++i) polygonFlags.items[i] = 1;
    }
    return true;
}

bool UnTriag3::collectTags() {
    for (HostTag tag = object.firstTag(); tag.valid(); tag = tag.next()) {
        const int32_t type = tag.type();
        if (type == TAG_UVW || type == TAG_NORMALS) {
            Stack<HostTag>& list = type == TAG_UVW ? uvwTags : normalTags;
            const int32_t before = list.count;
            list.push(tag);
            if (list.count == before) return false;
        } else if (type == TAG_POLYGON_SELECTION) {
            const int32_t before = selectionTagFlags.count;
            selectionTagFlags.push(SelectionTagFlags());
            if (selectionTagFlags.count == before) return false;
            SelectionTagFlags& entry = selectionTagFlags.items[before];
            entry.tag = tag;
            if (!entry.members.resize(polygonCount)) return false;
            const HostSelection members = tag.selection();
            if (members.valid()) {
                members.memberBytes(entry.members.items, polygonCount);
            } else {
                for (int32_t i = 0; i < polygonCount; ++i) entry.members.items[i] = 0;
            }
            entry.flag = 1;
        }
    }
    return true;
}

bool UnTriag3::isLive(int32_t i) const {
    const HostPolygon& p = polygons[i];
    if (p.a == p.b) return false;  // dead or empty
    return cornersWithin(p, pointCount);
}

bool UnTriag3::mayMerge(int32_t i) const { return polygonFlags.items[i] != 0 && isTriangle(i); }

bool UnTriag3::isTriangle(int32_t i) const {
    const HostPolygon& p = polygons[i];
    return p.c == p.d && p.b != p.c && p.c != p.a && isLive(i);
}

bool UnTriag3::buildNeighbours() {
    // Every live polygon is listed under each of its distinct corners.
    if (polygonCount > INT32_MAX / 4 || pointCount > INT32_MAX - 1) return false;
    if (!cornerStart.resize(pointCount + 1)) return false;
    int32_t total = 0;
    for (int32_t i = 0; i < polygonCount; ++i) {
        if (!isLive(i)) continue;
        forEachDistinctCorner(polygons[i], [&](int32_t c) {
            ++cornerStart.items[c + 1];
            ++total;
        });
    }
    for (int32_t k = 0; k < pointCount; ++k) cornerStart.items[k + 1] += cornerStart.items[k];
    if (!cornerPolygons.resize(total)) return false;
    // Fill with cornerStart[p] as the write cursor of point p, then shift the starts back.
    for (int32_t i = 0; i < polygonCount; ++i) {
        if (!isLive(i)) continue;
        forEachDistinctCorner(polygons[i], [&](int32_t c) { cornerPolygons.items[cornerStart.items[c]++] = i; });
    }
    for (int32_t k = pointCount; k > 0; --k) cornerStart.items[k] = cornerStart.items[k - 1];
    cornerStart.items[0] = 0;
    return true;
}

int32_t UnTriag3::neighbourAcross(int32_t i, int32_t u, int32_t v) const {
    int32_t found = -1;
    int32_t users = 0;
    bool reversed = false;
    for (int32_t k = cornerStart.items[u]; k < cornerStart.items[u + 1]; ++k) {
        const int32_t q = cornerPolygons.items[k];
        if (q == i) continue;
        const HostPolygon& p = polygons[q];
        const int32_t n = p.c == p.d ? 3 : 4;
        for (int32_t s = 0; s < n; ++s) {
            const int32_t from = corner(p, s);
            const int32_t to = corner(p, (s + 1) % n);
            if ((from == u && to == v) || (from == v && to == u)) {
                ++users;
                found = q;
                reversed = from == v;
                break;
            }
        }
    }
    // An edge of three or more polygons, or one that the neighbour runs the same way (it faces
    // the other side), is no place for a merge.
    if (users != 1 || !reversed) return -1;
    return found;
}

bool UnTriag3::sameSelections(int32_t i, int32_t j) const {
    for (int32_t t = 0; t < selectionTagFlags.count; ++t) {
        const Stack<uint8_t>& members = selectionTagFlags.items[t].members;
        if ((members.items[i] != 0) != (members.items[j] != 0)) return false;
    }
    return true;
}

bool UnTriag3::hasCornerRows(int32_t i) const {
    for (int32_t t = 0; t < uvwTags.count; ++t)
        if (uvwTags.items[t].data() == nullptr || uvwTags.items[t].dataCount() <= i) return false;
    for (int32_t t = 0; t < normalTags.count; ++t)
        if (normalTags.items[t].data() == nullptr || normalTags.items[t].dataCount() <= i) return false;
    return true;
}

bool UnTriag3::sameUvw(int32_t i, int32_t slotI, int32_t j, int32_t slotJ) const {
    for (int32_t t = 0; t < uvwTags.count; ++t) {
        const UvwRecord* rows = static_cast<const UvwRecord*>(uvwTags.items[t].data());
        const FloatVector& a = rows[i].corner[slotI];
        const FloatVector& b = rows[j].corner[slotJ];
        const float av[3] = {a.x, a.y, a.z}, bv[3] = {b.x, b.y, b.z};
        for (int32_t k = 0; k < 3; ++k)
            if (!(std::fabs(static_cast<double>(av[k]) - static_cast<double>(bv[k])) < kUvwTolerance)) return false;
    }
    return true;
}

QuadCandidate* UnTriag3::makeCandidate() {
    if (candidatesLeft == 0) {
        void* block = hostAlloc(sizeof(QuadCandidate) * kCandidateBlock, kLineCandidates, sourceTag);
        if (block == nullptr) {
            reportNoMemory(sourceTag, kLineCandidates);
            return nullptr;
        }
        const int32_t before = candidateBlocks.count;
        candidateBlocks.push(static_cast<QuadCandidate*>(block));
        if (candidateBlocks.count == before) {
            hostFree(block);
            return nullptr;
        }
        nextCandidate = static_cast<QuadCandidate*>(block);
        candidatesLeft = kCandidateBlock;
    }
    --candidatesLeft;
    return new (nextCandidate++) QuadCandidate();
}

void UnTriag3::collectCandidates() {
    // Found in blocks on the workers, each block into a list of its own; a list the host refuses
    // memory for leaves its block to the single pass below, which keeps the same order.
    const int32_t blocks = polygonCount > 0 ? (polygonCount - 1) / kTriangleBlock + 1 : 0;
    Stack<Stack<FoundPair>> found;
    Stack<uint8_t> complete;  // per block, 1 when its list holds all of its merges
    const bool shared = found.resize(blocks) && complete.resize(blocks);
    if (shared) {
        forBlocks(polygonCount, kTriangleBlock, workerCount(0), nullptr, [&](int32_t from, int32_t to) {
            const int32_t b = from / kTriangleBlock;
            complete.items[b] = 0;
            // Grown here and stored at the block's end: the blocks' list headers lie side by side,
            // and the next block is another worker's (WORKER_LINE_BYTES).
            Stack<FoundPair> pairs;
            for (int32_t i = from; i < to; ++i)
                if (mayMerge(i) && !findPairs(i, pairs)) return true;
            found.items[b] = std::move(pairs);
            complete.items[b] = 1;
            return true;
        });
    }
    Stack<FoundPair> one;
    for (int32_t b = 0; b < blocks; ++b) {
        if (shared && complete.items[b] != 0) {
            for (int32_t k = 0; k < found.items[b].count; ++k) addCandidate(found.items[b].items[k]);
            found.items[b].clear();
            continue;
        }
        const int32_t to = (b + 1) * kTriangleBlock < polygonCount ? (b + 1) * kTriangleBlock : polygonCount;
        for (int32_t i = b * kTriangleBlock; i < to; ++i) {
            if (!mayMerge(i)) continue;
            one.clear();
            // A merge that finds no room is skipped, as one whose record cannot be made.
            findPairs(i, one);
            for (int32_t k = 0; k < one.count; ++k) addCandidate(one.items[k]);
        }
    }
}

void UnTriag3::addCandidate(const FoundPair& pair) {
    QuadCandidate* candidate = makeCandidate();
    if (candidate == nullptr) return;
    candidate->first = pair.first;
    candidate->second = pair.second;
    candidate->edge = pair.edge;
    candidates.insert(candidate, pair.key);
}

bool UnTriag3::findPairs(int32_t i, Stack<FoundPair>& out) const {
    const HostPolygon& t = polygons[i];
    if (!hasCornerRows(i)) return true;
    const int32_t own[3] = {t.a, t.b, t.c};
    for (const int32_t edge : {QUAD_EDGE_AB, QUAD_EDGE_BC, QUAD_EDGE_CA}) {
        int32_t su = 0, sv = 0;
        edgeSlots(edge, &su, &sv);
        const int32_t u = own[su], v = own[sv];
        const int32_t j = neighbourAcross(i, u, v);
        if (j < i || !mayMerge(j)) continue;
        if (!sameSelections(i, j)) continue;
        if (!hasCornerRows(j)) continue;

        const HostPolygon& n = polygons[j];
        const int32_t ju = slotOf(n, u), jv = slotOf(n, v);
        const int32_t jx = 3 - ju - jv;
        const int32_t x = corner(n, jx);
        if (x == own[0] || x == own[1] || x == own[2]) continue;  // the same three points twice
        if (!sameUvw(i, su, j, ju) || !sameUvw(i, sv, j, jv)) continue;

        int32_t quad[4];
        quadOrder(own, x, insertSlot(edge), quad);
        double at[4][3];
        for (int32_t k = 0; k < 4; ++k)
            for (int32_t c = 0; c < 3; ++c) at[k][c] = points[static_cast<int64_t>(quad[k]) * 3 + c];
        double key = 0.0;
        if (!quadCandidateKey(at, &key)) continue;
        if (!pushChecked(out, FoundPair{i, j, edge, key})) return false;
    }
    return true;
}

void UnTriag3::merge(const QuadCandidate& c) {
    HostPolygon& first = polygons[c.first];
    HostPolygon& second = polygons[c.second];
    int32_t su = 0, sv = 0;
    edgeSlots(c.edge, &su, &sv);
    const int32_t own[3] = {first.a, first.b, first.c};
    const int32_t jx = 3 - slotOf(second, own[su]) - slotOf(second, own[sv]);
    const int32_t at = insertSlot(c.edge);

    int32_t quad[4];
    quadOrder(own, corner(second, jx), at, quad);
    keepSharedDiagonal(c.edge, quad);

    for (int32_t t = 0; t < uvwTags.count; ++t) {
        UvwRecord* rows = static_cast<UvwRecord*>(uvwTags.items[t].data());
        UvwRecord& rowI = rows[c.first];
        const UvwRecord& rowJ = rows[c.second];
        const FloatVector mine[3] = {rowI.corner[0], rowI.corner[1], rowI.corner[2]};
        quadOrder(mine, rowJ.corner[jx], at, rowI.corner);
        keepSharedDiagonal(c.edge, rowI.corner);
    }
    for (int32_t t = 0; t < normalTags.count; ++t) {
        NormalCorner* rows = static_cast<NormalCorner*>(normalTags.items[t].data());
        NormalCorner* rowI = rows + static_cast<int64_t>(c.first) * 4;
        const NormalCorner* rowJ = rows + static_cast<int64_t>(c.second) * 4;
        const NormalCorner mine[3] = {rowI[0], rowI[1], rowI[2]};
        quadOrder(mine, rowJ[jx], at, rowI);
        keepSharedDiagonal(c.edge, rowI);
    }

    first = HostPolygon{quad[0], quad[1], quad[2], quad[3]};
    second = HostPolygon{0, 0, 0, 0};
    ++merged;
}
