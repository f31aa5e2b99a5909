// Pieces shared by the tests of the reduction pipeline, its worker thread and its dialog: a fixture
// with the module started against the real host table (resources loaded) and a document made the
// host's active one; quad grids built in code with the tags a reduction carries along; mesh checks;
// and waiting for the worker's end event on the main-thread queue.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/Dialogs.h"
#include "host/Document.h"
#include "host/EventQueue.h"
#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/Object.h"
#include "host/Tags.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostContract.h"
#include "tests/reduction/UnTriagTestSupport.h"

namespace redtest {

struct GridOptions {
    int columns = 12;
    int rows = 12;
    bool uvw = true;              // a UVW tag; its right half is a second island (a seam at the middle column)
    bool normals = false;         // a corner-normal tag
    bool group = false;           // a polygon-selection tag "lower" over the lower half of the rows
    bool pointSelection = false;  // a point-selection tag over the left half of the columns
    bool floatMap = false;        // a float map holding x
    double bump = 1.0;            // height scale, so that contractions have differing costs
    float x0 = 0.0f;              // offset of the grid along x
};

inline float gridHeight(double bump, int x, int y) {
    return static_cast<float>(bump * (0.6 * std::sin(x * 0.9) * std::cos(y * 0.7) + 0.25 * std::sin(1.3 * x + 0.4 * y)));
}

// A grid of (columns + 1) x (rows + 1) points in the x-y plane, heights in z, one quad per cell.
inline host::PolygonObject* makeGrid(host::Document& doc, const GridOptions& o, const std::string& name = "grid",
                                     host::Object* parent = nullptr) {
    auto owned = std::make_unique<host::PolygonObject>(name);
    host::PolygonObject* obj = owned.get();
    const int w = o.columns + 1;
    for (int y = 0; y <= o.rows; ++y)
        for (int x = 0; x <= o.columns; ++x)
            obj->points.push_back({o.x0 + static_cast<float>(x), static_cast<float>(y), gridHeight(o.bump, x, y)});
    for (int y = 0; y < o.rows; ++y)
        for (int x = 0; x < o.columns; ++x) {
            const int a = y * w + x;
            obj->polygons.push_back({a, a + 1, a + 1 + w, a + w});
        }
    obj->resize(obj->pointCount(), obj->polygonCount());
    if (o.uvw) {
        auto tag = std::make_unique<host::UVWTag>("uv", obj->polygonCount());
        const int seam = o.columns / 2;
        for (int y = 0; y < o.rows; ++y)
            for (int x = 0; x < o.columns; ++x) {
                const float shift = x >= seam ? 0.5f : 0.0f;
                auto uv = [&](int px, int py) {
                    return host::Vec3f{px / (2.0f * o.columns) + shift, py / static_cast<float>(o.rows), 0.0f};
                };
                tag->data[y * o.columns + x] = {uv(x, y), uv(x + 1, y), uv(x + 1, y + 1), uv(x, y + 1)};
            }
        obj->addTag(std::move(tag));
    }
    if (o.normals) {
        auto tag = std::make_unique<host::NormalTag>("normals", obj->polygonCount());
        for (host::NormalRow& r : tag->data)
            for (int k = 0; k < 4; ++k) r.v[3 * k + 2] = 32000;
        obj->addTag(std::move(tag));
    }
    if (o.group) {
        auto tag = std::make_unique<host::SelectionTag>(host::TAG_POLYGON_SELECTION, "lower", obj->polygonCount());
        for (int i = 0; i < obj->polygonCount() / 2; ++i) tag->set.select(i);
        obj->addTag(std::move(tag));
    }
    if (o.pointSelection) {
        auto tag = std::make_unique<host::SelectionTag>(host::TAG_POINT_SELECTION, "left", obj->pointCount());
        for (int i = 0; i < obj->pointCount(); ++i)
            if (i % w < w / 2) tag->set.select(i);
        obj->addTag(std::move(tag));
    }
    if (o.floatMap) {
        auto tag = std::make_unique<host::FloatMapTag>("weight", obj->pointCount());
        for (int i = 0; i < obj->pointCount(); ++i) tag->data[i] = obj->points[i].x;
        obj->addTag(std::move(tag));
    }
    if (parent != nullptr) return static_cast<host::PolygonObject*>(parent->addChild(std::move(owned)));
    return static_cast<host::PolygonObject*>(doc.insert(std::move(owned)));
}

inline int usedPointCount(const host::PolygonObject& obj) {
    std::set<int> used;
    for (const host::Polygon& p : obj.polygons)
        if (p.a != p.b) used.insert({p.a, p.b, p.c, p.d});
    return static_cast<int>(used.size());
}

inline int quadCount(const host::PolygonObject& obj) {
    int n = 0;
    for (const host::Polygon& p : obj.polygons) n += p.c != p.d ? 1 : 0;
    return n;
}

// The first flaw of a finished mesh: a corner outside the point array, a polygon with a repeated
// corner (an empty one included), a point that no polygon uses; "" when there is none.
inline std::string meshFlaw(const host::PolygonObject& obj) {
    std::vector<int> uses(obj.points.size(), 0);
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const host::Polygon& p = obj.polygons[i];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        const int n = p.c == p.d ? 3 : 4;
        for (int k = 0; k < 4; ++k)
            if (corners[k] < 0 || corners[k] >= obj.pointCount())
                return "polygon " + std::to_string(i) + " points at the missing point " + std::to_string(corners[k]);
        for (int k = 0; k < n; ++k)
            for (int m = k + 1; m < n; ++m)
                if (corners[k] == corners[m]) return "polygon " + std::to_string(i) + " repeats a corner";
        for (int k = 0; k < n; ++k) ++uses[corners[k]];
    }
    for (size_t i = 0; i < uses.size(); ++i)
        if (uses[i] == 0) return "point " + std::to_string(i) + " is used by no polygon";
    return "";
}

class ReductionTest : public untritest::ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        host::DialogHost::main().reset();
        host::setActiveDocument(&doc);
        host::takeRedrawRequests();
    }
    void TearDown() override {
        host::DialogHost::main().setEventObserver({});
        host::EventQueue::main().pump();
        host::DialogHost::main().reset();
        host::setActiveDocument(nullptr);
        ModuleTest::TearDown();
    }

    // Pumps the main-thread queue until the reduction's end event was delivered (false after the
    // time limit).
    bool waitForEnd(int64_t timeoutMs = 600000) {
        bool ended = false;
        host::DialogHost::main().setEventObserver([&ended](const host::Event& e) {
            if (e.kind == host::Event::Kind::Special && e.id == VEXLOR_ID) ended = true;
        });
        const bool done = host::EventQueue::main().pumpUntil([&ended] { return ended; }, timeoutMs);
        host::DialogHost::main().setEventObserver({});
        return done;
    }

    host::Document doc;
};

// A copy of an object's own state, to compare with later.
inline std::unique_ptr<host::Object> snapshot(const host::PolygonObject& obj) { return obj.cloneAlone(); }

}  // namespace redtest
