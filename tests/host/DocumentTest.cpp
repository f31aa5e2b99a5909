// Tests of the document model: hierarchy, active objects, placement, settings, polygon objects whose
// tags follow their arrays, and undo by full object snapshots (kind 41).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "host/Document.h"
#include "host/Object.h"
#include "host/Settings.h"
#include "host/Tags.h"
#include "tests/support/SelectionMembers.h"

using namespace host;

namespace {

using testsupport::members;

// A unit quad and a triangle with every kind of tag, each holding values that tell elements apart.
std::unique_ptr<PolygonObject> makeTaggedMesh(const std::string& name = "mesh") {
    auto o = std::make_unique<PolygonObject>(name);
    o->resize(5, 2);
    o->points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}};
    o->polygons = {{0, 1, 2, 3}, {1, 4, 2, 2}};
    auto* uv = static_cast<UVWTag*>(o->addTag(std::make_unique<UVWTag>("uv")));
    uv->data[0] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    uv->data[1] = {{1, 0, 0}, {2, 0, 0}, {1, 1, 0}, {1, 1, 0}};
    auto* normals = static_cast<NormalTag*>(o->addTag(std::make_unique<NormalTag>("normals")));
    normals->data[0].v[2] = 32000;
    normals->data[1].v[5] = -32000;
    auto* group = static_cast<SelectionTag*>(
        o->addTag(std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "group")));
    group->set.select(1);
    auto* pinned = static_cast<SelectionTag*>(o->addTag(std::make_unique<SelectionTag>(TAG_POINT_SELECTION, "pin")));
    pinned->set.select(4);
    auto* weights = static_cast<FloatMapTag*>(o->addTag(std::make_unique<FloatMapTag>("weight")));
    weights->data = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f};
    auto smoothing = std::make_unique<SmoothingTag>("smooth");
    smoothing->data.setBool(SMOOTHING_ANGLE_LIMIT, true);
    smoothing->data.setReal(SMOOTHING_ANGLE, 0.75);
    o->addTag(std::move(smoothing));
    o->pointSelection.select(1);
    o->polygonSelection.select(0);
    o->hiddenPoints.select(3);
    o->hiddenPolygons.select(1);
    o->localMatrix.off = {1, 2, 3};
    return o;
}

}  // namespace

// --- hierarchy ------------------------------------------------------------------------------------

TEST(DocumentHierarchy, InsertChildrenSiblingsAndFind) {
    Document doc;
    EXPECT_EQ(doc.firstObject(), nullptr);
    Object* a = doc.insert(std::make_unique<Object>(OBJECT_GROUP, "A"));
    Object* b = doc.insert(std::make_unique<PolygonObject>("B"));
    Object* c = doc.insert(std::make_unique<PolygonObject>("C"), a);
    Object* d = doc.insert(std::make_unique<Object>(OBJECT_CAMERA, "D"), a);
    Object* e = doc.insert(std::make_unique<PolygonObject>("E"), c);

    EXPECT_EQ(doc.firstObject(), a);
    ASSERT_EQ(doc.roots().size(), 2u);
    EXPECT_EQ(a->next(), b);
    EXPECT_EQ(b->next(), nullptr);
    EXPECT_EQ(a->firstChild(), c);
    EXPECT_EQ(c->next(), d);
    EXPECT_EQ(d->next(), nullptr);
    EXPECT_EQ(c->firstChild(), e);
    EXPECT_EQ(e->firstChild(), nullptr);
    EXPECT_EQ(e->parent(), c);
    EXPECT_EQ(c->parent(), a);
    EXPECT_EQ(a->parent(), nullptr);
    for (Object* o : {a, b, c, d, e}) EXPECT_EQ(o->document(), &doc) << o->name();
    EXPECT_EQ(doc.allObjects(), (std::vector<Object*>{a, c, e, d, b}));
    EXPECT_TRUE(b->isPolygonObject());
    EXPECT_FALSE(d->isPolygonObject());
    EXPECT_EQ(d->type(), OBJECT_CAMERA);

    EXPECT_EQ(doc.find("E"), e);
    EXPECT_EQ(doc.find("D"), d);
    EXPECT_EQ(doc.find("nothing"), nullptr);
    // The first of a name, depth first.
    Object* e2 = doc.insert(std::make_unique<Object>(OBJECT_GROUP, "E"));
    EXPECT_EQ(doc.find("E"), e);
    e->setName("renamed");
    EXPECT_EQ(doc.find("E"), e2);

    // Removing a subtree hands it back, out of the document.
    std::unique_ptr<Object> removed = doc.remove(c);
    ASSERT_EQ(removed.get(), c);
    EXPECT_EQ(c->parent(), nullptr);
    EXPECT_EQ(c->document(), nullptr);
    EXPECT_EQ(e->document(), nullptr);
    EXPECT_EQ(c->firstChild(), e);
    EXPECT_EQ(a->firstChild(), d);
    EXPECT_EQ(doc.allObjects(), (std::vector<Object*>{a, d, b, e2}));
    std::unique_ptr<Object> root = doc.remove(b);
    EXPECT_EQ(root.get(), b);
    EXPECT_EQ(a->next(), e2);
    EXPECT_EQ(b->next(), nullptr);
    EXPECT_EQ(doc.remove(nullptr), nullptr);

    // Inserted back under another object, the subtree joins the document again.
    doc.insert(std::move(removed), d);
    EXPECT_EQ(c->parent(), d);
    EXPECT_EQ(e->document(), &doc);
}

