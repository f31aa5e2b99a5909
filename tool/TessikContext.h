// The working state of one drag of the brush: the object's arrays (edited in place), its tags and
// selection sets, the settings read at the press, the picking cache, and the lists of the collapse
// under way. Built when the button goes down, destroyed when the drag ends.
//
// Measuring frame: the collapse's quadrics, costs and fold tests are computed on the object's points
// mapped into the reduction core's frame (mixkit/ReferenceFrame.h) of the points that live polygons
// use. So one maximum error means the same on an object in millimetres and in metres, and the same
// as an error limit of the reduction command. Picking works on the object's own coordinates.
#pragma once

#include <cstdint>

#include "mixkit/PolygonPlanes.h"
#include "mixkit/Quadric.h"
#include "mixkit/ReferenceFrame.h"
#include "sources/Geometry.h"
#include "sources/HostInterface.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"
#include "sources/HostTag.h"
#include "sources/Stack.h"

class TessikContext {
public:
    TessikContext();
    ~TessikContext();
    TessikContext(const TessikContext&) = delete;
    TessikContext& operator=(const TessikContext&) = delete;

    // Fills the context from `target` (arrays, tags, hidden set, picking cache, measuring frame) and
    // clears markedPolygons. False when memory for the flags, the cache or the lists is refused, when
    // there is no marking set, or when a polygon's corner names a point that does not exist (then
    // cornersOutside is set, and nothing was read through that corner).
    bool setup(HostPolygonObject target);

    // The live polygon first hit by the line origin + t * direction (object coordinates), or -1.
    // Hidden polygons are skipped; hits with t < 0 count only with acceptBehind. Of hits at the same
    // t the lower polygon index wins.
    int32_t pick(const Vector& origin, const Vector& direction, bool acceptBehind) const;

    // Rebuilds polygon i's picking records from the current point positions.
    void refreshPlanes(int32_t i);

    // The point's position in object coordinates and in the measuring frame.
    Vector objectPoint(int32_t i) const { return pointAt(points, i); }
    Vector framePoint(int32_t i) const { return frame.toFrame(objectPoint(i)); }

    HostPolygonObject object;
    float* points = nullptr;
    HostPolygon* polygons = nullptr;
    int32_t pointCount = 0;
    int32_t polygonCount = 0;
    uint8_t* hiddenFlags = nullptr;  // one byte per polygon, non-zero: never picked
    int32_t placementPolicy = 3;
    int32_t weightingPolicy = 1;
    int32_t maxNeighbours = 10;
    int32_t checkFolds = 1;
    float boundaryWeight = 1000.0f;
    float maxError = 100.0f;
    Stack<PolygonPlanes> planes;
    Stack<int32_t> cornerPolygons[3];  // for corners b, c, d of the picked polygon
    Stack<int32_t> keptNeighbours;
    Stack<int32_t> removedNeighbours;
    Quadric cornerQuadrics[4];
    Stack<HostSelection> pointSelections;
    Stack<HostSelection> polygonSelections;
    Stack<float*> vertexMaps;
    Stack<HostTag> uvwTags;
    HostSelectionSet markedPolygons;
    HostTag normalTag;  // the corner-normal tag, when the object has one
    ReferenceFrame frame;
    bool cornersOutside = false;  // set up refused: a corner names no point

    static constexpr const char* sourceTag = "TessikContext";
};
