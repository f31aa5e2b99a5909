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
#include "tests/mixkit/UnTriagTestSupport.h"
#include "tests/support/GridMesh.h"
#include "tests/support/MeshFlaw.h"

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
    using namespace testsupport;
    auto owned = gridObject(name, o.columns, o.rows, [&o](int x, int y) {
        return host::Vec3f{o.x0 + static_cast<float>(x), static_cast<float>(y), gridHeight(o.bump, x, y)};
    });
    host::PolygonObject* obj = owned.get();
    const int w = o.columns + 1;
    if (o.uvw) addGridUvw(*obj, o.columns, o.rows, seamedUv(o.columns, o.rows, o.columns / 2));
    if (o.normals) addUpNormals(*obj);
    if (o.group)
        addSelection(*obj, host::TAG_POLYGON_SELECTION, "lower", [&](int i) { return i < obj->polygonCount() / 2; });
    if (o.pointSelection) addSelection(*obj, host::TAG_POINT_SELECTION, "left", [w](int i) { return i % w < w / 2; });
    if (o.floatMap) addFloatMap(*obj, "weight", [&](int i) { return obj->points[i].x; });
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

using testsupport::meshFlaw;

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
    // time limit); the event is kept in `lastEnd`.
    bool waitForEnd(int64_t timeoutMs = 600000) {
        bool ended = false;
        host::DialogHost::main().setEventObserver([this, &ended](const host::Event& e) {
            if (e.kind != host::Event::Kind::Special || e.id != VEXLOR_ID) return;
            ended = true;
            lastEnd = e;
        });
        const bool done = host::EventQueue::main().pumpUntil([&ended] { return ended; }, timeoutMs);
        host::DialogHost::main().setEventObserver({});
        return done;
    }

    host::Document doc;
    host::Event lastEnd;  // the last end event: how the pass ended, and over how many objects
};

// A copy of an object's own state, to compare with later.
inline std::unique_ptr<host::Object> snapshot(const host::PolygonObject& obj) { return obj.cloneAlone(); }

}  // namespace redtest
