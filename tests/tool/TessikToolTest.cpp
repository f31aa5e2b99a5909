// The brush end to end in our host: a viewport of each projection kind, drags fed as input events,
// one undo step per drag, cancelled and empty drags taken back, the highlight, the settings panel,
// and picking (ties, hidden polygons, hits behind the near point).
#include <gtest/gtest.h>

#include <cmath>

#include "host/Dialogs.h"
#include "host/EventQueue.h"
#include "host/HostTable.h"
#include "host/StatusBar.h"
#include "host/viewport/Viewport.h"
#include "mixkit/UnTriag3.h"
#include "tests/support/MeshFlaw.h"
#include "tests/tool/TessikTestSupport.h"
#include "tool/TessikSettings.h"
#include "tool/TessikTool.h"

namespace {

using namespace tessiktest;
using host::ViewEvent;

// ---- picking ------------------------------------------------------------------------------------

class TessikPickTest : public untritest::ModuleTest {
protected:
    host::Document doc;
};

TEST_F(TessikPickTest, TiesGoToTheLowerIndexHiddenPolygonsAreSkippedBehindOnlyWhenAccepted) {
    // Two triangles over each other at z = 0 (indices 0 and 1) and a quad at z = 1 (index 2).
    host::PolygonObject* obj = makeObject(doc,
                                          {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0},
                                           {-1, -1, 1}, {2, -1, 1}, {2, 2, 1}, {-1, 2, 1}},
                                          {{3, 4, 5, 5}, {0, 1, 2, 2}, {6, 7, 8, 9}});
    const Vector down{0, 0, -1};
    {
        Context c(obj);
        ASSERT_TRUE(c.ok);
        EXPECT_EQ(c.context.pick({0.2, 0.2, 5}, down, false), 2) << "the nearer quad";
        EXPECT_EQ(c.context.pick({0.2, 0.2, 0.5}, down, false), 0) << "equal t: the lower index";
        EXPECT_EQ(c.context.pick({0.2, 0.2, -5}, down, false), -1) << "everything behind the origin";
        EXPECT_EQ(c.context.pick({0.2, 0.2, -5}, down, true), 2) << "behind, accepted: still the nearest to the eye";
        EXPECT_EQ(c.context.pick({0.2, 0.2, 5}, {1, 0, 0}, true), -1) << "parallel to every plane";
        EXPECT_EQ(c.context.pick({5, 5, 5}, down, true), -1) << "beside everything";
    }
    obj->hiddenPolygons.select(2);
    obj->hiddenPolygons.select(0);
    {
        Context c(obj);
        EXPECT_EQ(c.context.pick({0.2, 0.2, 5}, down, false), 1) << "hidden polygons are never picked";
    }
}

// Fault 9 of issue 22: picking failed on triangles whose plane passes through (or near) the
// object's origin when the coordinates are not exact: the in-plane coordinates were used only when
// the coefficient solve's determinant was exactly 0. On a tilted card centred on its origin 24 of 72
// triangles could not be picked, and a faceted cone with its apex at the origin missed most rays.

// A point turned about x by `ax`, then about y by `ay`, then about z by `az` (radians), in floats.
host::Vec3f turned(double x, double y, double z, double ax, double ay, double az) {
    double y1 = y * std::cos(ax) - z * std::sin(ax), z1 = y * std::sin(ax) + z * std::cos(ax);
    double x2 = x * std::cos(ay) + z1 * std::sin(ay), z2 = -x * std::sin(ay) + z1 * std::cos(ay);
    double x3 = x2 * std::cos(az) - y1 * std::sin(az), y3 = x2 * std::sin(az) + y1 * std::cos(az);
    return {static_cast<float>(x3), static_cast<float>(y3), static_cast<float>(z2)};
}

Vector toV(const host::Vec3f& p) { return {p.x, p.y, p.z}; }

