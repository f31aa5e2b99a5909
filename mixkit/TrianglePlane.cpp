#include "mixkit/TrianglePlane.h"

#include <cmath>

TrianglePlane TrianglePlane::build(const FloatVector& p0, const FloatVector& p1, const FloatVector& p2) {
    TrianglePlane t;
    t.p0 = p0;
    t.p1 = p1;
    t.p2 = p2;
    const float ux = p1.x - p0.x, uy = p1.y - p0.y, uz = p1.z - p0.z;
    const float vx = p2.x - p0.x, vy = p2.y - p0.y, vz = p2.z - p0.z;
    float nx = uy * vz - uz * vy;
    float ny = uz * vx - ux * vz;
    float nz = ux * vy - uy * vx;
    const float l = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (l != 0.0f) {
        nx /= l;
        ny /= l;
        nz /= l;
    } else {
        nx = ny = nz = 0.0f;
    }
    t.normal[0] = nx;
    t.normal[1] = ny;
    t.normal[2] = nz;
    t.offset = -(nx * p0.x + ny * p0.y + nz * p0.z);
    return t;
}