TEST(DocumentHierarchy, ActiveObjectsWithAndWithoutTopOnly) {
    Document doc;
    Object* a = doc.insert(std::make_unique<Object>(OBJECT_GROUP, "A"));
    Object* b = doc.insert(std::make_unique<PolygonObject>("B"));
    Object* c = doc.insert(std::make_unique<PolygonObject>("C"), a);
    Object* d = doc.insert(std::make_unique<PolygonObject>("D"), a);
    Object* e = doc.insert(std::make_unique<PolygonObject>("E"), c);
    EXPECT_TRUE(doc.activeObjects().empty());
    EXPECT_EQ(doc.activeObject(), nullptr);

    doc.setActive(a);
    doc.setActive(e);
    doc.setActive(b);
    EXPECT_EQ(doc.activeObjects(), (std::vector<Object*>{a, e, b}));
    EXPECT_EQ(doc.activeObjects(true), (std::vector<Object*>{a, b}));
    EXPECT_EQ(doc.activeObject(), a);

    // E is below C, which is active: topOnly leaves E out even though A no longer is.
    doc.setActive(a, false);
    doc.setActive(c);
    doc.setActive(d);
    EXPECT_EQ(doc.activeObjects(), (std::vector<Object*>{c, e, d, b}));
    EXPECT_EQ(doc.activeObjects(true), (std::vector<Object*>{c, d, b}));
    EXPECT_EQ(doc.activeObject(), c);

    doc.clearActive();
    EXPECT_TRUE(doc.activeObjects().empty());
    for (Object* o : doc.allObjects()) EXPECT_FALSE(o->active);
}