// Every triangle of `obj` (a convex shape or a card) picked by a ray from outside along its normal
// onto its centroid and onto points near its corners; returns how many rays picked the wrong
// polygon or none.
int missedRays(TessikContext& c, const host::PolygonObject& obj, std::string* first) {
    Vector middle;
    for (const host::Vec3f& p : obj.points) middle = add(middle, scale(toV(p), 1.0 / obj.pointCount()));
    int missed = 0;
    for (int32_t i = 0; i < obj.polygonCount(); ++i) {
        const host::Polygon& p = obj.polygons[static_cast<size_t>(i)];
        const Vector a = toV(obj.points[p.a]), b = toV(obj.points[p.b]), q = toV(obj.points[p.c]);
        Vector n = normalize(cross(subtract(b, a), subtract(q, a)));
        if (dot(n, subtract(scale(add(add(a, b), q), 1.0 / 3.0), middle)) < 0) n = scale(n, -1.0);  // outwards
        const double weights[][3] = {{1 / 3.0, 1 / 3.0, 1 / 3.0}, {0.8, 0.1, 0.1}, {0.1, 0.8, 0.1},
                                     {0.1, 0.1, 0.8}, {0.45, 0.45, 0.1}, {0.05, 0.475, 0.475}};
        for (const auto& w : weights) {
            const Vector at = add(add(scale(a, w[0]), scale(b, w[1])), scale(q, w[2]));
            const int32_t picked = c.pick(add(at, scale(n, 3.0)), scale(n, -1.0), false);
            if (picked == i) continue;
            if (first && first->empty())
                *first = "triangle " + std::to_string(i) + " at (" + std::to_string(w[0]) + ", " + std::to_string(w[1]) +
                         ") picked " + std::to_string(picked);
            ++missed;
        }
    }
    return missed;
}

TEST_F(TessikPickTest, EveryTriangleOfATiltedCardCentredOnItsOriginIsPicked) {
    const struct {
        double ax, ay, az;
    } tilts[] = {{0.7, 0.4, 0.0}, {0.3, 1.1, 0.2}, {1.2, -0.5, 2.0}, {0.01, 0.02, 0.03}, {0.0, 0.0, 0.0},
                 {M_PI / 4, M_PI / 4, 0.0}, {2.5, 0.9, -1.3}};
    for (const auto& t : tilts) {
        // A 6 x 6 card of unit squares, each in two triangles: 72 triangles, centred on the origin.
        std::vector<host::Vec3f> points;
        for (int j = 0; j <= 6; ++j)
            for (int i = 0; i <= 6; ++i) points.push_back(turned((i - 3) * 0.37, (j - 3) * 0.37, 0.0, t.ax, t.ay, t.az));
        std::vector<host::Polygon> polygons;
        for (int j = 0; j < 6; ++j)
            for (int i = 0; i < 6; ++i) {
                const int p00 = j * 7 + i, p10 = p00 + 1, p01 = p00 + 7, p11 = p01 + 1;
                polygons.push_back({p00, p10, p11, p11});
                polygons.push_back({p00, p11, p01, p01});
            }
        host::PolygonObject* obj = makeObject(doc, points, polygons, "card");
        Context c(obj);
        ASSERT_TRUE(c.ok);
        std::string first;
        EXPECT_EQ(missedRays(c.context, *obj, &first), 0) << "tilt " << t.ax << ", " << t.ay << ", " << t.az << ": " << first;
    }
}

