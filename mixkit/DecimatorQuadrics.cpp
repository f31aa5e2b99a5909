// The decimator's point quadrics: the polygons' planes by the weighting policy, then constraint
// planes along open borders and along borders between polygon-selection tags (found by the walk over
// every edge, which also notes the candidates' ends).
//
// Both passes run on the set-up workers and give the same bits for any number of them: a point's
// quadric is a sum of planes taken in one fixed order (its polygons in index order, then its
// constraints in the order of their edges' first points), and every point is summed by one worker
// alone in that order.
#include <utility>

#include "mixkit/BorderConstraint.h"
#include "mixkit/Decimator.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"
#include "sources/HostWorkers.h"

namespace {

// A constraint plane found on an edge (i, j), i < j, for both ends.
struct ConstraintPlane {
    int32_t i;
    int32_t j;
    Quadric q;
};

}  // namespace

bool Decimator::sumPlanes(int32_t from, int32_t to, bool polls, std::atomic<bool>& stopped) {
    for (int32_t i = from; i < to; ++i) quadrics_.items[i].fill(0.0);
    auto mine = [from, to](int32_t p) { return p >= from && p < to; };
    const HostPolygon* polygons = mesh_->polygonArray();
    for (int32_t i = 0; i < mesh_->polygonCount(); ++i) {
        if (i % 1000 == 0 && (polls ? stopAt(i, stopped) : stopped.load(std::memory_order_relaxed))) return false;
        const HostPolygon& p = polygons[i];
        if (isDead(p)) continue;
        const bool quad = p.c != p.d;
        // Polygons of other workers' points only are theirs to measure.
        if (!mine(p.a) && !mine(p.b) && !mine(p.c) && !(quad && mine(p.d))) continue;
        const Plane plane = mesh_->polygonPlane(i, settings.weightingPolicy != WEIGHTING_RAW_NORMALS);
        const double area = mesh_->polygonArea(i);
        Quadric q = Quadric::fromPlane(plane.a, plane.b, plane.c, plane.d, area);
        if (settings.weightingPolicy == WEIGHTING_ANGLE) {
            // Each corner gets the plane scaled by its angle between its two neighbours.
            const int n = quad ? 4 : 3;
            for (int k = 0; k < n; ++k) {
                const int32_t at = corner(p, k);
                if (!mine(at)) continue;
                const int32_t before = corner(p, (k + n - 1) % n);
                const int32_t after = corner(p, (k + 1) % n);
                Quadric weighted = q;
                weighted.scale(mesh_->cornerAngle(before, at, after));
                quadrics_[at].add(weighted);
            }
            continue;
        }
        if (settings.weightingPolicy == WEIGHTING_AREA || settings.weightingPolicy == WEIGHTING_AREA_AVERAGE) q.scale(area);
        if (mine(p.a)) quadrics_[p.a].add(q);
        if (mine(p.b)) quadrics_[p.b].add(q);
        if (mine(p.c)) quadrics_[p.c].add(q);
        if (quad && mine(p.d)) quadrics_[p.d].add(q);
    }
    return true;
}

bool Decimator::buildQuadrics() {
    // Each worker sums the points of one range, reading every polygon but measuring only those
    // with a corner in its range (a polygon across two ranges is measured by both, alike). The
    // first range polls, every 1000 polygons as a single pass would.
    const int32_t points = quadrics_.count;
    const int32_t fit = (points - 1) / SETUP_POINT_BLOCK + 1;
    const int32_t ranges = points <= 0 ? 1 : workers_ < fit ? workers_ : fit;
    std::atomic<bool> stopped{false};
    return forBlocks(ranges, 1, workers_, nullptr, [&](int32_t r, int32_t) {
        const int32_t from = static_cast<int32_t>(static_cast<int64_t>(points) * r / ranges);
        const int32_t to = static_cast<int32_t>(static_cast<int64_t>(points) * (r + 1) / ranges);
        return sumPlanes(from, to, r == 0, stopped);
    });
}

bool Decimator::walkEdges(FoundEnds& found) {
    // The workers find the constrained edges of their blocks of points and make their planes; the
    // planes are then added here in the order of the edges' first points, as one pass would. The
    // same walk notes the candidates' far ends for buildCandidates, which would otherwise walk
    // every point's neighbours again.
    const bool byLength = settings.weightingPolicy == WEIGHTING_AREA || settings.weightingPolicy == WEIGHTING_AREA_AVERAGE;
    const ReductionMesh& mesh = *mesh_;
    const int32_t points = mesh.pointCount();
    const int32_t blocks = points > 0 ? (points - 1) / SETUP_POINT_BLOCK + 1 : 0;
    Stack<Stack<ConstraintPlane>> planesByBlock;
    if (!planesByBlock.resize(blocks) || !found.ends.resize(blocks) || !found.first.resize(points + 1)) return false;
    std::atomic<bool> stopped{false};
    const bool ok = forBlocks(points, SETUP_POINT_BLOCK, workers_, nullptr, [&](int32_t from, int32_t to, int32_t worker) {
        SetupScratch& s = scratch_.items[worker];
        // The block's lists grow here and are stored at its end: the blocks' list headers lie side
        // by side, and the next block is another worker's (WORKER_LINE_BYTES).
        Stack<ConstraintPlane> planes;
        Stack<int32_t> far;
        if (!s.ready(mesh)) return false;
        for (int32_t i = from; i < to; ++i) {
            if (stopAt(i, stopped) || !s.walkAround(mesh, i)) return false;
            const bool reducible = mesh.isReducible(i);
            int32_t& own = found.first.items[i];
            own = 0;
            for (int32_t n = 0; n < s.neighbours.count; ++n) {
                const int32_t j = s.neighbours.items[n];
                if (j <= i) continue;
                if (reducible && mesh.isReducible(j)) {
                    if (!pushChecked(far, j)) return false;
                    ++own;
                }
                s.edgeOf(mesh, i, j);
                const Stack<int32_t>& edgePolygons = s.edgePolygons;
                const bool constrained = isConstrainedEdge(edgePolygons.count, [&] {
                    return mesh.attributes().acrossSeam(edgePolygons.items[0], edgePolygons.items[1]);
                });
                if (!constrained) continue;
                const Vector& pi = mesh.position(i);
                const Vector& pj = mesh.position(j);
                for (int32_t e = 0; e < edgePolygons.count; ++e) {
                    const Vector n = mesh.polygonNormal(edgePolygons.items[e], true);
                    const Quadric q = borderPlaneQuadric(pi, pj, n, settings.boundaryWeight, byLength);
                    if (!pushChecked(planes, ConstraintPlane{i, j, q})) return false;
                }
            }
        }
        planesByBlock.items[from / SETUP_POINT_BLOCK] = std::move(planes);
        found.ends.items[from / SETUP_POINT_BLOCK] = std::move(far);
        return true;
    });
    if (!ok) return false;
    for (int32_t b = 0; b < planesByBlock.count; ++b) {
        const Stack<ConstraintPlane>& planes = planesByBlock.items[b];
        for (int32_t k = 0; k < planes.count; ++k) {
            quadrics_.items[planes.items[k].i].add(planes.items[k].q);
            quadrics_.items[planes.items[k].j].add(planes.items[k].q);
        }
    }
    return true;
}
