#include "sources/HostPolygonObject.h"

#include "sources/Module.h"

int32_t HostPolygonObject::type() const { return handle_ != nullptr ? moduleApi()->objType(handle_) : 0; }

HostString HostPolygonObject::name() const {
    return handle_ != nullptr ? HostString::adopt(moduleApi()->objName(handle_)) : HostString();
}

HstDocument* HostPolygonObject::document() const {
    return handle_ != nullptr ? moduleApi()->objDocument(handle_) : nullptr;
}

HostPolygonObject HostPolygonObject::firstChild() const {
    return HostPolygonObject(handle_ != nullptr ? moduleApi()->objFirstChild(handle_) : nullptr);
}

HostPolygonObject HostPolygonObject::next() const {
    return HostPolygonObject(handle_ != nullptr ? moduleApi()->objNext(handle_) : nullptr);
}

void HostPolygonObject::globalMatrix(double out[12]) const {
    if (handle_ != nullptr) {
        moduleApi()->objGlobalMatrix(handle_, out);
        return;
    }
    for (int i = 0; i < 12; ++i) out[i] = 0.0;
    out[3] = out[7] = out[11] = 1.0;
}

void HostPolygonObject::message(int32_t id) {
    if (handle_ != nullptr) moduleApi()->objMessage(handle_, id);
}

int32_t HostPolygonObject::pointCount() const {
    return handle_ != nullptr ? moduleApi()->polyPointCount(handle_) : 0;
}

int32_t HostPolygonObject::polygonCount() const {
    return handle_ != nullptr ? moduleApi()->polyPolygonCount(handle_) : 0;
}

float* HostPolygonObject::points() const { return handle_ != nullptr ? moduleApi()->polyPoints(handle_) : nullptr; }

HostPolygon* HostPolygonObject::polygons() const {
    return handle_ != nullptr ? moduleApi()->polyPolygons(handle_) : nullptr;
}

bool HostPolygonObject::resize(int32_t points, int32_t polygons) {
    return handle_ != nullptr && moduleApi()->polyResize(handle_, points, polygons) != 0;
}

HostSelection HostPolygonObject::pointSelection() const {
    return HostSelection(handle_ != nullptr ? moduleApi()->polyPointSelection(handle_) : nullptr);
}

HostSelection HostPolygonObject::polygonSelection() const {
    return HostSelection(handle_ != nullptr ? moduleApi()->polyPolygonSelection(handle_) : nullptr);
}

HostSelection HostPolygonObject::hiddenPoints() const {
    return HostSelection(handle_ != nullptr ? moduleApi()->polyHiddenPoints(handle_) : nullptr);
}

HostSelection HostPolygonObject::hiddenPolygons() const {
    return HostSelection(handle_ != nullptr ? moduleApi()->polyHiddenPolygons(handle_) : nullptr);
}

HostTag HostPolygonObject::firstTag() const {
    return HostTag(handle_ != nullptr ? moduleApi()->objFirstTag(handle_) : nullptr);
}

HostTag HostPolygonObject::tagOfType(int32_t type, int32_t index) const {
    return HostTag(handle_ != nullptr ? moduleApi()->objTagOfType(handle_, type, index) : nullptr);
}

int32_t HostPolygonObject::tagCount(int32_t type) const {
    int32_t n = 0;
    for (HostTag t = firstTag(); t.valid(); t = t.next())
        if (t.type() == type) ++n;
    return n;
}