TEST_F(TessikPickTest, EveryFacetOfAConeWithItsApexAtTheOriginIsPicked) {
    const struct {
        int facets;
        double radius, height, ax, ay;
    } cones[] = {{19, 1.0, 2.0, 0.0, 0.0}, {57, 0.7, 1.3, 0.3, 0.2}, {64, 2.5, 0.4, 1.0, -0.7}, {7, 1e-3, 3e-3, 0.2, 0.9},
                 {12, 3.0, 3.0, 0.0, 0.0}};
    for (const auto& k : cones) {
        // The apex at the origin, and rings of points down its facets: every facet's triangles lie
        // in a plane through the origin, most of them without the apex among their corners.
        constexpr int kRings = 4;
        std::vector<host::Vec3f> points = {{0, 0, 0}};
        for (int r = 1; r <= kRings; ++r)
            for (int i = 0; i < k.facets; ++i) {
                const double a = 2 * M_PI * i / k.facets, f = static_cast<double>(r) / kRings;
                points.push_back(turned(f * k.radius * std::cos(a), f * k.radius * std::sin(a), f * k.height, k.ax, k.ay, 0.0));
            }
        auto at = [&](int ring, int i) { return ring == 0 ? 0 : 1 + (ring - 1) * k.facets + (i % k.facets); };
        std::vector<host::Polygon> polygons;
        for (int i = 0; i < k.facets; ++i) polygons.push_back({0, at(1, i + 1), at(1, i), at(1, i)});
        for (int r = 1; r < kRings; ++r)
            for (int i = 0; i < k.facets; ++i) {
                // The facet's band between two rings, in two triangles.
                polygons.push_back({at(r, i), at(r, i + 1), at(r + 1, i), at(r + 1, i)});
                polygons.push_back({at(r, i + 1), at(r + 1, i + 1), at(r + 1, i), at(r + 1, i)});
            }
        host::PolygonObject* obj = makeObject(doc, points, polygons, "cone");
        Context c(obj);
        ASSERT_TRUE(c.ok);
        std::string first;
        EXPECT_EQ(missedRays(c.context, *obj, &first), 0) << k.facets << " facets: " << first;
    }
}

// A polygon whose corner names a point that does not exist: the brush's set-up refuses the object
// (it used to read outside the points and crash); the reduction, the bake and the shader refuse such
// polygons too.
TEST_F(TessikPickTest, ACornerThatNamesNoPointIsRefusedAtTheSetUp) {
    const std::vector<host::Vec3f> points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const struct {
        const char* what;
        host::Polygon bad;
    } cases[] = {
        {"a negative corner", {0, 1, -1, -1}},
        {"the point count", {0, 1, 4, 4}},
        {"far beyond", {0, 1, 2, 2147483647}},
        {"the lowest int", {-2147483647 - 1, 1, 2, 3}},
        {"a dead polygon's corner", {9, 9, 9, 9}},
    };
    for (const auto& c : cases) {
        host::PolygonObject* obj = makeObject(doc, points, {{0, 1, 2, 3}, c.bad}, c.what);
        Context ctx(obj);
        EXPECT_FALSE(ctx.ok) << c.what;
        EXPECT_TRUE(ctx.context.cornersOutside) << c.what;
    }
    host::PolygonObject* fine = makeObject(doc, points, {{0, 1, 2, 3}, {0, 2, 3, 3}}, "fine");
    Context ok(fine);
    EXPECT_TRUE(ok.ok);
    EXPECT_FALSE(ok.context.cornersOutside);
}

// ---- cameras ------------------------------------------------------------------------------------

