// The decimator's candidates: one per edge between reducible points, placed by the placement
// policy, costed by the summed quadric and, with checks on, penalised for the polygons they would
// leave behind.
#include <cmath>

#include "mixkit/Decimator.h"
#include "mixkit/PenaltyScale.h"
#include "mixkit/PolygonMeasures.h"
#include "mixkit/ShapeMeasures.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"
#include "sources/HostWorkers.h"

namespace {
// How far from an edge's midpoint, in edge lengths, an optimal point is taken (see withinReach).
// Half an edge length keeps the point within the ball over the edge; chosen with
// bench/reduction_quality_bench.cpp, where it takes the worst error of the scanned sphere at 1 % from
// 3.5 to 0.7 times meshoptimizer's and leaves the other rows within their noise (a full edge length
// left more of the worst cases in).
constexpr double kOptimalReach = 0.5;
}  // namespace

bool Decimator::buildCandidates(FoundEnds& found) {
    // In the order one pass would make, list and key the candidates: walkEdges found each point's
    // candidates (its reducible neighbours above it); here they are made, numbered in point order,
    // and join the lists of both ends; the workers then place and penalise them, each point's by one
    // worker, each key straight into the heap's slot of that number, which is also the candidate's
    // place. The heap takes them in that same order when it is first taken from (orderCandidates):
    // a parted phase reads only their keys, and hands them on to its parts' heaps.
    const int32_t points = mesh_->pointCount();
    if (points <= 0) return true;
    const int32_t blocks = (points - 1) / SETUP_POINT_BLOCK + 1;
    Stack<int32_t>& first = found.first;  // per point, its first candidate's number; the count of all last
    int64_t total = 0;
    for (int32_t i = 0; i < points; ++i) {
        const int32_t count = first.items[i];
        first.items[i] = static_cast<int32_t>(total);
        total += count;
    }
    if (total > INT32_MAX) return false;
    first.items[points] = static_cast<int32_t>(total);
    const int32_t candidates = static_cast<int32_t>(total);
    if (candidates == 0) return true;
    // Every candidate has its heap slot before any is keyed.
    if (!heap_.reserve(candidates) || !pool_.reserve(candidates, workers_)) return false;
    // Made here, in one pass's order, so that candidate k is the pool's number k.
    for (int32_t b = 0, k = 0; b < blocks; ++b) {
        const int32_t from = b * SETUP_POINT_BLOCK;
        const int32_t to = from + SETUP_POINT_BLOCK < points ? from + SETUP_POINT_BLOCK : points;
        const int32_t* far = found.ends.items[b].items;
        for (int32_t i = from; i < to; ++i) {
            for (; k < first.items[i + 1]; ++k) {
                EdgeCandidate* c = pool_.make();
                if (c == nullptr) return false;
                c->v1 = i;
                c->v2 = *far++;
                // A candidate must be known at both ends, or a contraction could leave it behind.
                if (!candidateLists_.push(i, k) || !candidateLists_.push(c->v2, k)) return false;
            }
        }
    }
    found.ends.clear();

    // The penalties walk the mesh's own marks when a polygon repeats a corner: one worker then.
    const bool sharedMarks = mesh_->hasRepeatedCorners() && settings.useChecks != 0;
    if (!heap_.resizeForBuild(candidates)) return false;
    std::atomic<bool> stopped{false};
    const bool keyed = forBlocks(points, SETUP_POINT_BLOCK, sharedMarks ? 1 : workers_, nullptr, [&](int32_t from, int32_t to) {
        for (int32_t i = from; i < to; ++i) {
            if (stopAt(i, stopped)) return false;
            for (int32_t k = first.items[i]; k < first.items[i + 1]; ++k)
                heap_.setPendingPlaced(k, k, keyOf(*pool_.at(k)));
        }
        return true;
    });
    if (!keyed) {
        heap_.clear();
        return false;
    }
    return true;
}

bool Decimator::buildCandidateLists() {
    const ReductionMesh& m = *mesh_;
    return candidateLists_.buildWith(m.pointCount(), workers_, [&m](int32_t p) {
        if (!m.isReducible(p)) return 0;
        // Each polygon gives a point at most two edges; room for them all at once, and for the
        // candidates a contraction may bring.
        const int32_t edges = 2 * m.polygonsOf(p).count;
        return edges < 4 ? 4 : edges;
    });
}

