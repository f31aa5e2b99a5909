#include "tool/TessikContext.h"

#include "mixkit/RayTest.h"
#include "sources/Geometry.h"
#include "sources/HostMemory.h"
#include "sources/Module.h"

TessikContext::TessikContext() {
    for (Quadric& q : cornerQuadrics) q.fill(0.0);
    markedPolygons.make();
}

TessikContext::~TessikContext() { hostFree(hiddenFlags); }

bool TessikContext::setup(HostPolygonObject target) {
    if (!target.valid() || !markedPolygons.valid()) return false;
    object = target;
    points = target.points();
    polygons = target.polygons();
    pointCount = target.pointCount();
    polygonCount = target.polygonCount();
    if (pointCount < 0 || polygonCount < 0 || (polygonCount > 0 && (points == nullptr || polygons == nullptr)))
        return false;
    // Every corner of every polygon must name a point: the picking records, the frame and the
    // collapses read the points through the corners (the reduction, the bake and the shader refuse
    // such polygons too).
    for (int32_t i = 0; i < polygonCount; ++i)
        if (!cornersWithin(polygons[i], pointCount)) {
            cornersOutside = true;
            return false;
        }

    for (HostTag tag = target.firstTag(); tag.valid(); tag = tag.next()) {
        const int32_t before = uvwTags.count + polygonSelections.count + pointSelections.count + vertexMaps.count;
        int32_t expected = before;
        switch (tag.type()) {
            case TAG_UVW:
                uvwTags.push(tag);
                ++expected;
                break;
            case TAG_POLYGON_SELECTION:
                polygonSelections.push(tag.selection());
                ++expected;
                break;
            case TAG_POINT_SELECTION:
                pointSelections.push(tag.selection());
                ++expected;
                break;
            case TAG_FLOAT_MAP:
                if (tag.data() != nullptr && tag.dataCount() >= pointCount) {
                    vertexMaps.push(static_cast<float*>(tag.data()));
                    ++expected;
                }
                break;
            case TAG_NORMALS:
                if (!normalTag.valid() && tag.data() != nullptr && tag.dataCount() >= polygonCount) normalTag = tag;
                break;
            default: break;
        }
        // A tag that could not be listed would be left behind by the collapses: refuse the drag.
        if (uvwTags.count + polygonSelections.count + pointSelections.count + vertexMaps.count != expected)
            return false;
    }

    hiddenFlags = static_cast<uint8_t*>(hostAlloc(static_cast<size_t>(polygonCount), __LINE__, sourceTag));
    if (hiddenFlags == nullptr) {
        reportNoMemory(sourceTag, __LINE__);
        return false;
    }
    const HostSelection hidden = target.hiddenPolygons();
    for (int32_t i = 0; i < polygonCount; ++i) hiddenFlags[i] = 0;
    if (hidden.valid()) hidden.memberBytes(hiddenFlags, polygonCount);

    if (!planes.resize(polygonCount)) return false;
    for (int32_t i = 0; i < polygonCount; ++i)
        if (!isDead(polygons[i])) refreshPlanes(i);

    // The frame of the points that live polygons use.
    uint8_t* used = static_cast<uint8_t*>(hostAlloc(static_cast<size_t>(pointCount), __LINE__, sourceTag));
    if (used == nullptr) {
        reportNoMemory(sourceTag, __LINE__);
        return false;
    }
    for (int32_t i = 0; i < pointCount; ++i) used[i] = 0;
    for (int32_t i = 0; i < polygonCount; ++i) {
        const HostPolygon& p = polygons[i];
        if (isDead(p)) continue;
        for (int k = 0; k < 4; ++k)
            if (corner(p, k) >= 0 && corner(p, k) < pointCount) used[corner(p, k)] = 1;
    }
    frame = ReferenceFrame::ofPoints(reinterpret_cast<const FloatVector*>(points), used, pointCount);
    hostFree(used);
    markedPolygons.deselectAll();
    return true;
}

void TessikContext::refreshPlanes(int32_t i) {
    const HostPolygon& p = polygons[i];
    auto at = [this](int32_t c) { return FloatVector{points[3 * c], points[3 * c + 1], points[3 * c + 2]}; };
    planes[i] = PolygonPlanes::build(at(p.a), at(p.b), at(p.c), at(p.d));
}

int32_t TessikContext::pick(const Vector& origin, const Vector& direction, bool acceptBehind) const {
    int32_t best = -1;
    double bestT = 0.0;
    for (int32_t i = 0; i < polygonCount; ++i) {
        const HostPolygon& p = polygons[i];
        if (isDead(p) || hiddenFlags[i] != 0) continue;
        const PolygonPlanes& pp = planes[i];
        const int tests = isTriangle(p) ? 1 : 2;
        for (int k = 0; k < tests; ++k) {
            double t = 0.0;
            if (!rayHitsTriangle(k == 0 ? pp.first : pp.second, origin, direction, &t)) continue;
            if (!acceptBehind && t < 0.0) continue;
            if (best < 0 || t < bestT) {
                best = i;
                bestT = t;
            }
        }
    }
    return best;
}
