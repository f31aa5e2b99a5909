#include "host/render/Camera.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace host::render {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Room left around a framed box, as a share of its extent.
constexpr double kMargin = 1.06;

std::vector<V3> corners(const Bounds& b) {
    std::vector<V3> c;
    for (int i = 0; i < 8; ++i)
        c.push_back({i & 1 ? b.max.x : b.min.x, i & 2 ? b.max.y : b.min.y, i & 4 ? b.max.z : b.min.z});
    return c;
}

}  // namespace

bool parseView(const std::string& name, View* view) {
    if (name == "front") *view = View::Front;
    else if (name == "side") *view = View::Side;
    else if (name == "top") *view = View::Top;
    else if (name == "perspective") *view = View::Perspective;
    else return false;
    return true;
}

void Camera::orient(const V3& forward, const V3& upHint) {
    forward_ = normalized(forward);
    right_ = normalized(cross(forward_, upHint));
    if (length(right_) == 0.0) right_ = normalized(cross(forward_, V3{0, 0, 1}));
    if (length(right_) == 0.0) right_ = {1, 0, 0};
    up_ = cross(right_, forward_);
}

Camera Camera::lookAt(const V3& eye, const V3& target, int width, int height, double fovDegrees) {
    Camera c;
    c.perspective_ = true;
    c.width_ = std::max(width, 1);
    c.height_ = std::max(height, 1);
    c.eye_ = eye;
    const V3 f = length(target - eye) > 0.0 ? target - eye : V3{0, 0, -1};
    c.orient(f, {0, 1, 0});
    c.halfHeight_ = std::tan(std::clamp(fovDegrees, 1.0, 170.0) * kPi / 360.0);
    return c;
}

Camera Camera::framed(View view, const Bounds& box, int width, int height) {
    Bounds b = box;
    if (b.empty) b.grow(V3{});
    const V3 centre = b.centre();
    const double radius = std::max(b.radius(), 1e-6);
    const double aspect = double(std::max(width, 1)) / std::max(height, 1);
    if (view == View::Perspective) {
        const V3 dir = normalized(V3{0.45, 0.35, 1.0});
        Camera c = lookAt(centre + dir * radius, centre, width, height);
        // Move back until every corner of the box fits the narrower half-angle.
        const double tanV = c.halfHeight_, tanH = tanV * aspect;
        double distance = 0.0;
        for (const V3& p : corners(b)) {
            const V3 d = p - centre;
            const double x = dot(d, c.right_), y = dot(d, c.up_), z = dot(d, c.forward_);
            distance = std::max({distance, std::fabs(x) * kMargin / tanH - z, std::fabs(y) * kMargin / tanV - z});
        }
        c.eye_ = centre - c.forward_ * std::max(distance, radius * 1e-3);
        return c;
    }
    Camera c;
    c.perspective_ = false;
    c.width_ = std::max(width, 1);
    c.height_ = std::max(height, 1);
    if (view == View::Front) c.orient({0, 0, -1}, {0, 1, 0});
    else if (view == View::Side) c.orient({-1, 0, 0}, {0, 1, 0});
    else c.orient({0, -1, 0}, {0, 0, -1});
    double halfW = 0.0, halfH = 0.0;
    for (const V3& p : corners(b)) {
        halfW = std::max(halfW, std::fabs(dot(p - centre, c.right_)));
        halfH = std::max(halfH, std::fabs(dot(p - centre, c.up_)));
    }
    c.halfHeight_ = std::max(std::max(halfH, halfW / aspect) * kMargin, radius * 1e-3);
    c.eye_ = centre - c.forward_ * (radius * 4.0);
    return c;
}

void Camera::ray(double px, double py, V3* origin, V3* direction) const {
    const double aspect = double(width_) / height_;
    const double sx = (2.0 * px / width_ - 1.0) * aspect * halfHeight_;
    const double sy = (1.0 - 2.0 * py / height_) * halfHeight_;
    if (perspective_) {
        *origin = eye_;
        *direction = normalized(forward_ + right_ * sx + up_ * sy);
    } else {
        *origin = eye_ + right_ * sx + up_ * sy;
        *direction = forward_;
    }
}

bool Camera::project(const V3& p, double* px, double* py) const {
    const V3 d = p - eye_;
    double sx = dot(d, right_), sy = dot(d, up_);
    if (perspective_) {
        const double z = dot(d, forward_);
        if (z <= 0.0) return false;
        sx /= z;
        sy /= z;
    }
    const double aspect = double(width_) / height_;
    *px = (sx / (aspect * halfHeight_) + 1.0) * 0.5 * width_;
    *py = (1.0 - sy / halfHeight_) * 0.5 * height_;
    return true;
}

}  // namespace host::render
