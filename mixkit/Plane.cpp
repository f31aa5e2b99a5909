#include "mixkit/Plane.h"

namespace {

Plane throughPoint(const Vector& n, const Vector& p) { return Plane{n.x, n.y, n.z, -dot(n, p)}; }

Vector quadCentre(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3) {
    return scale(add(add(add(p0, p1), p2), p3), 0.25);
}

}  // namespace

Plane trianglePlaneRaw(const Vector& p0, const Vector& p1, const Vector& p2) {
    return throughPoint(cross(subtract(p1, p0), subtract(p2, p0)), p0);
}

Plane trianglePlaneUnit(const Vector& p0, const Vector& p1, const Vector& p2) {
    return throughPoint(normalize(cross(subtract(p1, p0), subtract(p2, p0))), p0);
}

Plane quadPlaneRaw(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3) {
    return throughPoint(cross(subtract(p1, p3), subtract(p2, p0)), quadCentre(p0, p1, p2, p3));
}

Plane quadPlaneUnit(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3) {
    return throughPoint(normalize(cross(subtract(p1, p3), subtract(p2, p0))), quadCentre(p0, p1, p2, p3));
}
