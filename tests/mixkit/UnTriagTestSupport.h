// Pieces shared by the quad reconstruction and slider tests: the module started against the real
// host table with its resources loaded, and small polygon objects built point by point, whose UVW
// and corner-normal tags give every corner the value of its point, so that a test can see whether
// those values still follow the corners after an edit.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/HostHandles.h"
#include "host/Object.h"
#include "host/Tags.h"
#include "sources/HostPolygonObject.h"
#include "tests/module/ModuleTestSupport.h"

namespace untritest {

class ModuleTest : public moduletest::ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        startModule(moduletest::kSourceFolder);
        ASSERT_EQ(moduletest::message(1), 1);  // resources, for the dialog layouts
    }
    // Console lines that start with "NO MEMORY".
    std::vector<std::string> memoryFaults() {
        std::vector<std::string> out;
        for (const std::string& l : console())
            if (l.rfind("NO MEMORY", 0) == 0) out.push_back(l);
        return out;
    }
};

inline host::PolygonObject* makeObject(host::Document& doc, const std::vector<host::Vec3f>& points,
                                       const std::vector<host::Polygon>& polygons, const std::string& name = "mesh") {
    auto object = std::make_unique<host::PolygonObject>(name);
    object->points = points;
    object->polygons = polygons;
    object->pointSelection.resize(static_cast<int>(points.size()));
    object->hiddenPoints.resize(static_cast<int>(points.size()));
    object->polygonSelection.resize(static_cast<int>(polygons.size()));
    object->hiddenPolygons.resize(static_cast<int>(polygons.size()));
    return static_cast<host::PolygonObject*>(doc.insert(std::move(object)));
}

inline HostPolygonObject view(host::PolygonObject* obj) { return HostPolygonObject(host::toHandle(obj)); }

// The texture coordinates and the normal that belong to a point in the tags below.
inline host::Vec3f uvwOfPoint(const host::PolygonObject& obj, int p) {
    const host::Vec3f& at = obj.points[p];
    return {at.x * 0.5f + 0.125f, at.y * 0.25f, static_cast<float>(p) * 0.0625f};
}
inline void normalOfPoint(int p, int16_t out[3]) {
    out[0] = static_cast<int16_t>(p * 10);
    out[1] = static_cast<int16_t>(-3 * p - 1);
    out[2] = static_cast<int16_t>(1000 + p);
}

// A UVW tag whose every corner holds uvwOfPoint of its point (slot d of a triangle: that of c).
inline host::UVWTag* addPointUvw(host::PolygonObject& obj, const std::string& name = "uvw") {
    auto tag = std::make_unique<host::UVWTag>(name, obj.polygonCount());
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const host::Polygon& p = obj.polygons[i];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < 4; ++k)
            if (corners[k] >= 0 && corners[k] < obj.pointCount()) tag->data[i].corner(k) = uvwOfPoint(obj, corners[k]);
    }
    return static_cast<host::UVWTag*>(obj.addTag(std::move(tag)));
}

// A corner-normal tag whose every corner holds normalOfPoint of its point.
inline host::NormalTag* addPointNormals(host::PolygonObject& obj) {
    auto tag = std::make_unique<host::NormalTag>("normals", obj.polygonCount());
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const host::Polygon& p = obj.polygons[i];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < 4; ++k) normalOfPoint(corners[k], &tag->data[i].v[3 * k]);
    }
    return static_cast<host::NormalTag*>(obj.addTag(std::move(tag)));
}

inline host::SelectionTag* addPolygonSelection(host::PolygonObject& obj, const std::vector<int>& members,
                                               const std::string& name = "group") {
    auto tag = std::make_unique<host::SelectionTag>(host::TAG_POLYGON_SELECTION, name, obj.polygonCount());
    for (int m : members) tag->set.select(m);
    return static_cast<host::SelectionTag*>(obj.addTag(std::move(tag)));
}

// Describes the first corner of a live polygon whose UVW (in every UVW tag) or normal (in every
// normal tag) is not its point's; "" when all follow their points.
inline std::string cornersOffTheirPoints(const host::PolygonObject& obj) {
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const host::Polygon& p = obj.polygons[i];
        if (p.a == p.b) continue;
        const int corners[4] = {p.a, p.b, p.c, p.d};
        const int n = p.c == p.d ? 3 : 4;
        for (const auto& tag : obj.tags()) {
            for (int k = 0; k < n; ++k) {
                if (auto* uvw = dynamic_cast<const host::UVWTag*>(tag.get())) {
                    if (!(uvw->data[i].corner(k) == uvwOfPoint(obj, corners[k])))
                        return "uvw of polygon " + std::to_string(i) + " corner " + std::to_string(k);
                } else if (auto* normals = dynamic_cast<const host::NormalTag*>(tag.get())) {
                    int16_t expected[3];
                    normalOfPoint(corners[k], expected);
                    for (int c = 0; c < 3; ++c)
                        if (normals->data[i].v[3 * k + c] != expected[c])
                            return "normal of polygon " + std::to_string(i) + " corner " + std::to_string(k);
                }
            }
        }
    }
    return "";
}

}  // namespace untritest
