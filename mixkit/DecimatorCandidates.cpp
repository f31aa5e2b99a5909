// The decimator's candidates: one per edge between reducible points, placed by the placement
// policy, costed by the summed quadric and, with checks on, penalised for the polygons they would
// leave behind.
#include "mixkit/Decimator.h"
#include "mixkit/ShapeMeasures.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"

bool Decimator::buildCandidates() {
    const Stack<uint8_t>& reducible = mesh_->reducibleFlags;
    for (int32_t i = 0; i < mesh_->pointCount(); ++i) {
        if (pollBuild(i)) return false;
        if (reducible[i] == 0) continue;
        if (!reserveAround(i)) return false;
        emptyKeepingStorage(neighbours_);
        mesh_->pointNeighbours(i, neighbours_);
        for (int32_t n = 0; n < neighbours_.count; ++n) {
            const int32_t j = neighbours_.items[n];
            if (j <= i || reducible[j] == 0) continue;
            EdgeCandidate* c = pool_.make();
            if (c == nullptr) return false;
            c->v1 = i;
            c->v2 = j;
            // A candidate must be known at both ends, or a contraction could leave it behind.
            if (!candidateLists_.push(i, c) || !candidateLists_.push(j, c)) return false;
            refreshCandidate(c);
        }
    }
    return true;
}

bool Decimator::buildCandidateLists() {
    Stack<int32_t> room;
    if (!room.resize(mesh_->pointCount())) return false;
    for (int32_t p = 0; p < mesh_->pointCount(); ++p) {
        if (mesh_->reducibleFlags.items[p] == 0) continue;
        // Each polygon gives a point at most two edges; room for them all at once, and for the
        // candidates a contraction may bring.
        const int32_t edges = 2 * mesh_->pointPolygons.count(p);
        room.items[p] = edges < 4 ? 4 : edges;
    }
    return candidateLists_.build(mesh_->pointCount(), room.items);
}

void Decimator::refreshCandidate(EdgeCandidate* c) {
    placeCandidate(c);
    if (settings.useChecks != 0) penalizeCandidate(c);
    if (c->heapPosition == HEAP_ABSENT)
        heap_.insert(c, c->heapKey);
    else
        heap_.updateKey(c, c->heapKey);
}

void Decimator::placeCandidate(EdgeCandidate* c) {
    Quadric q = quadrics_.items[c->v1];  // candidate ends are always points of the mesh
    q.add(quadrics_.items[c->v2]);
    Vector target;
    double e = 0.0;
    bool placed = false;
    if (settings.placementPolicy == PLACEMENT_OPTIMAL && q.optimalPoint(target)) {
        e = q.evaluate(target);
        placed = true;
    }
    if (!placed) {
        const Vector& p1 = mesh_->positions.items[c->v1];
        const Vector& p2 = mesh_->positions.items[c->v2];
        if (settings.placementPolicy >= PLACEMENT_LINE && q.optimalOnSegment(p1, p2, target)) {
            e = q.evaluate(target);
        } else {
            const double e1 = q.evaluate(p1);
            const double e2 = q.evaluate(p2);
            if (e1 < e2) {
                target = p1;
                e = e1;
            } else {
                target = p2;
                e = e2;
            }
            if (settings.placementPolicy >= PLACEMENT_END_OR_MID) {
                const Vector mid = scale(add(p1, p2), 0.5);
                const double em = q.evaluate(mid);
                if (em <= e) {
                    target = mid;
                    e = em;
                }
            }
        }
    }
    if (settings.weightingPolicy == WEIGHTING_AREA_AVERAGE) e = e / q.area;
    c->target = target;
    c->rawError = e;
    c->heapKey = -e;
}

