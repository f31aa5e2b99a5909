#include "tool/TessikCollapse.h"

#include <cmath>

#include "mixkit/BorderConstraint.h"
#include "mixkit/Plane.h"
#include "mixkit/PolygonMeasures.h"
#include "mixkit/ShapeMeasures.h"
#include "mixkit/SolveCoefficients.h"
#include "mixkit/StackHelpers.h"
#include "mixkit/UnTriag3.h"
#include "mixkit/WeightingPolicy.h"
#include "sources/Geometry.h"
#include "sources/HostSettings.h"
#include "sources/Module.h"

namespace {

constexpr double kFoldLimit = 1e-7;

// P's corners: the slot of a point, or -1.
struct Picked {
    HostPolygon polygon{};
    int32_t corners[4] = {0, 0, 0, 0};
    int count = 0;  // 3 or 4

    int slotOf(int32_t point) const {
        for (int s = 0; s < count; ++s)
            if (corners[s] == point) return s;
        return -1;
    }
};

// How many of P's distinct corners polygon q uses.
int sharedCorners(const Picked& P, const HostPolygon& q) {
    const int n = cornerCount(q);
    int k = 0;
    for (int s = 0; s < P.count; ++s) {
        bool repeated = false;
        for (int t = 0; t < s; ++t) repeated = repeated || P.corners[t] == P.corners[s];
        if (repeated) continue;
        for (int j = 0; j < n; ++j)
            if (corner(q, j) == P.corners[s]) {
                ++k;
                break;
            }
    }
    return k;
}

bool uses(const HostPolygon& q, int32_t point) {
    const int n = cornerCount(q);
    for (int j = 0; j < n; ++j)
        if (corner(q, j) == point) return true;
    return false;
}

// Unit face normal in the measuring frame; zero when it has no length.
Vector faceNormal(const TessikContext& ctx, const HostPolygon& q) {
    return normalize(polygonNormal(q, [&ctx](int32_t i) { return ctx.framePoint(i); }));
}

// The plane quadric of polygon q (not yet weighted) and the polygon's area.
Quadric planeQuadric(const TessikContext& ctx, const HostPolygon& q, double& area) {
    const Vector a = ctx.framePoint(q.a), b = ctx.framePoint(q.b), c = ctx.framePoint(q.c);
    Plane plane;
    if (isTriangle(q)) {
        plane = trianglePlaneUnit(a, b, c);
    } else {
        const Vector d = ctx.framePoint(q.d);
        plane = quadPlaneUnit(a, b, c, d);
    }
    area = polygonArea(q, [&ctx](int32_t i) { return ctx.framePoint(i); });
    return Quadric::fromPlane(plane.a, plane.b, plane.c, plane.d, area);
}

void addContribution(TessikContext& ctx, const Picked& P, const HostPolygon& q) {
    double area = 0.0;
    Quadric Q = planeQuadric(ctx, q, area);
    const int policy = ctx.weightingPolicy;
    if (policy == WEIGHTING_ANGLE) {
        const int n = cornerCount(q);
        for (int j = 0; j < n; ++j) {
            const int s = P.slotOf(corner(q, j));
            if (s < 0) continue;
            const Vector prev = ctx.framePoint(corner(q, (j + n - 1) % n));
            const Vector here = ctx.framePoint(corner(q, j));
            const Vector next = ctx.framePoint(corner(q, (j + 1) % n));
            Quadric weighted = Q;
            weighted.scale(cornerAngle(prev, here, next));
            ctx.cornerQuadrics[s].add(weighted);
        }
        return;
    }
    if (policy == WEIGHTING_AREA || policy == WEIGHTING_AREA_AVERAGE) Q.scale(area);
    for (int s = 0; s < P.count; ++s)
        if (uses(q, P.corners[s])) ctx.cornerQuadrics[s].add(Q);
}

// True when polygon r has u and v as neighbouring corners.
bool hasEdge(const HostPolygon& r, int32_t u, int32_t v) {
    const int n = cornerCount(r);
    for (int j = 0; j < n; ++j) {
        const int32_t x = corner(r, j), y = corner(r, (j + 1) % n);
        if ((x == u && y == v) || (x == v && y == u)) return true;
    }
    return false;
}

// Whether edge (u, v) takes a border constraint (isConstrainedEdge). The polygons of the edge are
// looked for by scanning, and only up to two: an edge with more counts as one of its first two.
bool constrainedEdge(const TessikContext& ctx, int32_t u, int32_t v) {
    int32_t found[2] = {-1, -1};
    int n = 0;
    for (int32_t r = 0; r < ctx.polygonCount && n < 2; ++r) {
        const HostPolygon& poly = ctx.polygons[r];
        if (isDead(poly) || !hasEdge(poly, u, v)) continue;
        found[n++] = r;
    }
    return isConstrainedEdge(n, [&] {
        for (int32_t i = 0; i < ctx.polygonSelections.count; ++i) {
            const HostSelection& set = ctx.polygonSelections[i];
            if (set.isSelected(found[0]) != set.isSelected(found[1])) return true;
        }
        return false;
    });
}

void addBorderConstraints(TessikContext& ctx, const Picked& P, const HostPolygon& q) {
    const int n = cornerCount(q);
    for (int j = 0; j < n; ++j) {
        const int32_t u = corner(q, j), v = corner(q, (j + 1) % n);
        const int su = P.slotOf(u), sv = P.slotOf(v);
        if (su < 0 && sv < 0) continue;
        if (!constrainedEdge(ctx, u, v)) continue;
        const bool byLength = ctx.weightingPolicy == WEIGHTING_AREA || ctx.weightingPolicy == WEIGHTING_AREA_AVERAGE;
        const Quadric C = borderPlaneQuadric(ctx.framePoint(u), ctx.framePoint(v), faceNormal(ctx, q), ctx.boundaryWeight, byLength);
        if (su >= 0) ctx.cornerQuadrics[su].add(C);
        if (sv >= 0) ctx.cornerQuadrics[sv].add(C);
    }
}

// The point of least error of Q over P (measuring frame), and its error.
Vector placeTarget(const TessikContext& ctx, const Picked& P, const Quadric& Q, double& cost) {
    Vector best;
    if (Q.optimalPoint(best)) {
        cost = Q.evaluate(best);
        return best;
    }
    Vector corners[4];
    Vector centroid;
    for (int s = 0; s < P.count; ++s) {
        corners[s] = ctx.framePoint(P.corners[s]);
        centroid = add(centroid, corners[s]);
    }
    best = scale(centroid, 1.0 / P.count);
    cost = Q.evaluate(best);
    for (int s = 0; s < P.count; ++s) {
        const double e = Q.evaluate(corners[s]);
        if (e < cost) {
            cost = e;
            best = corners[s];
        }
    }
    for (int s = 0; s < P.count; ++s) {
        Vector v;
        if (!Q.optimalOnSegment(corners[s], corners[(s + 1) % P.count], v)) continue;
        const double e = Q.evaluate(v);
        if (e <= cost) {
            cost = e;
            best = v;
        }
    }
    return best;
}

// Squared length of v.
double squared(const Vector& v) { return dot(v, v); }

bool triangleFolds(const Vector p[3], const Vector& reference) {
    const Vector n = cross(subtract(p[1], p[0]), subtract(p[2], p[0]));
    if (dot(n, reference) < kFoldLimit || squared(n) < kFoldLimit) return true;
    for (int k = 1; k < 3; ++k) {
        const Vector& v = p[k];
        const Vector& w = p[(k + 1) % 3];
        const Vector& u = p[(k + 2) % 3];
        const Vector c = cross(subtract(w, v), subtract(u, v));
        if (squared(c) < kFoldLimit || dot(c, n) < kFoldLimit) return true;
    }
    return false;
}

bool quadFolds(const Vector p[4], const Vector& reference) {
    const Vector n = cross(subtract(p[1], p[3]), subtract(p[2], p[0]));
    if (dot(n, reference) < kFoldLimit) return true;
    for (int k = 0; k < 4; ++k) {
        const Vector& v = p[k];
        const Vector& w = p[(k + 1) % 4];
        const Vector& u = p[(k + 3) % 4];
        const Vector c = cross(subtract(w, v), subtract(u, v));
        if (squared(c) < kFoldLimit || dot(c, n) < kFoldLimit) return true;
    }
    return false;
}

// Barycentric coordinates of the projection of x onto the plane of triangle (p0, p1, p2). A
// triangle without area falls back to the coefficient solve.
Coefficients projectedCoefficients(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& x) {
    const Vector e0 = subtract(p1, p0), e1 = subtract(p2, p0), e2 = subtract(x, p0);
    const double d00 = dot(e0, e0), d01 = dot(e0, e1), d11 = dot(e1, e1);
    const double d20 = dot(e2, e0), d21 = dot(e2, e1);
    const double den = d00 * d11 - d01 * d01;
    Coefficients c;
    if (den == 0.0 || !std::isfinite(den)) {
        solveCoefficients(p0, p1, p2, x, c);
        return c;
    }
    c.beta = (d11 * d20 - d01 * d21) / den;
    c.gamma = (d00 * d21 - d01 * d20) / den;
    c.alpha = 1.0 - c.beta - c.gamma;
    return c;
}

UvwRecord* uvwRow(const HostTag& tag, int32_t polygon) { return static_cast<UvwRecord*>(tag.data()) + polygon; }

bool usableUvw(const TessikContext& ctx, const HostTag& tag) {
    return tag.data() != nullptr && tag.dataCount() >= ctx.polygonCount;
}

constexpr float FloatVector::*kAxes[3] = {&FloatVector::x, &FloatVector::y, &FloatVector::z};

void transferUvw(TessikContext& ctx, const Picked& P, int32_t p, const Vector& target) {
    Vector corners[4];
    for (int s = 0; s < P.count; ++s) corners[s] = ctx.framePoint(P.corners[s]);
    const Coefficients first = projectedCoefficients(corners[0], corners[1], corners[2], target);
    Coefficients second;
    if (P.count == 4) second = projectedCoefficients(corners[0], corners[2], corners[3], target);
    for (int32_t t = 0; t < ctx.uvwTags.count; ++t) {
        const HostTag& tag = ctx.uvwTags[t];
        if (!usableUvw(ctx, tag)) continue;
        const UvwRecord old = *uvwRow(tag, p);
        FloatVector fresh;
        for (float FloatVector::*axis : kAxes) {
            const FloatVector* c = old.corner;
            double v = first.alpha * (c[0].*axis) + first.beta * (c[1].*axis) + first.gamma * (c[2].*axis);
            if (P.count == 4) {
                const double w = second.alpha * (c[0].*axis) + second.beta * (c[2].*axis) + second.gamma * (c[3].*axis);
                v = (v + w) / 2.0;
            }
            fresh.*axis = static_cast<float>(v);
        }
        for (int32_t i = 0; i < ctx.keptNeighbours.count; ++i) {
            const int32_t q = ctx.keptNeighbours[i];
            UvwRecord* r = uvwRow(tag, q);
            const int n = cornerCount(ctx.polygons[q]);
            for (int j = 0; j < n; ++j) {
                const int s = P.slotOf(corner(ctx.polygons[q], j));
                if (s < 0 || !sameComponents(r->corner[j], old.corner[s])) continue;
                r->corner[j] = fresh;
            }
        }
        for (int32_t i = 0; i < ctx.removedNeighbours.count; ++i) *uvwRow(tag, ctx.removedNeighbours[i]) = UvwRecord{};
        *uvwRow(tag, p) = UvwRecord{};
    }
}

// Corner normals of every polygon around point g, from the unit face normals of the live polygons
// that use it (object coordinates).
void refreshNormal(TessikContext& ctx, int32_t g) {
    NormalRecord* rows = static_cast<NormalRecord*>(ctx.normalTag.data());
    Vector sum;
    for (int32_t r = 0; r < ctx.polygonCount; ++r) {
        const HostPolygon& q = ctx.polygons[r];
        if (isDead(q) || !uses(q, g)) continue;
        sum = add(sum, normalize(polygonNormal(q, [&ctx](int32_t i) { return ctx.objectPoint(i); })));
    }
    const Vector n = normalize(sum);
    const int16_t packed[3] = {static_cast<int16_t>(n.x * NORMAL_SCALE), static_cast<int16_t>(n.y * NORMAL_SCALE),
                               static_cast<int16_t>(n.z * NORMAL_SCALE)};
    for (int32_t r = 0; r < ctx.polygonCount; ++r) {
        const HostPolygon& q = ctx.polygons[r];
        if (isDead(q)) continue;
        for (int k = 0; k < 4; ++k)
            if (corner(q, k) == g)
                for (int axis = 0; axis < 3; ++axis) rows[r].v[3 * k + axis] = packed[axis];
    }
}

bool classify(TessikContext& ctx, const Picked& P, int32_t p) {
    for (Stack<int32_t>& list : ctx.cornerPolygons) emptyKeepingStorage(list);
    emptyKeepingStorage(ctx.keptNeighbours);
    emptyKeepingStorage(ctx.removedNeighbours);
    for (int32_t q = 0; q < ctx.polygonCount; ++q) {
        if (q == p) continue;
        const HostPolygon& poly = ctx.polygons[q];
        if (isDead(poly)) continue;
        const int k = sharedCorners(P, poly);
        if (k == 0) continue;
        for (int s = 1; s < P.count; ++s)
            if (uses(poly, P.corners[s]) && !pushChecked(ctx.cornerPolygons[s - 1], q)) return false;
        const bool removed = isTriangle(poly) ? k >= 2 : k >= 3;
        if (!pushChecked(removed ? ctx.removedNeighbours : ctx.keptNeighbours, q)) return false;
    }
    return true;
}

}  // namespace

