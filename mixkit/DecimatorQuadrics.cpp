// The decimator's point quadrics: the polygons' planes by the weighting policy, then constraint
// planes along open borders and along borders between polygon-selection tags.
#include "mixkit/Decimator.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"

bool Decimator::buildQuadrics() {
    for (int32_t i = 0; i < quadrics_.count; ++i) quadrics_.items[i].fill(0.0);
    const HostPolygon* polygons = mesh_->hostPolygons;
    for (int32_t i = 0; i < mesh_->polygonCount(); ++i) {
        if (pollBuild(i)) return false;
        const HostPolygon& p = polygons[i];
        if (isDead(p)) continue;
        const Plane plane = mesh_->polygonPlane(i, settings.weightingPolicy != WEIGHTING_RAW_NORMALS);
        const double area = mesh_->polygonArea(i);
        Quadric q = Quadric::fromPlane(plane.a, plane.b, plane.c, plane.d, area);
        const bool quad = p.c != p.d;
        if (settings.weightingPolicy == WEIGHTING_ANGLE) {
            // Each corner gets the plane scaled by its angle between its two neighbours.
            const int n = quad ? 4 : 3;
            for (int k = 0; k < n; ++k) {
                const int32_t before = corner(p, (k + n - 1) % n);
                const int32_t at = corner(p, k);
                const int32_t after = corner(p, (k + 1) % n);
                Quadric weighted = q;
                weighted.scale(mesh_->cornerAngle(before, at, after));
                quadrics_[at].add(weighted);
            }
            continue;
        }
        if (settings.weightingPolicy == WEIGHTING_AREA || settings.weightingPolicy == WEIGHTING_AREA_AVERAGE) q.scale(area);
        quadrics_[p.a].add(q);
        quadrics_[p.b].add(q);
        quadrics_[p.c].add(q);
        if (quad) quadrics_[p.d].add(q);
    }
    return true;
}

bool Decimator::addSeamConstraints() {
    const bool byLength = settings.weightingPolicy == WEIGHTING_AREA || settings.weightingPolicy == WEIGHTING_AREA_AVERAGE;
    for (int32_t i = 0; i < mesh_->pointCount(); ++i) {
        if (pollBuild(i) || !reserveAround(i)) return false;
        emptyKeepingStorage(neighbours_);
        mesh_->pointNeighbours(i, neighbours_);
        for (int32_t n = 0; n < neighbours_.count; ++n) {
            const int32_t j = neighbours_.items[n];
            if (j <= i) continue;
            emptyKeepingStorage(edgePolygons_);
            mesh_->polygonsOfEdge(i, j, edgePolygons_);
            bool constrained = edgePolygons_.count == 1;
            if (edgePolygons_.count == 2) {
                const int32_t f = edgePolygons_.items[0];
                const int32_t g = edgePolygons_.items[1];
                constrained = mesh_->attributes().acrossSeam(f, g);
            }
            if (!constrained) continue;
            const Vector& pi = mesh_->positions[i];
            const Vector& pj = mesh_->positions[j];
            for (int32_t e = 0; e < edgePolygons_.count; ++e) {
                const Vector edge = subtract(pj, pi);
                const Vector n = mesh_->polygonNormal(edgePolygons_.items[e], true);
                const Vector m = normalize(cross(edge, n));
                Quadric q = Quadric::fromPlane(m.x, m.y, m.z, -dot(m, pi), 1.0);
                q.scale(settings.boundaryWeight);
                if (byLength) q.scale(dot(edge, edge));
                quadrics_[i].add(q);
                quadrics_[j].add(q);
            }
        }
    }
    return true;
}
