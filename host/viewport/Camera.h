// A view's camera: a perspective eye or a parallel projection (free or along one of the six axes),
// with the conversions between screen pixels and world points.
//
// Screen coordinates are pixels from the top left corner, x to the right, y down; pixel (i, j)
// covers [i, i + 1) x [j, j + 1). Depth is measured in world units along the view direction from
// the near point: the eye of a perspective camera, the view plane of a parallel one.
//
// World axes as the axis views show them (y up, the object's front facing +z):
//   front  looks along -z (x to the right)    back    looks along +z (x to the left)
//   left   looks along +x (z to the right)    right   looks along -x (z to the left)
//   top    looks along -y (x right, -z up)    bottom  looks along +y (x right, +z up)
// The perspective and the free parallel camera look from the front, right and above.
#pragma once

#include <cstdint>

#include "host/Geometry.h"
#include "sources/HostInterface.h"

namespace host {

// The projection kinds by name, as the command line spells them ("perspective", "parallel", "left",
// "right", "front", "back", "top", "bottom"); -1 for another name.
int32_t projectionFromName(const char* name);
const char* projectionName(int32_t projection);

struct Camera {
    int32_t projection = HOST_PROJECTION_PERSPECTIVE;
    int width = 640, height = 480;
    Vec3 position;              // perspective: the eye; parallel: the centre of the view plane
    Vec3 right{1, 0, 0};        // screen x, unit
    Vec3 up{0, 1, 0};           // screen -y, unit
    Vec3 forward{0, 0, -1};     // into the screen, unit
    double focal = 1.0;         // perspective: pixels per unit of sideways offset at depth 1
    double pixelsPerUnit = 1.0; // parallel: pixels per world unit

    bool isPerspective() const { return projection == HOST_PROJECTION_PERSPECTIVE; }

    // A camera of that projection showing the box [lo, hi] whole and centred in a width x height
    // view, its near point in front of the box. An unknown projection gives the perspective one.
    static Camera framing(int32_t projection, const Vec3& lo, const Vec3& hi, int width, int height);

    // The world point under the screen position (x, y) at `depth`.
    Vec3 screenToWorld(double x, double y, double depth) const;
    // The screen position and depth of a world point; false for a point at or behind the eye of a
    // perspective camera.
    bool worldToScreen(const Vec3& p, double& x, double& y, double& depth) const;
};

}  // namespace host