bool tessikFoldsOver(const TessikContext& ctx, int32_t q, const HostPolygon& picked, const Vector& target) {
    Picked P;
    P.polygon = picked;
    P.count = cornerCount(picked);
    for (int s = 0; s < 4; ++s) P.corners[s] = corner(picked, s);
    const HostPolygon& poly = ctx.polygons[q];
    const int n = cornerCount(poly);
    Vector now[4], moved[4];
    bool isMoved[4] = {false, false, false, false};
    for (int j = 0; j < n; ++j) {
        now[j] = ctx.framePoint(corner(poly, j));
        isMoved[j] = P.slotOf(corner(poly, j)) >= 0;
        moved[j] = isMoved[j] ? target : now[j];
    }
    if (n == 3) {
        const Vector reference = cross(subtract(now[1], now[0]), subtract(now[2], now[0]));
        return triangleFolds(moved, reference);
    }
    const Vector reference = cross(subtract(now[1], now[3]), subtract(now[2], now[0]));
    // Two neighbouring moved corners merge: the quad becomes the triangle that remains, in the order
    // the re-pointing rotates it to.
    for (int j = 0; j < 4; ++j) {
        if (!isMoved[j] || !isMoved[(j + 1) % 4]) continue;
        const Vector tri[3] = {moved[(j + 2) % 4], moved[(j + 3) % 4], target};
        return triangleFolds(tri, reference);
    }
    return quadFolds(moved, reference);
}

