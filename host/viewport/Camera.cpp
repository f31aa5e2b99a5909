#include "host/viewport/Camera.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace host {
namespace {

constexpr const char* kNames[] = {"perspective", "parallel", "left", "right", "front", "back", "top", "bottom"};
// Vertical field of view of the perspective camera: 45 degrees.
constexpr double kHalfFov = 0.39269908169872414;
// Share of the view the framed box's bounding sphere fills.
constexpr double kFill = 0.9;

Vec3 sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(const Vec3& a, const Vec3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec3 unit(const Vec3& v) {
    const double l = std::sqrt(dot(v, v));
    return l > 0 ? v * (1.0 / l) : v;
}

}  // namespace

int32_t projectionFromName(const char* name) {
    if (name == nullptr) return -1;
    for (int32_t i = 0; i < 8; ++i)
        if (std::strcmp(name, kNames[i]) == 0) return i;
    return -1;
}

const char* projectionName(int32_t projection) {
    return projection >= 0 && projection < 8 ? kNames[projection] : "";
}

Camera Camera::framing(int32_t projection, const Vec3& lo, const Vec3& hi, int width, int height) {
    Camera c;
    c.projection = projection >= 0 && projection < 8 ? projection : HOST_PROJECTION_PERSPECTIVE;
    c.width = std::max(width, 1);
    c.height = std::max(height, 1);
    Vec3 upHint{0, 1, 0};
    switch (c.projection) {
        case HOST_PROJECTION_LEFT: c.forward = {1, 0, 0}; break;
        case HOST_PROJECTION_RIGHT: c.forward = {-1, 0, 0}; break;
        case HOST_PROJECTION_FRONT: c.forward = {0, 0, -1}; break;
        case HOST_PROJECTION_BACK: c.forward = {0, 0, 1}; break;
        case HOST_PROJECTION_TOP:
            c.forward = {0, -1, 0};
            upHint = {0, 0, -1};
            break;
        case HOST_PROJECTION_BOTTOM:
            c.forward = {0, 1, 0};
            upHint = {0, 0, 1};
            break;
        default: c.forward = unit(Vec3{-1.0, -0.8, -1.6}); break;
    }
    c.right = unit(cross(c.forward, upHint));
    c.up = cross(c.right, c.forward);

    const Vec3 centre = (lo + hi) * 0.5;
    double radius = std::sqrt(dot(sub(hi, lo), sub(hi, lo))) * 0.5;
    if (!(radius > 0) || !std::isfinite(radius)) radius = 1.0;
    const double shortSide = std::min(c.width, c.height);
    if (c.isPerspective()) {
        c.focal = (c.height * 0.5) / std::tan(kHalfFov);
        // Far enough that the bounding sphere fits the shorter side.
        const double halfAngle = std::atan((shortSide * 0.5 * kFill) / c.focal);
        const double distance = radius / std::sin(halfAngle);
        c.position = centre + c.forward * (-distance);
    } else {
        c.pixelsPerUnit = shortSide * 0.5 * kFill / radius;
        c.position = centre + c.forward * (-2.0 * radius);
    }
    return c;
}

Vec3 Camera::screenToWorld(double x, double y, double depth) const {
    const double sx = x - width * 0.5;
    const double sy = y - height * 0.5;
    if (isPerspective()) {
        const Vec3 direction = forward + right * (sx / focal) + up * (-sy / focal);
        return position + direction * depth;
    }
    return position + right * (sx / pixelsPerUnit) + up * (-sy / pixelsPerUnit) + forward * depth;
}

bool Camera::worldToScreen(const Vec3& p, double& x, double& y, double& depth) const {
    const Vec3 rel = sub(p, position);
    depth = dot(rel, forward);
    if (isPerspective()) {
        if (!(depth > 0)) return false;
        x = width * 0.5 + focal * dot(rel, right) / depth;
        y = height * 0.5 - focal * dot(rel, up) / depth;
        return true;
    }
    x = width * 0.5 + dot(rel, right) * pixelsPerUnit;
    y = height * 0.5 - dot(rel, up) * pixelsPerUnit;
    return true;
}

}  // namespace host