TEST(ViewportCameraTest, ScreenAndWorldRoundTripInEveryProjectionAndAxisViewsFaceTheirWay) {
    const host::Vec3 lo{-2, -1, -3}, hi{4, 5, 1};
    for (int32_t kind = 0; kind < 8; ++kind) {
        const host::Camera cam = host::Camera::framing(kind, lo, hi, 320, 200);
        EXPECT_EQ(cam.projection, kind);
        for (const double depth : {0.5, 3.0, 40.0}) {
            const host::Vec3 w = cam.screenToWorld(37.25, 151.5, depth);
            double x = 0, y = 0, d = 0;
            ASSERT_TRUE(cam.worldToScreen(w, x, y, d)) << kind;
            EXPECT_NEAR(x, 37.25, 1e-9) << kind;
            EXPECT_NEAR(y, 151.5, 1e-9) << kind;
            EXPECT_NEAR(d, depth, 1e-9) << kind;
        }
        // The framed box lies in front of the near point and inside the view.
        for (const host::Vec3& corner : {lo, hi, host::Vec3{lo.x, hi.y, lo.z}, host::Vec3{hi.x, lo.y, hi.z}}) {
            double x = 0, y = 0, d = 0;
            ASSERT_TRUE(cam.worldToScreen(corner, x, y, d)) << kind;
            EXPECT_GT(d, 0) << kind;
            EXPECT_TRUE(x >= 0 && x <= 320 && y >= 0 && y <= 200) << kind << " " << x << "," << y;
        }
    }
    // Screen right and up as seen in each axis view.
    struct Axes {
        int32_t kind;
        host::Vec3 right, up;
    };
    const Axes axes[] = {{HOST_PROJECTION_FRONT, {1, 0, 0}, {0, 1, 0}}, {HOST_PROJECTION_BACK, {-1, 0, 0}, {0, 1, 0}},
                         {HOST_PROJECTION_LEFT, {0, 0, 1}, {0, 1, 0}},  {HOST_PROJECTION_RIGHT, {0, 0, -1}, {0, 1, 0}},
                         {HOST_PROJECTION_TOP, {1, 0, 0}, {0, 0, -1}},  {HOST_PROJECTION_BOTTOM, {1, 0, 0}, {0, 0, 1}}};
    for (const Axes& a : axes) {
        const host::Camera cam = host::Camera::framing(a.kind, lo, hi, 320, 200);
        EXPECT_EQ(cam.right, a.right) << a.kind;
        EXPECT_EQ(cam.up, a.up) << a.kind;
    }
    // A perspective view's near point is its eye, whatever the pixel.
    const host::Camera p = host::Camera::framing(HOST_PROJECTION_PERSPECTIVE, lo, hi, 320, 200);
    EXPECT_EQ(p.screenToWorld(0, 0, 0), p.screenToWorld(300, 100, 0));
    EXPECT_EQ(host::projectionFromName("bottom"), HOST_PROJECTION_BOTTOM);
    EXPECT_EQ(host::projectionFromName("sideways"), -1);
}

// ---- the brush in a viewport ----------------------------------------------------------------------

class TessikToolTest : public untritest::ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        host::StatusBar::main().setQuiet(true);  // the cost of every step
        doc.setEditingMode(host::MODE_POLYGONS);
    }
    void TearDown() override {
        viewport.reset();
        host::StatusBar::main().setQuiet(false);
        ModuleTest::TearDown();
    }

    // A 10 x 6 quad grid (bumpy unless flat), active, in a front view of 500 x 300 with the brush.
    host::PolygonObject* setUp(bool flat) {
        host::PolygonObject* obj = makeQuadGrid(doc, 10, 6, flat);
        doc.setActive(obj);
        viewport = std::make_unique<host::Viewport>(doc, 500, 300);
        viewport->frameDocument(HOST_PROJECTION_FRONT);
        EXPECT_TRUE(viewport->setTool(&tool));
        return obj;
    }
    // The screen position of an object point (the grid sits at the origin, unmoved).
    void screenOf(double x, double y, double& sx, double& sy) {
        double d = 0;
        viewport->camera.worldToScreen(host::Vec3{x, y, 0}, sx, sy, d);
    }
    // A drag along the grid's row j (y = j + 0.5) from x0 to x1 in steps of `step` pixels.
    bool dragRow(double row, double x0, double x1, int32_t button = 1, bool cancel = false, double step = 4) {
        double sx0 = 0, sy = 0, sx1 = 0;
        screenOf(x0, row, sx0, sy);
        screenOf(x1, row, sx1, sy);
        std::vector<ViewEvent> events;
        for (double x = sx0 + step; x <= sx1; x += step) events.push_back({ViewEvent::Kind::Move, x, sy});
        events.push_back({cancel ? ViewEvent::Kind::Cancel : ViewEvent::Kind::Release, 0, 0});
        host::ScriptedInput input(events);
        return viewport->press(sx0, sy, button, input);
    }
    bool enter(int32_t gadget, const host::UserValue& v) {
        return host::DialogHost::main().setByUser(viewport->toolPanel(), gadget, v);
    }

    host::Document doc;
    TessikTool tool;
    std::unique_ptr<host::Viewport> viewport;
};

using testsupport::meshFlaw;

