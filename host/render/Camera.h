// Cameras of the renderer: perspective or orthographic, aimed by an eye, a target and an up
// direction, and the standard views framed on a box so that it fills the image with a small margin.
#pragma once

#include <string>

#include "host/render/RenderMath.h"

namespace host::render {

enum class View { Front, Side, Top, Perspective };

// The view of a name (front, side, top, perspective); false when unknown.
bool parseView(const std::string& name, View* view);

class Camera {
public:
    // Perspective from `eye` toward `target` with the vertical field of view in degrees.
    static Camera lookAt(const V3& eye, const V3& target, int width, int height, double fovDegrees = 35.0);
    // A standard view framed on `box`: front looks down −z, side down −x, top down −y (all
    // orthographic, up +y, top with up −z); perspective looks from the front, right and above.
    static Camera framed(View view, const Bounds& box, int width, int height);

    // The ray through image position (px, py): pixels run right and down, (0, 0) the image's
    // top-left corner, (width, height) its bottom-right.
    void ray(double px, double py, V3* origin, V3* direction) const;
    // The image position of a point; false when it lies behind a perspective camera.
    bool project(const V3& p, double* px, double* py) const;

    bool perspective() const { return perspective_; }
    const V3& eye() const { return eye_; }
    const V3& forward() const { return forward_; }
    const V3& right() const { return right_; }
    const V3& up() const { return up_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    bool perspective_ = true;
    V3 eye_, forward_{0, 0, -1}, right_{1, 0, 0}, up_{0, 1, 0};
    double halfHeight_ = 1.0;  // tan(fov / 2) for perspective, the world half height for orthographic
    int width_ = 1, height_ = 1;

    void orient(const V3& forward, const V3& upHint);
};

}  // namespace host::render