TEST(DocumentHierarchy, GlobalMatrixComposesParentsOverTheLocalMatrix) {
    Document doc;
    Object* parent = doc.insert(std::make_unique<Object>(OBJECT_GROUP, "parent"));
    // A quarter turn about z, moved to (1, 2, 3).
    parent->localMatrix = {{1, 2, 3}, {0, 1, 0}, {-1, 0, 0}, {0, 0, 1}};
    Object* child = doc.insert(std::make_unique<PolygonObject>("child"), parent);
    // Scaled by 2, moved one unit along its parent's x.
    child->localMatrix = {{1, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    Object* grandchild = doc.insert(std::make_unique<PolygonObject>("grandchild"), child);
    grandchild->localMatrix.off = {0, 0, 1};

    EXPECT_EQ(parent->globalMatrix(), parent->localMatrix);
    // off: parent applied to (1,0,0) = (1,2,3) + 1*(0,1,0); axes: parent's axes times 2.
    const Matrix g = child->globalMatrix();
    EXPECT_EQ(g.off, (Vec3{1, 3, 3}));
    EXPECT_EQ(g.v1, (Vec3{0, 2, 0}));
    EXPECT_EQ(g.v2, (Vec3{-2, 0, 0}));
    EXPECT_EQ(g.v3, (Vec3{0, 0, 2}));
    // (1,1,1) in the child: (3,2,2) in the parent, then (1,2,3) + 3*(0,1,0) + 2*(-1,0,0) + 2*(0,0,1).
    EXPECT_EQ(g.apply({1, 1, 1}), (Vec3{-1, 5, 5}));
    EXPECT_EQ(parent->localMatrix.apply(child->localMatrix.apply({1, 1, 1})), (Vec3{-1, 5, 5}));

    const Matrix gg = grandchild->globalMatrix();
    EXPECT_EQ(gg.off, (Vec3{1, 3, 5}));
    EXPECT_EQ(gg.v1, (Vec3{0, 2, 0}));
    EXPECT_EQ(gg.apply({1, 0, 0}), (Vec3{1, 5, 5}));
}

// --- settings -------------------------------------------------------------------------------------

TEST(SettingsValues, AbsentAndWrongKindYieldTheCallersDefault) {
    Settings s;
    EXPECT_EQ(s.getInt(1, 7), 7);
    EXPECT_EQ(s.getReal(1, 2.5), 2.5);
    EXPECT_EQ(s.getBool(1, true), true);
    EXPECT_EQ(s.getString(1, "x"), "x");
    EXPECT_EQ(s.getVector(1, {1, 2, 3}), (Vec3{1, 2, 3}));
    EXPECT_EQ(s.getLink(1), nullptr);
    EXPECT_FALSE(s.has(1));

    s.setReal(10, 0.25);
    s.setString(11, "name");
    s.setVector(12, {4, 5, 6});
    s.setInt(13, 42);
    s.setBool(14, true);
    int target = 0;
    s.setLink(15, &target);
    EXPECT_EQ(s.getReal(10, 9), 0.25);
    EXPECT_EQ(s.getString(11), "name");
    EXPECT_EQ(s.getVector(12), (Vec3{4, 5, 6}));
    EXPECT_EQ(s.getInt(13), 42);
    EXPECT_TRUE(s.getBool(14));
    EXPECT_EQ(s.getLink(15), &target);

    // Wrong kinds.
    EXPECT_EQ(s.getInt(10, -1), -1);      // a real is no integer
    EXPECT_EQ(s.getReal(13, -1.0), -1.0);  // nor an integer a real
    EXPECT_EQ(s.getString(13, "d"), "d");
    EXPECT_EQ(s.getVector(11, {9, 9, 9}), (Vec3{9, 9, 9}));
    EXPECT_EQ(s.getBool(10, true), true);
    EXPECT_EQ(s.getLink(13), nullptr);
    // Integers and booleans read as each other.
    EXPECT_EQ(s.getInt(14, -1), 1);
    EXPECT_TRUE(s.getBool(13, false));
    s.setInt(13, 0);
    EXPECT_FALSE(s.getBool(13, true));

    // Setting a key again replaces its kind.
    s.setString(10, "now text");
    EXPECT_EQ(s.getReal(10, -2.0), -2.0);
    s.remove(10);
    EXPECT_FALSE(s.has(10));
    Settings copy = s;
    EXPECT_EQ(copy, s);
    copy.setInt(13, 1);
    EXPECT_FALSE(copy == s);
}

TEST(SettingsValues, DocumentEditingModeDefaultsToObjectMode) {
    Document doc;
    EXPECT_EQ(doc.editingMode(), MODE_OBJECT);
    EXPECT_EQ(doc.settings.getInt(DOC_EDITING_MODE), 12);
    doc.setEditingMode(MODE_POINTS);
    EXPECT_EQ(doc.editingMode(), 5);
    doc.settings.remove(DOC_EDITING_MODE);
    EXPECT_EQ(doc.editingMode(), MODE_OBJECT);
}

// --- polygon objects ------------------------------------------------------------------------------

// Tags go in at the place asked for: first, between two, and last for an index past the end or a
// negative one; a tag put on a polygon object takes the object's element counts.
TEST(PolygonObjectArrays, InsertTagPlacesTheTagAmongTheOthers) {
    std::unique_ptr<PolygonObject> o = makeTaggedMesh();
    const size_t before = o->tags().size();
    ASSERT_GE(before, 2u);
    const Tag* oldFirst = o->tags()[0].get();
    const Tag* oldSecond = o->tags()[1].get();

    Tag* first = o->insertTag(std::make_unique<UVWTag>("first"), 0);
    Tag* middle = o->insertTag(std::make_unique<UVWTag>("middle"), 2);
    Tag* past = o->insertTag(std::make_unique<UVWTag>("past"), 1000);
    Tag* negative = o->insertTag(std::make_unique<UVWTag>("negative"), -1);

    const auto& tags = o->tags();
    ASSERT_EQ(tags.size(), before + 4);
    EXPECT_EQ(tags[0].get(), first);
    EXPECT_EQ(tags[1].get(), oldFirst);
    EXPECT_EQ(tags[2].get(), middle);
    EXPECT_EQ(tags[3].get(), oldSecond);
    EXPECT_EQ(tags[before + 2].get(), past);
    EXPECT_EQ(tags[before + 3].get(), negative);
    for (const Tag* t : {first, middle, past, negative}) {
        EXPECT_EQ(t->owner(), o.get());
        EXPECT_EQ(t->elementCount(), o->polygonCount());
    }
}

TEST(PolygonObjectArrays, ResizeMakesTagsAndSelectionsFollow) {
    std::unique_ptr<PolygonObject> o = makeTaggedMesh();
    auto* uv = static_cast<UVWTag*>(o->tag(TAG_UVW));
    auto* weights = static_cast<FloatMapTag*>(o->tag(TAG_FLOAT_MAP));
    auto* group = static_cast<SelectionTag*>(o->tag(TAG_POLYGON_SELECTION));
    auto* pinned = static_cast<SelectionTag*>(o->tag(TAG_POINT_SELECTION));
    auto* normals = static_cast<NormalTag*>(o->tag(TAG_NORMALS));
    const UVWRow row0 = uv->data[0];

    ASSERT_TRUE(o->resize(8, 4));
    EXPECT_EQ(o->pointCount(), 8);
    EXPECT_EQ(o->polygonCount(), 4);
    EXPECT_EQ(uv->elementCount(), 4);
    EXPECT_EQ(normals->elementCount(), 4);
    EXPECT_EQ(group->elementCount(), 4);
    EXPECT_EQ(pinned->elementCount(), 8);
    EXPECT_EQ(weights->elementCount(), 8);
    EXPECT_EQ(o->pointSelection.size(), 8);
    EXPECT_EQ(o->hiddenPoints.size(), 8);
    EXPECT_EQ(o->polygonSelection.size(), 4);
    EXPECT_EQ(o->hiddenPolygons.size(), 4);
    // Old elements keep their values, new ones are zero and unselected.
    EXPECT_EQ(uv->data[0], row0);
    EXPECT_EQ(uv->data[3], UVWRow{});
    EXPECT_EQ(normals->data[0].v[2], 32000);
    EXPECT_EQ(normals->data[3], NormalRow{});
    EXPECT_EQ(weights->data, (std::vector<float>{0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 0, 0, 0}));
    EXPECT_EQ(members(pinned->set), (std::vector<int>{4}));
    EXPECT_EQ(members(group->set), (std::vector<int>{1}));
    EXPECT_EQ(o->points[7], Vec3f{});
    EXPECT_EQ(o->polygons[3], Polygon{});
    // The smoothing tag has no elements and is left alone.
    EXPECT_EQ(o->tag(TAG_SMOOTHING)->elementCount(), 0);

    // Shrinking drops the members beyond the new counts.
    ASSERT_TRUE(o->resize(4, 1));
    EXPECT_EQ(weights->data, (std::vector<float>{0.5f, 1.5f, 2.5f, 3.5f}));
    EXPECT_EQ(members(pinned->set), std::vector<int>{});
    EXPECT_EQ(members(group->set), std::vector<int>{});
    EXPECT_EQ(members(o->hiddenPoints), (std::vector<int>{3}));
    EXPECT_EQ(members(o->polygonSelection), (std::vector<int>{0}));
    EXPECT_EQ(uv->data, (std::vector<UVWRow>{row0}));

    // Negative counts are refused and change nothing.
    const std::unique_ptr<Object> before = o->cloneAlone();
    EXPECT_FALSE(o->resize(-1, 1));
    EXPECT_FALSE(o->resize(1, -1));
    EXPECT_TRUE(o->sameStateAs(*before));

    // A tag added later is sized to the object.
    Tag* late = o->addTag(std::make_unique<FloatMapTag>("late"));
    EXPECT_EQ(late->elementCount(), 4);
}

TEST(PolygonObjectArrays, CompactKeepsAttributesWithTheirElements) {
    std::unique_ptr<PolygonObject> o = makeTaggedMesh();
    // Drop point 0 and polygon 0; the triangle (1,4,2,2) becomes (0,3,1,1).
    o->compact({-1, 0, 1, 2, 3}, 4, {-1, 0}, 1);
    EXPECT_EQ(o->points, (std::vector<Vec3f>{{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}}));
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{{0, 3, 1, 1}}));
    EXPECT_EQ(static_cast<UVWTag*>(o->tag(TAG_UVW))->data,
              (std::vector<UVWRow>{{{1, 0, 0}, {2, 0, 0}, {1, 1, 0}, {1, 1, 0}}}));
    EXPECT_EQ(static_cast<NormalTag*>(o->tag(TAG_NORMALS))->data[0].v[5], -32000);
    EXPECT_EQ(members(static_cast<SelectionTag*>(o->tag(TAG_POLYGON_SELECTION))->set), (std::vector<int>{0}));
    EXPECT_EQ(members(static_cast<SelectionTag*>(o->tag(TAG_POINT_SELECTION))->set), (std::vector<int>{3}));
    EXPECT_EQ(static_cast<FloatMapTag*>(o->tag(TAG_FLOAT_MAP))->data, (std::vector<float>{1.5f, 2.5f, 3.5f, 4.5f}));
    EXPECT_EQ(members(o->pointSelection), (std::vector<int>{0}));
    EXPECT_EQ(members(o->hiddenPoints), (std::vector<int>{2}));
    EXPECT_EQ(members(o->polygonSelection), std::vector<int>{});
    EXPECT_EQ(members(o->hiddenPolygons), (std::vector<int>{0}));
}