bool tessikCollapse(TessikContext& ctx, int32_t p, float& cost) {
    if (p < 0 || p >= ctx.polygonCount) return false;
    Picked P;
    P.polygon = ctx.polygons[p];
    if (isDead(P.polygon)) return false;
    P.count = cornerCount(P.polygon);
    for (int s = 0; s < 4; ++s) P.corners[s] = corner(P.polygon, s);

    // 1. Neighbours.
    if (!classify(ctx, P, p)) return false;

    // 2. Plane quadrics of P and its neighbours, per corner slot of P.
    for (Quadric& q : ctx.cornerQuadrics) q.fill(0.0);
    addContribution(ctx, P, P.polygon);
    for (int32_t i = 0; i < ctx.removedNeighbours.count; ++i)
        addContribution(ctx, P, ctx.polygons[ctx.removedNeighbours[i]]);
    for (int32_t i = 0; i < ctx.keptNeighbours.count; ++i) addContribution(ctx, P, ctx.polygons[ctx.keptNeighbours[i]]);

    // 3. Border constraints.
    addBorderConstraints(ctx, P, P.polygon);
    for (int32_t i = 0; i < ctx.removedNeighbours.count; ++i)
        addBorderConstraints(ctx, P, ctx.polygons[ctx.removedNeighbours[i]]);
    for (int32_t i = 0; i < ctx.keptNeighbours.count; ++i)
        addBorderConstraints(ctx, P, ctx.polygons[ctx.keptNeighbours[i]]);

    // 4. Placement.
    Quadric Q;
    Q.fill(0.0);
    for (int s = 0; s < P.count; ++s) Q.add(ctx.cornerQuadrics[s]);
    double error = 0.0;
    const Vector target = placeTarget(ctx, P, Q, error);
    if (ctx.weightingPolicy == WEIGHTING_AREA_AVERAGE && Q.area > 0.0) error /= Q.area;
    const Vector objectTarget = ctx.frame.toObject(target);
    const FloatVector placed = toFloatVector(objectTarget);

    // 5. Acceptance. An error that is not a number (a polygon with non-finite points) is never
    // applied.
    cost = static_cast<float>(error);
    if (!(cost <= ctx.maxError)) return false;
    if (ctx.keptNeighbours.count > ctx.maxNeighbours) return false;
    if (!std::isfinite(placed.x) || !std::isfinite(placed.y) || !std::isfinite(placed.z)) return false;
    if (ctx.checkFolds != 0)
        for (int32_t i = 0; i < ctx.keptNeighbours.count; ++i)
            if (tessikFoldsOver(ctx, ctx.keptNeighbours[i], P.polygon, target)) return false;

    // 6. Apply.
    const int32_t m = P.corners[0];
    transferUvw(ctx, P, p, target);

    for (int32_t i = 0; i < ctx.pointSelections.count; ++i) {
        HostSelection& set = ctx.pointSelections[i];
        int selected = 0;
        for (int s = 0; s < P.count; ++s)
            if (set.isSelected(P.corners[s])) ++selected;
        if (static_cast<double>(selected) / P.count > 0.5)
            set.select(m);
        else
            set.deselect(m);
    }
    for (int32_t i = 0; i < ctx.vertexMaps.count; ++i) {
        float* values = ctx.vertexMaps[i];
        double sum = 0.0;
        for (int s = 0; s < P.count; ++s) sum += values[P.corners[s]];
        values[m] = static_cast<float>(sum / P.count);
    }

    for (int32_t i = 0; i < ctx.removedNeighbours.count; ++i) ctx.polygons[ctx.removedNeighbours[i]] = HostPolygon{0, 0, 0, 0};

    for (int s = 1; s < P.count; ++s) {
        const int32_t old = P.corners[s];
        const Stack<int32_t>& list = ctx.cornerPolygons[s - 1];
        for (int32_t i = 0; i < list.count; ++i) {
            HostPolygon& q = ctx.polygons[list[i]];
            if (isDead(q)) continue;  // removed above
            for (int k = 0; k < 4; ++k)
                if (corner(q, k) == old) corner(q, k) = m;
        }
    }
    for (int32_t i = 0; i < ctx.keptNeighbours.count; ++i) {
        const int32_t q = ctx.keptNeighbours[i];
        HostPolygon& poly = ctx.polygons[q];
        if (isTriangle(poly)) continue;
        const int shift = triangleFormShift(poly);
        if (shift == 0) continue;
        int32_t corners[4] = {poly.a, poly.b, poly.c, poly.d};
        rotateCorners(corners, shift);
        poly = HostPolygon{corners[0], corners[1], corners[2], corners[3]};
        for (int32_t t = 0; t < ctx.uvwTags.count; ++t)
            if (usableUvw(ctx, ctx.uvwTags[t])) rotateCorners(uvwRow(ctx.uvwTags[t], q)->corner, shift);
    }

    ctx.points[3 * m] = placed.x;
    ctx.points[3 * m + 1] = placed.y;
    ctx.points[3 * m + 2] = placed.z;
    ctx.polygons[p] = HostPolygon{0, 0, 0, 0};

    if (ctx.normalTag.valid()) {
        for (int32_t i = 0; i < ctx.keptNeighbours.count; ++i) {
            const HostPolygon& q = ctx.polygons[ctx.keptNeighbours[i]];
            const int n = cornerCount(q);
            for (int j = 0; j < n; ++j) refreshNormal(ctx, corner(q, j));
        }
    }

    for (int32_t i = 0; i < ctx.keptNeighbours.count; ++i) ctx.refreshPlanes(ctx.keptNeighbours[i]);

    for (int32_t i = 0; i < ctx.removedNeighbours.count; ++i) ctx.markedPolygons.deselect(ctx.removedNeighbours[i]);
    for (int32_t i = 0; i < ctx.keptNeighbours.count; ++i) ctx.markedPolygons.select(ctx.keptNeighbours[i]);
    ctx.markedPolygons.deselect(p);

    ctx.object.message(MSG_UPDATE);
    return true;
}

void tessikFinishDrag(TessikContext& ctx) {
    if (!ctx.object.valid()) return;
    {
        UnTriag3 quads;
        quads.run(ctx.object, ctx.markedPolygons.view());
    }
    HostSettings cleanup;
    if (cleanup.make()) {
        cleanup.setInt(CLEANUP_TOLERANCE, 0);
        cleanup.setBool(CLEANUP_MERGE_POINTS, false);
        cleanup.setBool(CLEANUP_DROP_POLYGONS, true);
        cleanup.setBool(CLEANUP_DROP_POINTS, true);
        moduleApi()->modelingCommand(CMD_CLEANUP, 0, ctx.object.document(), ctx.object.handle(),
                                     cleanup.handle());
    }
    ctx.object.message(MSG_UPDATE);
}