double Decimator::keyOf(const EdgeCandidate& c, const KnownNormals& known, Placement* placed) {
    const Placement at = placement(c);
    if (placed != nullptr) *placed = at;
    return settings.useChecks != 0 ? penalizedKey(c, at.target, -at.rawError, known) : -at.rawError;
}

void Decimator::refreshCandidate(int32_t id, EdgeHeap& heap, const KnownNormals& known) {
    heap.insertOrUpdate(id, keyOf(*pool_.at(id), known));
}

bool Decimator::rekeyDearer(HeapEntry& top, EdgeHeap& heap) {
    // A candidate is re-keyed when one of its ends is contracted, but its penalties also depend on
    // the other corners of the polygons around its ends, which move when their own neighbours are
    // contracted. Keyed afresh when it comes to the top, a candidate that would now fold a polygon
    // (or leave a worse shape) goes back into the heap at its true key instead of being taken.
    Placement at;
    const double fresh = keyOf(*pool_.at(top.id), kNoKnownNormals, &at);
    if (!(fresh < top.key)) {
        top.key = fresh;
        top.placed = true;
        top.at = at;
        return false;
    }
    heap.insert(top.id, fresh);
    return true;
}

namespace {

// An optimal point brought within reach of the edge: no farther from the edge's midpoint than
// kOptimalReach edge lengths, along the line from the midpoint (on which the error falls towards
// the optimum, so the point kept is the best of that line within reach). On a nearly flat or noisy
// patch the summed planes barely bind the tangent directions: the solve is ill-conditioned and its
// point can run far along the surface, where the planes are near but the surface is not (the worst
// errors of noisy meshes, and a patch pulled over a hole). A well-bound optimum (at a corner or a
// crease) lies near the edge and stays where it is.
Vector withinReach(const Vector& target, const Vector& p1, const Vector& p2) {
    const Vector edge = subtract(p2, p1);
    const Vector mid = scale(add(p1, p2), 0.5);
    const Vector off = subtract(target, mid);
    const double reach2 = kOptimalReach * kOptimalReach * dot(edge, edge);
    const double off2 = dot(off, off);
    if (off2 <= reach2) return target;
    return add(mid, scale(off, std::sqrt(reach2 / off2)));
}

}  // namespace

