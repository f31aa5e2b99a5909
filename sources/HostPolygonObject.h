// A view of a host object, with the polygon-object operations: point and polygon arrays (edited in
// place), their counts, resizing, the object's selections and its tags.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"
#include "sources/HostSelection.h"
#include "sources/HostString.h"
#include "sources/HostTag.h"

class HostPolygonObject {
public:
    HostPolygonObject() = default;
    explicit HostPolygonObject(HstObject* handle) : handle_(handle) {}

    int32_t type() const;
    bool isPolygonObject() const { return type() == OBJECT_POLYGON; }
    HostString name() const;
    HstDocument* document() const;
    HostPolygonObject firstChild() const;
    HostPolygonObject next() const;
    // Offset, then the three axis vectors.
    void globalMatrix(double out[12]) const;
    // Tells the host that the object changed (5 and 7 are the messages used).
    void message(int32_t id);

    int32_t pointCount() const;
    int32_t polygonCount() const;
    // Three floats per point.
    float* points() const;
    HostPolygon* polygons() const;
    // New sizes for both arrays; the tags follow. False when the host could not resize.
    bool resize(int32_t points, int32_t polygons);

    HostSelection pointSelection() const;
    HostSelection polygonSelection() const;
    HostSelection hiddenPoints() const;
    HostSelection hiddenPolygons() const;

    HostTag firstTag() const;
    // The index-th tag of a type (0 = the first), or an invalid tag.
    HostTag tagOfType(int32_t type, int32_t index = 0) const;
    // How many tags of a type the object has.
    int32_t tagCount(int32_t type) const;

    bool valid() const { return handle_ != nullptr; }
    HstObject* handle() const { return handle_; }
    bool operator==(const HostPolygonObject& other) const { return handle_ == other.handle_; }

private:
    HstObject* handle_ = nullptr;
};