TEST(PolygonObjectArrays, SameStateAsSeesEveryPartOfTheState) {
    std::unique_ptr<PolygonObject> o = makeTaggedMesh();
    const std::unique_ptr<Object> saved = o->cloneAlone();
    ASSERT_TRUE(o->sameStateAs(*saved));
    ASSERT_TRUE(saved->sameStateAs(*o));

    auto* original = static_cast<PolygonObject*>(saved.get());
    auto check = [&](const char* what, auto&& change) {
        std::unique_ptr<Object> copy = original->cloneAlone();
        auto* p = static_cast<PolygonObject*>(copy.get());
        change(*p);
        EXPECT_FALSE(p->sameStateAs(*original)) << what;
        EXPECT_FALSE(original->sameStateAs(*p)) << what;
    };
    check("point", [](PolygonObject& p) { p.points[2].z = 1; });
    check("polygon", [](PolygonObject& p) { p.polygons[1].c = 3; });
    check("point selection", [](PolygonObject& p) { p.pointSelection.select(0); });
    check("polygon selection", [](PolygonObject& p) { p.polygonSelection.select(1); });
    check("hidden points", [](PolygonObject& p) { p.hiddenPoints.deselect(3); });
    check("hidden polygons", [](PolygonObject& p) { p.hiddenPolygons.select(0); });
    check("uv row", [](PolygonObject& p) { static_cast<UVWTag*>(p.tag(TAG_UVW))->data[1].d.x = 3; });
    check("normal row", [](PolygonObject& p) { static_cast<NormalTag*>(p.tag(TAG_NORMALS))->data[0].v[11] = 1; });
    check("group", [](PolygonObject& p) { static_cast<SelectionTag*>(p.tag(TAG_POLYGON_SELECTION))->set.select(0); });
    check("weights", [](PolygonObject& p) { static_cast<FloatMapTag*>(p.tag(TAG_FLOAT_MAP))->data[4] = 0; });
    check("smoothing", [](PolygonObject& p) {
        static_cast<SmoothingTag*>(p.tag(TAG_SMOOTHING))->data.setReal(SMOOTHING_ANGLE, 0.5);
    });
    check("tag name", [](PolygonObject& p) { p.tag(TAG_UVW)->setName("other"); });
    check("tag removed", [](PolygonObject& p) { p.removeTag(p.tag(TAG_FLOAT_MAP)); });
    check("tag added", [](PolygonObject& p) { p.addTag(std::make_unique<FloatMapTag>("more")); });
    check("name", [](PolygonObject& p) { p.setName("other"); });
    check("matrix", [](PolygonObject& p) { p.localMatrix.v3.z = 2; });
    check("visibility", [](PolygonObject& p) { p.visible = false; });
    check("resized", [](PolygonObject& p) { p.resize(6, 2); });
}