TEST_F(TessikToolTest, StrokeAlongARowCollapsesLeavesQuadsAroundItAndIsOneUndoStep) {
    host::PolygonObject* obj = setUp(true);
    const std::unique_ptr<host::Object> before = obj->cloneAlone();
    ASSERT_TRUE(dragRow(3.5, 1.5, 8.5));
    EXPECT_EQ(doc.undoDepth(), 1);
    EXPECT_LT(obj->polygonCount(), 60);
    EXPECT_EQ(meshFlaw(*obj), "") << "clean-up left something behind";
    int quads = 0;
    for (const host::Polygon& p : obj->polygons) quads += p.c != p.d;
    EXPECT_GE(quads * 10, obj->polygonCount() * 8) << quads << " quads of " << obj->polygonCount();
    // The drag's quad rebuilding already merged every pair that can be merged.
    UnTriag3 again;
    ASSERT_TRUE(again.run(view(obj)));
    EXPECT_EQ(again.mergedCount(), 0);

    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(obj->sameStateAs(*before)) << "undo gave back another object";
}

TEST_F(TessikToolTest, AnObjectWithACornerThatNamesNoPointIsNotBrushedAndTheStatusSaysWhy) {
    host::PolygonObject* obj = setUp(true);
    obj->polygons[17].c = obj->pointCount() + 5;
    const std::unique_ptr<host::Object> before = obj->cloneAlone();
    ASSERT_TRUE(dragRow(3.5, 1.5, 8.5));
    EXPECT_TRUE(obj->sameStateAs(*before));
    EXPECT_EQ(doc.undoDepth(), 0);
    EXPECT_EQ(host::StatusBar::main().line(), "Brush: the object has a polygon whose corner names no point; it is not brushed");
}

// After a drag the status line says in words what it did: how many polygons it collapsed or, when
// the limit stopped every one, the least error it met and which setting to raise.
TEST_F(TessikToolTest, TheStatusSaysHowManyPolygonsTheDragCollapsed) {
    host::PolygonObject* obj = setUp(true);
    const int polygons = obj->polygonCount();
    ASSERT_TRUE(dragRow(3.5, 1.5, 8.5));
    const std::string done = host::StatusBar::main().line();
    int collapsed = 0;
    ASSERT_EQ(std::sscanf(done.c_str(), "Brush: %d polygons collapsed", &collapsed), 1) << done;
    EXPECT_GE(collapsed, 1);
    EXPECT_LE(collapsed, polygons - obj->polygonCount()) << "each collapse removes at least its polygon";
}

TEST_F(TessikToolTest, TheStatusNamesTheLimitThatStoppedEveryCollapse) {
    host::PolygonObject* obj = setUp(false);
    ASSERT_TRUE(enter(IDC_TESSIK_MAX_ERROR, 0.0));
    const std::unique_ptr<host::Object> before = obj->cloneAlone();
    ASSERT_TRUE(dragRow(2.5, 1.5, 8.5));
    EXPECT_TRUE(obj->sameStateAs(*before));
    const std::string stopped = host::StatusBar::main().line();
    EXPECT_EQ(stopped.rfind("Brush: nothing collapsed: the least error met was ", 0), 0u) << stopped;
    EXPECT_NE(stopped.find("above the limit 0; raise Largest error"), std::string::npos) << stopped;

    // The panel offers to raise the limit: one press sets it above the least error the drag met,
    // and the same drag then collapses; after a drag that collapsed, the offer is gone.
    host::DialogHost& dialogs = host::DialogHost::main();
    host::EventQueue::main().pump();
    const host::Settings& s = viewport->toolSettings();
    const double least = s.getReal(TESSIK_LEAST_REFUSED);
    ASSERT_GT(least, 0.0);
    EXPECT_TRUE(dialogs.gadget(viewport->toolPanel(), IDC_TESSIK_RAISE_LIMIT)->enabled);
    ASSERT_TRUE(dialogs.press(viewport->toolPanel(), IDC_TESSIK_RAISE_LIMIT));
    // Twice the least error, rounded up to two significant digits.
    const double raised = s.getReal(TESSIK_MAX_ERROR);
    EXPECT_GE(raised, least * TESSIK_RAISE_FACTOR);
    EXPECT_LE(raised, least * TESSIK_RAISE_FACTOR * 1.1);
    const double unit = std::pow(10.0, std::floor(std::log10(raised)) - 1);
    EXPECT_EQ(raised, std::round(raised / unit) * unit) << raised;
    EXPECT_EQ(dialogs.gadget(viewport->toolPanel(), IDC_TESSIK_MAX_ERROR)->number, raised);
    ASSERT_TRUE(dragRow(2.5, 1.5, 8.5));
    EXPECT_FALSE(obj->sameStateAs(*before));
    host::EventQueue::main().pump();
    EXPECT_EQ(s.getReal(TESSIK_LEAST_REFUSED), 0.0);
    EXPECT_FALSE(dialogs.gadget(viewport->toolPanel(), IDC_TESSIK_RAISE_LIMIT)->enabled);
}