Placement Decimator::placement(const EdgeCandidate& c) const {
    Quadric q = quadrics_.items[c.v1];  // candidate ends are always points of the mesh
    q.add(quadrics_.items[c.v2]);
    Vector target;
    double e = 0.0;
    bool placed = false;
    const Vector& p1 = mesh_->position(c.v1);
    const Vector& p2 = mesh_->position(c.v2);
    if (settings.placementPolicy == PLACEMENT_OPTIMAL && q.optimalPoint(target)) {
        target = withinReach(target, p1, p2);
        e = q.evaluate(target);
        placed = true;
    }
    if (!placed) {
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
    return Placement{target, e};
}

[[gnu::always_inline]] inline void Decimator::assessFace(const HostPolygon& before, const int32_t (&corners)[4], int32_t v1,
                                                       const Vector& target, PenaltyTerms& terms,
                                                       const Vector* normal) const {
    // The face's corners, the kept point at the target.
    const Vector* positions = mesh_->positionArray();  // corners of live polygons are in range
    // The normal the face has now, which a flipped face turns away from.
    auto normalBefore = [&] {
        if (normal != nullptr) return *normal;
        return polygonNormal(before, [positions](int32_t p) -> const Vector& { return positions[p]; });
    };
    const Vector& q0 = corners[0] == v1 ? target : positions[corners[0]];
    const Vector& q1 = corners[1] == v1 ? target : positions[corners[1]];
    const Vector& q2 = corners[2] == v1 ? target : positions[corners[2]];
    ++terms.faces;
    if (corners[2] == corners[3]) {
        const Vector e0 = subtract(q1, q0);
        const Vector normal = cross(e0, subtract(q2, q0));
        if (settings.compactnessPenalty > 0.0)
            terms.leastCompactness = leastTriangleCompactness(terms.leastCompactness, q0, q1, q2, e0, normal);
        if (settings.flipPenalty > 0.0 && turnsOver(normal, normalBefore())) ++terms.flipped;
        return;
    }
    const Vector& q3 = corners[3] == v1 ? target : positions[corners[3]];
    if (settings.compactnessPenalty > 0.0)
        terms.leastCompactness = leastQuadCompactness(terms.leastCompactness, q0, q1, q2, q3);
    if (settings.flipPenalty > 0.0 && turnsOver(cross(subtract(q1, q3), subtract(q2, q0)), normalBefore()))
        ++terms.flipped;
}

double Decimator::penalizedKey(const EdgeCandidate& c, const Vector& target, double key, const KnownNormals& known) {
    if (settings.valencePenalty == 0.0 && settings.compactnessPenalty == 0.0 && settings.flipPenalty == 0.0) return key;
    const int32_t v1 = c.v1;
    const int32_t v2 = c.v2;
    ReductionMesh& m = *mesh_;
    // Mark 1: the polygon has one of the ends, mark 2: both. Without repeated corners a point's
    // list holds each live polygon with that corner exactly once, so the marks follow from the
    // corners themselves; otherwise they are counted over the lists.
    const bool byLists = m.hasRepeatedCorners();
    if (byLists) m.view().markEnds(v1, v2, m.polygonMarkArray());
    const uint8_t* marks = m.polygonMarkArray();
    const HostPolygon* polygons = m.polygonArray();

    // The polygons as they would be after the contraction, each weighed as it is met. The terms
    // are a count, a least value and a count, none of which depends on the order; a target at v1
    // leaves v1's polygons as they are, so v2's go first: they lower the least compactness early
    // and v1's can then often be passed over by the cheap bound.
    PenaltyTerms terms;
    auto weighFirst = [&] [[gnu::always_inline]] {
        const FlatLists<int32_t>::List first = m.polygonsOf(v1);
        const Vector* normals = known.point == v1 ? known.normals : nullptr;
        for (int32_t i = 0; i < first.count; ++i) {
            const int32_t f = first.items[i];
            const HostPolygon& before = polygons[f];
            HostPolygon p = before;
            const Vector* normal = normals != nullptr ? normals + i : nullptr;
            const uint8_t mark = byLists ? marks[f] : hasCorner(p, v2) ? 2 : 1;
            if (mark == 1) {
                const int32_t corners[4] = {p.a, p.b, p.c, p.d};
                assessFace(before, corners, v1, target, terms, normal);
            } else if (mark == 2) {
                if (p.c == p.d) continue;  // a triangle on the edge vanishes
                for (int k = 0; k < 4; ++k)
                    if (corner(p, k) == v2) corner(p, k) = v1;
                if (!hasEqualNeighbours(p)) continue;  // the ends were opposite corners: it vanishes
                int32_t corners[4] = {p.a, p.b, p.c, p.d};
                rotateCorners(corners, triangleFormShift(p));
                assessFace(before, corners, v1, target, terms, normal);
            }
        }
    };
    auto weighSecond = [&] [[gnu::always_inline]] {
        const FlatLists<int32_t>::List second = m.polygonsOf(v2);
        const Vector* normals = known.point == v2 ? known.normals : nullptr;
        for (int32_t i = 0; i < second.count; ++i) {
            const int32_t f = second.items[i];
            const HostPolygon& before = polygons[f];
            HostPolygon p = before;
            if (byLists ? marks[f] != 1 : hasCorner(p, v1)) continue;
            for (int k = 0; k < 4; ++k)
                if (corner(p, k) == v2) corner(p, k) = v1;
            const int32_t corners[4] = {p.a, p.b, p.c, p.d};
            assessFace(before, corners, v1, target, terms, normals != nullptr ? normals + i : nullptr);
        }
    };
    const Vector& at = m.position(v1);
    if (target.x == at.x && target.y == at.y && target.z == at.z) {
        weighSecond();
        weighFirst();
    } else {
        weighFirst();
        weighSecond();
    }

    // The penalties count at the size of the polygons around the merged point (PenaltyScale.h).
    // A flipped polygon also multiplies the candidate's own error: a fold is never worth taking
    // while a contraction that is many times dearer but sound is left, wherever the errors stand
    // against the polygons' size (along a strongly weighted border, say).
    const double scale = penaltyScale(quadrics_.items[v1].area + quadrics_.items[v2].area, settings.weightingPolicy);
    const double error = key < 0.0 ? -key : 0.0;
    double penalty = 0.0;
    if (settings.valencePenalty > 0.0) penalty = terms.faces * settings.valencePenalty;
    if (settings.compactnessPenalty > 0.0) penalty += (1.0 - terms.leastCompactness) * settings.compactnessPenalty;
    penalty *= scale;
    if (settings.flipPenalty > 0.0) penalty += terms.flipped * settings.flipPenalty * (scale + error);
    return key - penalty;
}