// --- undo -----------------------------------------------------------------------------------------

TEST(DocumentUndo, ObjectChangeRestoresTheObjectBitForBit) {
    Document doc;
    auto* o = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh()));
    const std::unique_ptr<Object> saved = o->cloneAlone();

    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, o));
    ASSERT_TRUE(o->resize(9, 4));
    o->points[0] = {5, 5, 5};
    o->points[8] = {7, 7, 7};
    o->polygons[0] = {3, 2, 1, 0};
    o->polygons[3] = {5, 6, 7, 8};
    o->pointSelection.selectAll();
    o->polygonSelection.deselectAll();
    o->hiddenPoints.deselectAll();
    o->hiddenPolygons.select(3);
    static_cast<UVWTag*>(o->tag(TAG_UVW))->data[1].a = {9, 9, 9};
    static_cast<NormalTag*>(o->tag(TAG_NORMALS))->data[0].v[0] = 123;
    static_cast<SelectionTag*>(o->tag(TAG_POLYGON_SELECTION))->set.selectAll();
    static_cast<SelectionTag*>(o->tag(TAG_POINT_SELECTION))->set.deselectAll();
    static_cast<FloatMapTag*>(o->tag(TAG_FLOAT_MAP))->data[8] = 8;
    static_cast<SmoothingTag*>(o->tag(TAG_SMOOTHING))->data.setBool(SMOOTHING_ANGLE_LIMIT, false);
    o->removeTag(o->tag(TAG_NORMALS));
    o->addTag(std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "new group"));
    o->setName("changed");
    o->localMatrix.off = {0, 0, 0};
    o->visible = false;
    ASSERT_TRUE(doc.endUndo());
    ASSERT_FALSE(o->sameStateAs(*saved));
    EXPECT_EQ(doc.undoDepth(), 1);

    const int updates = o->updateCount();
    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(o->sameStateAs(*saved));
    EXPECT_EQ(o->pointCount(), 5);
    EXPECT_EQ(o->polygonCount(), 2);
    EXPECT_EQ(o->tags().size(), 6u);
    EXPECT_EQ(o->tag(TAG_NORMALS, 0)->type(), TAG_NORMALS);
    EXPECT_EQ(o->name(), "mesh");
    EXPECT_GT(o->updateCount(), updates);
    EXPECT_EQ(doc.undoDepth(), 0);
    // The object itself stays where it was in the document.
    EXPECT_EQ(doc.firstObject(), o);
    EXPECT_EQ(o->document(), &doc);
    EXPECT_FALSE(doc.undoLast());
}