TEST_F(TessikToolTest, CancelledDragAndDragOffTheObjectLeaveItAsItWas) {
    host::PolygonObject* obj = setUp(true);
    auto* group = untritest::addPolygonSelection(*obj, {1, 2, 3, 30, 31});
    (void)group;
    const std::unique_ptr<host::Object> before = obj->cloneAlone();
    ASSERT_TRUE(dragRow(3.5, 1.5, 8.5, 1, true));
    EXPECT_TRUE(viewport->lastDragCancelled());
    EXPECT_TRUE(obj->sameStateAs(*before));
    EXPECT_EQ(doc.undoDepth(), 0);

    // Beside the grid, and outside the view: nothing is picked.
    ASSERT_TRUE(dragRow(3.5, -4.0, -1.0));
    host::ScriptedInput outside({{ViewEvent::Kind::Move, 700, 150}, {ViewEvent::Kind::Release, 0, 0}});
    ASSERT_TRUE(viewport->press(-50, 150, 1, outside));
    EXPECT_TRUE(obj->sameStateAs(*before));
    EXPECT_EQ(doc.undoDepth(), 0);
}

TEST_F(TessikToolTest, RefusedStepsChangeNothingAndLeaveTheHighlightUnderTheCursor) {
    host::PolygonObject* obj = setUp(false);
    ASSERT_TRUE(enter(IDC_TESSIK_MAX_ERROR, 0.0));
    ASSERT_TRUE(host::DialogHost::main().setByUser(viewport->toolPanel(), IDC_TESSIK_COLOR,
                                                    host::Colour{{0.0, 1.0, 0.0}, 0.5}));
    const std::unique_ptr<host::Object> before = obj->cloneAlone();
    double sx = 0, sy = 0;
    screenOf(4.3, 2.6, sx, sy);
    host::ScriptedInput input({{ViewEvent::Kind::Release, 0, 0}});
    ASSERT_TRUE(viewport->press(sx, sy, 1, input));
    EXPECT_TRUE(obj->sameStateAs(*before));
    EXPECT_EQ(doc.undoDepth(), 0);
    // The quad under the cursor (index 2 * 10 + 4), in green at half brightness.
    ASSERT_EQ(viewport->toolDrawing().size(), 1u);
    const host::DrawnPolygon& lit = viewport->toolDrawing().front();
    EXPECT_EQ(lit.count, 4);
    EXPECT_EQ(lit.points[0], (host::Vec3{4, 2, obj->points[gridPoint(10, 4, 2)].z}));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(lit.colours[k], (host::Vec3{0, 0.5, 0}));
    const host::Bitmap& image = viewport->render();
    const int px = static_cast<int>(sx), py = static_cast<int>(sy);
    EXPECT_EQ(image.get8(px, py, 0), 0);
    EXPECT_EQ(image.get8(px, py, 1), 128);
    EXPECT_EQ(image.get8(px, py, 2), 0);
    EXPECT_EQ(tool.picked, 2 * 10 + 4);
    EXPECT_FALSE(tool.object.valid()) << "the object is held only during a drag";
}