[[gnu::always_inline]] inline void Decimator::assessFace(int32_t polygon, const int32_t (&corners)[4], int32_t v1, const Vector& target,
                           PenaltyTerms& terms) const {
    // The face's corners, the kept point at the target.
    const Vector* positions = mesh_->positions.items;  // corners of live polygons are in range
    const Vector& q0 = corners[0] == v1 ? target : positions[corners[0]];
    const Vector& q1 = corners[1] == v1 ? target : positions[corners[1]];
    const Vector& q2 = corners[2] == v1 ? target : positions[corners[2]];
    ++terms.faces;
    if (corners[2] == corners[3]) {
        const Vector e0 = subtract(q1, q0);
        const Vector normal = cross(e0, subtract(q2, q0));
        if (settings.compactnessPenalty > 0.0)
            terms.leastCompactness = leastTriangleCompactness(terms.leastCompactness, q0, q1, q2, e0, normal);
        if (settings.flipPenalty > 0.0 && facesAway(normal, mesh_->unitNormal(polygon))) ++terms.flipped;
        return;
    }
    const Vector& q3 = corners[3] == v1 ? target : positions[corners[3]];
    if (settings.compactnessPenalty > 0.0)
        terms.leastCompactness = leastQuadCompactness(terms.leastCompactness, q0, q1, q2, q3);
    if (settings.flipPenalty > 0.0 && facesAway(cross(subtract(q1, q3), subtract(q2, q0)), mesh_->unitNormal(polygon)))
        ++terms.flipped;
}

void Decimator::penalizeCandidate(EdgeCandidate* c) {
    if (settings.valencePenalty == 0.0 && settings.compactnessPenalty == 0.0 && settings.flipPenalty == 0.0) return;
    const int32_t v1 = c->v1;
    const int32_t v2 = c->v2;
    const Vector target = c->target;
    ReductionMesh& m = *mesh_;
    // Mark 1: the polygon has one of the ends, mark 2: both. Without repeated corners a point's
    // list holds each live polygon with that corner exactly once, so the marks follow from the
    // corners themselves; otherwise they are counted over the lists.
    const bool byLists = m.repeatedCorners;
    if (byLists) {
        m.markPolygons(v2, 0);
        m.markPolygons(v1, 1);
        m.addToMarks(v2, 1);
    }
    const uint8_t* marks = m.polygonMarks.items;
    auto hasCorner = [](const HostPolygon& p, int32_t x) { return p.a == x || p.b == x || p.c == x || p.d == x; };

    // The polygons as they would be after the contraction, each weighed as it is met. The terms
    // are a count, a least value and a count, none of which depends on the order; a target at v1
    // leaves v1's polygons as they are, so v2's go first: they lower the least compactness early
    // and v1's can then often be passed over by the cheap bound.
    PenaltyTerms terms;
    auto weighFirst = [&] [[gnu::always_inline]] {
        const FlatLists<int32_t>::List first = m.pointPolygons[v1];
        for (int32_t i = 0; i < first.count; ++i) {
            const int32_t f = first.items[i];
            HostPolygon p = m.hostPolygons[f];
            const uint8_t mark = byLists ? marks[f] : hasCorner(p, v2) ? 2 : 1;
            if (mark == 1) {
                const int32_t corners[4] = {p.a, p.b, p.c, p.d};
                assessFace(f, corners, v1, target, terms);
            } else if (mark == 2) {
                if (p.c == p.d) continue;  // a triangle on the edge vanishes
                for (int k = 0; k < 4; ++k)
                    if (corner(p, k) == v2) corner(p, k) = v1;
                if (!hasEqualNeighbours(p)) continue;  // the ends were opposite corners: it vanishes
                int32_t corners[4] = {p.a, p.b, p.c, p.d};
                rotateCorners(corners, triangleFormShift(p));
                assessFace(f, corners, v1, target, terms);
            }
        }
    };
    auto weighSecond = [&] [[gnu::always_inline]] {
        const FlatLists<int32_t>::List second = m.pointPolygons[v2];
        for (int32_t i = 0; i < second.count; ++i) {
            const int32_t f = second.items[i];
            HostPolygon p = m.hostPolygons[f];
            if (byLists ? marks[f] != 1 : hasCorner(p, v1)) continue;
            for (int k = 0; k < 4; ++k)
                if (corner(p, k) == v2) corner(p, k) = v1;
            const int32_t corners[4] = {p.a, p.b, p.c, p.d};
            assessFace(f, corners, v1, target, terms);
        }
    };
    const Vector& at = m.positions.items[v1];
    if (target.x == at.x && target.y == at.y && target.z == at.z) {
        weighSecond();
        weighFirst();
    } else {
        weighFirst();
        weighSecond();
    }

    double penalty = 0.0;
    if (settings.valencePenalty > 0.0) penalty = terms.faces * settings.valencePenalty;
    if (settings.compactnessPenalty > 0.0) penalty += (1.0 - terms.leastCompactness) * settings.compactnessPenalty;
    if (settings.flipPenalty > 0.0) penalty += terms.flipped * settings.flipPenalty;
    c->heapKey -= penalty;
}