TEST(DocumentUndo, ShrinkingResizeIsUndoneToo) {
    Document doc;
    auto* o = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh()));
    const std::unique_ptr<Object> saved = o->cloneAlone();
    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, o));
    ASSERT_TRUE(o->resize(0, 0));
    ASSERT_TRUE(doc.endUndo());
    EXPECT_EQ(o->tag(TAG_FLOAT_MAP)->elementCount(), 0);
    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(o->sameStateAs(*saved));
    EXPECT_EQ(static_cast<FloatMapTag*>(o->tag(TAG_FLOAT_MAP))->data, (std::vector<float>{0.5f, 1.5f, 2.5f, 3.5f, 4.5f}));
}

TEST(DocumentUndo, TheFirstSnapshotOfAStepWins) {
    Document doc;
    auto* o = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh()));
    const std::unique_ptr<Object> saved = o->cloneAlone();
    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, o));
    o->points[1] = {8, 8, 8};
    // A second snapshot of the same object in the same step does not replace the first.
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, o));
    o->points[2] = {9, 9, 9};
    ASSERT_TRUE(doc.endUndo());
    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(o->sameStateAs(*saved));
}

TEST(DocumentUndo, NestedStepsMakeOneStepRestoringEveryObject) {
    Document doc;
    auto* a = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh("a")));
    auto* b = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh("b"), a));
    auto* untouched = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh("c")));
    const std::unique_ptr<Object> savedA = a->cloneAlone();
    const std::unique_ptr<Object> savedB = b->cloneAlone();

    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, a));
    a->points[0] = {-1, -1, -1};
    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, b));
    b->resize(2, 1);
    static_cast<SelectionTag*>(b->tag(TAG_POINT_SELECTION))->set.selectAll();
    ASSERT_TRUE(doc.endUndo());
    // Still inside the outer step: undo is refused.
    EXPECT_FALSE(doc.undoLast());
    a->polygons.clear();
    // Changed without a snapshot: undo will not reach it.
    untouched->points[0] = {4, 4, 4};
    ASSERT_TRUE(doc.endUndo());
    EXPECT_EQ(doc.undoDepth(), 1);

    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(a->sameStateAs(*savedA));
    EXPECT_TRUE(b->sameStateAs(*savedB));
    EXPECT_EQ(untouched->points[0], (Vec3f{4, 4, 4}));
    EXPECT_EQ(b->parent(), a);
}