TEST_F(TessikToolTest, RightButtonDragsLikeTheLeftMiddleButtonDoesNothing) {
    host::PolygonObject* obj = setUp(true);
    const std::unique_ptr<host::Object> before = obj->cloneAlone();
    ASSERT_TRUE(dragRow(3.5, 1.5, 4.5, 3));
    EXPECT_TRUE(obj->sameStateAs(*before));
    EXPECT_EQ(viewport->movesTaken(), 0) << "the middle button starts no drag";
    ASSERT_TRUE(dragRow(3.5, 1.5, 4.5, 2));
    EXPECT_EQ(doc.undoDepth(), 1);
    EXPECT_LT(obj->polygonCount(), 60);
}

TEST_F(TessikToolTest, StepsWithoutMovementNeitherPickNorRedraw) {
    setUp(true);
    double sx = 0, sy = 0;
    screenOf(4.5, 2.5, sx, sy);
    int frames = 0;
    viewport->setFrameObserver([&frames](const host::Viewport&) { ++frames; });
    host::takeRedrawRequests();
    host::ScriptedInput input({{ViewEvent::Kind::Move, sx, sy},
                               {ViewEvent::Kind::Move, sx, sy},
                               {ViewEvent::Kind::Move, sx + 30, sy},
                               {ViewEvent::Kind::Move, sx + 30, sy},
                               {ViewEvent::Kind::Release, 0, 0}});
    ASSERT_TRUE(viewport->press(sx, sy, 1, input));
    EXPECT_EQ(viewport->movesTaken(), 4);
    const std::vector<int32_t> redraws = host::takeRedrawRequests();
    EXPECT_EQ(redraws, (std::vector<int32_t>{HOST_REDRAW_TOOL, HOST_REDRAW_TOOL}));
    EXPECT_EQ(frames, 2);
}

TEST_F(TessikToolTest, PanelShowsDefaultsRefusesFewNeighboursAndChangesTakeEffectAtTheNextPress) {
    host::PolygonObject* obj = setUp(false);
    host::DialogHost& dialogs = host::DialogHost::main();
    HostDialogBase* panel = viewport->toolPanel();
    ASSERT_NE(panel, nullptr);
    const host::Settings& s = viewport->toolSettings();
    EXPECT_EQ(s.getInt(TESSIK_WEIGHTING), TESSIK_WEIGHT_AREA);
    EXPECT_EQ(s.getInt(TESSIK_MAX_NEIGHBOURS), 10);
    EXPECT_TRUE(s.getBool(TESSIK_CHECK_FOLDS));
    EXPECT_EQ(s.getReal(TESSIK_BOUNDARY_WEIGHT), 1000.0);
    EXPECT_EQ(s.getReal(TESSIK_MAX_ERROR), 100.0);
    EXPECT_EQ(s.getVector(TESSIK_COLOR), (host::Vec3{1, 0, 0}));
    EXPECT_EQ(s.getReal(TESSIK_BRIGHTNESS), 1.0);
    EXPECT_EQ(dialogs.gadget(panel, IDC_TESSIK_WEIGHTING)->number, TESSIK_WEIGHT_AREA);
    EXPECT_EQ(dialogs.gadget(panel, IDC_TESSIK_MAX_ERROR)->number, 100.0);

    ASSERT_TRUE(enter(IDC_TESSIK_MAX_NEIGHBOURS, 1));
    EXPECT_EQ(s.getInt(TESSIK_MAX_NEIGHBOURS), 3) << "the field's least value";
    ASSERT_TRUE(enter(IDC_TESSIK_MAX_NEIGHBOURS, 10));
    ASSERT_TRUE(dialogs.choose(panel, IDC_TESSIK_WEIGHTING, TESSIK_WEIGHT_ANGLE));
    EXPECT_EQ(s.getInt(TESSIK_WEIGHTING), TESSIK_WEIGHT_ANGLE);

    // Setting the largest error to 0 in the middle of a drag does not stop that drag. The drag starts
    // with a limit that lets the bumps collapse (errors are measured in the object's reference frame).
    ASSERT_TRUE(enter(IDC_TESSIK_MAX_ERROR, 1e12));
    const int polygons = obj->polygonCount();
    bool changed = false;
    viewport->setFrameObserver([&](const host::Viewport&) {
        if (!changed) changed = enter(IDC_TESSIK_MAX_ERROR, 0.0);
    });
    ASSERT_TRUE(dragRow(3.5, 1.5, 8.5));
    viewport->setFrameObserver({});
    EXPECT_TRUE(changed);
    EXPECT_EQ(s.getReal(TESSIK_MAX_ERROR), 0.0);
    EXPECT_LT(obj->polygonCount(), polygons - 4) << "later steps of the drag kept the old limit";
    // The next drag reads 0: over the bumps nothing collapses.
    const std::unique_ptr<host::Object> after = obj->cloneAlone();
    ASSERT_TRUE(dragRow(1.5, 1.5, 8.5));
    EXPECT_TRUE(obj->sameStateAs(*after));
    EXPECT_EQ(doc.undoDepth(), 1);
}

TEST_F(TessikToolTest, ObjectModeAndNonPolygonObjectsDisableTheBrush) {
    host::PolygonObject* obj = setUp(true);
    EXPECT_TRUE(viewport->toolEnabled());
    doc.setEditingMode(host::MODE_OBJECT);
    EXPECT_FALSE(viewport->toolEnabled());
    host::ScriptedInput input({{ViewEvent::Kind::Release, 0, 0}});
    EXPECT_FALSE(viewport->press(250, 150, 1, input));
    doc.setEditingMode(host::MODE_POINTS);
    doc.setActive(obj, false);
    EXPECT_FALSE(viewport->toolEnabled());
}

TEST_F(TessikToolTest, EveryProjectionPicksThroughTheViewRayOfAPlacedObject) {
    host::PolygonObject* obj = setUp(false);
    ASSERT_TRUE(enter(IDC_TESSIK_MAX_ERROR, 0.0));  // over the bumps every step is refused
    const int expected = 2 * 10 + 4;                // the quad under object point (4.3, 2.6)
    for (int32_t kind = 0; kind < 8; ++kind) {
        // The grid turned to face the view and moved off the origin.
        viewport->camera = host::Camera::framing(kind, {-5, -5, -5}, {15, 15, 15}, 500, 300);
        const host::Camera& cam = viewport->camera;
        obj->localMatrix = host::Matrix{{3, -2, 7}, cam.right, cam.up, cam.forward * -1.0};
        const host::Vec3 world = obj->localMatrix.apply(host::Vec3{4.3, 2.6, 0.0});
        double sx = 0, sy = 0, d = 0;
        ASSERT_TRUE(cam.worldToScreen(world, sx, sy, d)) << host::projectionName(kind);
        host::ScriptedInput input({{ViewEvent::Kind::Release, 0, 0}});
        ASSERT_TRUE(viewport->press(sx, sy, 1, input));
        EXPECT_EQ(tool.picked, expected) << host::projectionName(kind);
    }
    EXPECT_EQ(doc.undoDepth(), 0);
}

TEST_F(TessikToolTest, AxisViewsPickBehindTheirViewPlaneOtherViewsDoNot) {
    host::PolygonObject* obj = setUp(false);
    ASSERT_TRUE(enter(IDC_TESSIK_MAX_ERROR, 0.0));
    for (const int32_t kind : {HOST_PROJECTION_FRONT, HOST_PROJECTION_PARALLEL}) {
        // A view along -z whose view plane lies past the grid (z = -1): the grid is behind it.
        host::Camera cam = host::Camera::framing(HOST_PROJECTION_FRONT, {0, 0, 0}, {10, 6, 0}, 500, 300);
        cam.projection = kind;
        cam.position.z = -1.0;
        viewport->camera = cam;
        double sx = 0, sy = 0, d = 0;
        ASSERT_TRUE(cam.worldToScreen(host::Vec3{4.3, 2.6, 0}, sx, sy, d));
        ASSERT_LT(d, 0);
        host::ScriptedInput input({{ViewEvent::Kind::Release, 0, 0}});
        ASSERT_TRUE(viewport->press(sx, sy, 1, input));
        EXPECT_EQ(tool.picked, kind == HOST_PROJECTION_FRONT ? 2 * 10 + 4 : -1) << host::projectionName(kind);
    }
    (void)obj;
}

}  // namespace