TEST(DocumentUndo, TwoObjectsInOneStepAndStepsInOrder) {
    Document doc;
    auto* a = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh("a")));
    auto* b = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh("b")));
    const std::unique_ptr<Object> a0 = a->cloneAlone();
    const std::unique_ptr<Object> b0 = b->cloneAlone();

    // Step 1: both objects.
    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, a));
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, b));
    a->points[4] = {1, 1, 1};
    b->polygonSelection.selectAll();
    ASSERT_TRUE(doc.endUndo());
    const std::unique_ptr<Object> a1 = a->cloneAlone();
    const std::unique_ptr<Object> b1 = b->cloneAlone();

    // Step 2: only b.
    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, b));
    b->resize(7, 3);
    ASSERT_TRUE(doc.endUndo());
    EXPECT_EQ(doc.undoDepth(), 2);

    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(a->sameStateAs(*a1));
    EXPECT_TRUE(b->sameStateAs(*b1));
    EXPECT_FALSE(b->sameStateAs(*b0));
    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(a->sameStateAs(*a0));
    EXPECT_TRUE(b->sameStateAs(*b0));
    EXPECT_EQ(doc.undoDepth(), 0);
}

TEST(DocumentUndo, RefusesOutsideAStepAndOtherKinds) {
    Document doc;
    auto* o = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh()));
    EXPECT_FALSE(doc.addUndo(UNDO_OBJECT_CHANGE, o));
    EXPECT_FALSE(doc.endUndo());
    EXPECT_FALSE(doc.undoLast());
    EXPECT_EQ(doc.undoDepth(), 0);

    ASSERT_TRUE(doc.startUndo());
    EXPECT_FALSE(doc.addUndo(40, o));
    EXPECT_FALSE(doc.addUndo(UNDO_OBJECT_CHANGE, nullptr));
    ASSERT_TRUE(doc.endUndo());
    // A step without snapshots is not kept.
    EXPECT_EQ(doc.undoDepth(), 0);
    EXPECT_FALSE(doc.undoLast());
}

TEST(DocumentUndo, ADocumentWithoutHistoryTakesTheStepsButKeepsNoCopy) {
    // A one-shot run's document: the module's calls succeed as before, nothing is copied, and
    // there is nothing to take back afterwards (the change stays).
    Document doc;
    doc.keepUndoHistory(false);
    auto* o = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh()));
    ASSERT_TRUE(doc.startUndo());
    EXPECT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, o));
    EXPECT_FALSE(doc.addUndo(40, o));
    o->points[1] = {8, 8, 8};
    ASSERT_TRUE(doc.endUndo());
    EXPECT_EQ(doc.undoDepth(), 0);
    EXPECT_FALSE(doc.undoLast());
    EXPECT_EQ(o->points[1].x, 8);
    // Turned back on, the next step is kept and taken back as always.
    doc.keepUndoHistory(true);
    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, o));
    o->points[1] = {9, 9, 9};
    ASSERT_TRUE(doc.endUndo());
    ASSERT_TRUE(doc.undoLast());
    EXPECT_EQ(o->points[1].x, 8);
}

TEST(DocumentUndo, RemovedObjectsAreLeftOutOfUndo) {
    Document doc;
    auto* keep = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh("keep")));
    Object* group = doc.insert(std::make_unique<Object>(OBJECT_GROUP, "group"));
    auto* inside = static_cast<PolygonObject*>(doc.insert(makeTaggedMesh("inside"), group));
    const std::unique_ptr<Object> saved = keep->cloneAlone();

    ASSERT_TRUE(doc.startUndo());
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, keep));
    ASSERT_TRUE(doc.addUndo(UNDO_OBJECT_CHANGE, inside));
    keep->points.clear();
    inside->points.clear();
    ASSERT_TRUE(doc.endUndo());
    // The group goes, and with it the object below it whose snapshot the step holds.
    doc.remove(group).reset();

    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(keep->sameStateAs(*saved));
    EXPECT_EQ(doc.allObjects(), (std::vector<Object*>{keep}));
}
