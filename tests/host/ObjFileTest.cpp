#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "host/ObjFile.h"
#include "host/Threads.h"
#include "tests/support/FileText.h"

using namespace host;
namespace fs = std::filesystem;

namespace {

using testsupport::readText;

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

class ObjFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "objtest-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string file(const std::string& name, const std::string& text) {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // Reads `text` as mesh.obj into `doc`; returns the polygon objects read.
    std::vector<PolygonObject*> load(const std::string& text, const std::string& name = "mesh.obj") {
        std::vector<Object*> loaded;
        std::string error;
        const std::string path = file(name, text);
        EXPECT_TRUE(readObj(path, doc, &loaded, &error)) << error;
        std::vector<PolygonObject*> out;
        for (Object* o : loaded) {
            auto* p = dynamic_cast<PolygonObject*>(o);
            EXPECT_NE(p, nullptr);
            out.push_back(p);
        }
        return out;
    }

    // Expects reading `text` to fail with exactly `expected` after "<path>:".
    void expectError(const std::string& text, const std::string& expected) {
        const std::string path = file("bad.obj", text);
        Document d;
        std::vector<Object*> loaded{nullptr};
        std::string error;
        EXPECT_FALSE(readObj(path, d, &loaded, &error)) << text;
        EXPECT_EQ(error, path + ":" + expected) << text;
        EXPECT_TRUE(d.roots().empty());
        EXPECT_TRUE(loaded.empty());
    }

    // Writes the objects and reads them back into a fresh document; each must have the same state.
    void expectRoundTrip(const std::vector<PolygonObject*>& objects, const std::string& name = "copy.obj") {
        std::vector<const Object*> list(objects.begin(), objects.end());
        const std::string path = folder + "/" + name;
        std::string error;
        ASSERT_TRUE(writeObj(path, list, &error)) << error;
        Document again;
        std::vector<Object*> loaded;
        ASSERT_TRUE(readObj(path, again, &loaded, &error)) << error;
        ASSERT_EQ(loaded.size(), objects.size());
        for (size_t i = 0; i < objects.size(); ++i) {
            EXPECT_TRUE(objects[i]->sameStateAs(*loaded[i])) << "object " << i << " '" << objects[i]->name() << "'";
            auto* p = dynamic_cast<PolygonObject*>(loaded[i]);
            ASSERT_NE(p, nullptr);
            // Where they differ, say where.
            if (uvw(objects[i]) && uvw(p)) {
                const auto &x = uvw(objects[i])->data, &y = uvw(p)->data;
                ASSERT_EQ(x.size(), y.size());
                for (size_t k = 0; k < x.size(); ++k) ASSERT_EQ(x[k], y[k]) << "UVW row " << k;
            }
            if (normals(objects[i]) && normals(p)) {
                const auto &x = normals(objects[i])->data, &y = normals(p)->data;
                ASSERT_EQ(x.size(), y.size());
                for (size_t k = 0; k < x.size(); ++k)
                    for (int c = 0; c < 12; ++c) ASSERT_EQ(x[k].v[c], y[k].v[c]) << "normal row " << k << " value " << c;
            }
            ASSERT_EQ(p->points.size(), objects[i]->points.size());
            for (size_t k = 0; k < p->points.size(); ++k) {
                EXPECT_EQ(bits(p->points[k].x), bits(objects[i]->points[k].x));
                EXPECT_EQ(bits(p->points[k].y), bits(objects[i]->points[k].y));
                EXPECT_EQ(bits(p->points[k].z), bits(objects[i]->points[k].z));
            }
        }
    }

    static const UVWTag* uvw(const Object* o) { return dynamic_cast<const UVWTag*>(o->tag(TAG_UVW)); }
    static const NormalTag* normals(const Object* o) { return dynamic_cast<const NormalTag*>(o->tag(TAG_NORMALS)); }
    static const SelectionTag* group(const Object* o, int i) {
        return dynamic_cast<const SelectionTag*>(o->tag(TAG_POLYGON_SELECTION, i));
    }
    static std::vector<int> members(const SelectionTag* t) {
        std::vector<int> out;
        for (int i = 0; i < t->set.size(); ++i)
            if (t->set.isSelected(i)) out.push_back(i);
        return out;
    }

    std::string folder;
    Document doc;
};

const char* kSquareAndTriangle =
    "# two faces sharing an edge\n"
    "v 0 0 0\n"
    "v 1 0 0\n"
    "v 1 1 0\n"
    "v 0 1 0\n"
    "v 2 0.5 -0.25\n"
    "f 1 2 3 4\n"
    "f 2 5 3\n";

}  // namespace

// ----------------------------------------------------------------------------------------------------
// Reading

TEST_F(ObjFileTest, SharedPointsQuadsAndTriangles) {
    auto objs = load(kSquareAndTriangle);
    ASSERT_EQ(objs.size(), 1u);
    PolygonObject* o = objs[0];
    EXPECT_EQ(o->name(), "mesh");
    EXPECT_EQ(doc.roots().size(), 1u);
    EXPECT_EQ(doc.firstObject(), o);
    ASSERT_EQ(o->points.size(), 5u);
    EXPECT_EQ(o->points[1], (Vec3f{1, 0, 0}));
    EXPECT_EQ(o->points[4], (Vec3f{2, 0.5f, -0.25f}));
    ASSERT_EQ(o->polygons.size(), 2u);
    EXPECT_EQ(o->polygons[0], (Polygon{0, 1, 2, 3}));
    EXPECT_EQ(o->polygons[1], (Polygon{1, 4, 2, 2}));
    EXPECT_TRUE(o->polygons[1].isTriangle());
    // No vt, vn or g: no tags at all; the selection sets follow the arrays.
    EXPECT_TRUE(o->tags().empty());
    EXPECT_EQ(o->pointSelection.size(), 5);
    EXPECT_EQ(o->polygonSelection.size(), 2);
}

TEST_F(ObjFileTest, NumberFormsAreReadAsNearestFloat) {
    auto objs = load(
        "v 0.1 -2.5e-3 +3\n"
        "v .5 1. 1E2\n"
        "v\t-0 16777217 3.4028234e38\n"
        "f 1 2 3\n");
    ASSERT_EQ(objs.size(), 1u);
    const auto& p = objs[0]->points;
    EXPECT_EQ(bits(p[0].x), bits(0.1f));
    EXPECT_EQ(bits(p[0].y), bits(-2.5e-3f));
    EXPECT_EQ(p[0].z, 3.0f);
    EXPECT_EQ(p[1], (Vec3f{0.5f, 1.0f, 100.0f}));
    EXPECT_EQ(bits(p[2].x), bits(-0.0f));
    EXPECT_EQ(p[2].y, 16777216.0f);  // 2^24 + 1 rounds to even
    EXPECT_EQ(p[2].z, 3.4028234e38f);
}

TEST_F(ObjFileTest, TextureSeamKeepsBothCoordinatesOfAPoint) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\n"
        "vt 0 0\nvt 0.5 0\nvt 0.5 1\nvt 0 1\n"
        "vt 0.75 0\nvt 1 0\nvt 1 1\nvt 0.75 1 0.25\n"
        "vt 0.125\n"
        "f 1/1 2/2 3/3 4/4\n"
        "f 2/5 5/6 6/7 3/8\n"
        "f 1/9 2/2 4/4\n");
    ASSERT_EQ(objs.size(), 1u);
    PolygonObject* o = objs[0];
    EXPECT_EQ(o->points.size(), 6u);
    EXPECT_EQ(o->polygons[1], (Polygon{1, 4, 5, 2}));
    const UVWTag* t = uvw(o);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(o->tagCount(TAG_UVW), 1);
    ASSERT_EQ(t->data.size(), 3u);
    EXPECT_EQ(t->data[0], (UVWRow{{0, 0, 0}, {0.5f, 0, 0}, {0.5f, 1, 0}, {0, 1, 0}}));
    EXPECT_EQ(t->data[1], (UVWRow{{0.75f, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0.75f, 1, 0.25f}}));
    // Point 1 is on the seam: two faces, two different texture coordinates.
    EXPECT_EQ(o->polygons[0].b, 1);
    EXPECT_EQ(o->polygons[1].a, 1);
    EXPECT_NE(t->data[0].b, t->data[1].a);
    // A triangle repeats c as d; `vt u` alone has v = w = 0.
    EXPECT_EQ(t->data[2], (UVWRow{{0.125f, 0, 0}, {0.5f, 0, 0}, {0, 1, 0}, {0, 1, 0}}));
}

TEST_F(ObjFileTest, FacesWithoutTextureGetZeroUVsAndUnusedVtMakeNoTag) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "vt 0.25 0.5\nvt 0.75 0.5\nvt 0.5 1\n"
        "f 1 2 3\n"
        "f 1/1 3/2 4/3\n"
        "f 1/1 2 3/3\n");
    const UVWTag* t = uvw(objs[0]);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->data[0], UVWRow{});
    EXPECT_EQ(t->data[1], (UVWRow{{0.25f, 0.5f, 0}, {0.75f, 0.5f, 0}, {0.5f, 1, 0}, {0.5f, 1, 0}}));
    EXPECT_EQ(t->data[2], (UVWRow{{0.25f, 0.5f, 0}, {0, 0, 0}, {0.5f, 1, 0}, {0.5f, 1, 0}}));

    auto plain = load("v 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0.5 0.5\nvn 0 0 1\nf 1 2 3\n", "plain.obj");
    EXPECT_EQ(plain[0]->tagCount(TAG_UVW), 0);
    EXPECT_EQ(plain[0]->tagCount(TAG_NORMALS), 0);
}

TEST_F(ObjFileTest, NormalsAreUnitTimes32000) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "vn 0 0 2\n"      // (0, 0, 32000)
        "vn 1 1 0\n"      // 32000 / sqrt(2) = 22627.417
        "vn 3 4 0\n"      // (19200, 25600, 0)
        "vn -1 2 2\n"     // (-10666.67, 21333.33, 21333.33)
        "vn 0 0 0\n"      // stays zero
        "f 1//1 2//2 3//3 4//4\n"
        "f 1//5 2//3 3\n");
    const NormalTag* t = normals(objs[0]);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->data.size(), 2u);
    const NormalRow quad{{0, 0, 32000, 22627, 22627, 0, 19200, 25600, 0, -10667, 21333, 21333}};
    EXPECT_EQ(t->data[0], quad);
    // The triangle's d repeats c; a corner without a normal is zero.
    const NormalRow tri{{0, 0, 0, 19200, 25600, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(t->data[1], tri);
    EXPECT_EQ(objs[0]->tagCount(TAG_UVW), 0);
}

TEST_F(ObjFileTest, FullCornersCarryTextureAndNormal) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
        "vt 0 0\nvt 1 0\nvt 0 1\n"
        "vn 0 0 1\nvn 0 1 0\n"
        "f 1/1/1 2/2/2 3/3/1\n");
    const UVWTag* t = uvw(objs[0]);
    const NormalTag* n = normals(objs[0]);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(t->data[0], (UVWRow{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}}));
    EXPECT_EQ(n->data[0], (NormalRow{{0, 0, 32000, 0, 32000, 0, 0, 0, 32000, 0, 0, 32000}}));
    // UVW before normals, in the object's tag list.
    EXPECT_EQ(objs[0]->tags()[0]->type(), TAG_UVW);
    EXPECT_EQ(objs[0]->tags()[1]->type(), TAG_NORMALS);
}

TEST_F(ObjFileTest, GroupsBecomeNamedPolygonSelections) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "g rim\n"
        "f 1 2 3\n"
        "f 1 3 4\n"
        "g rim top\n"
        "f 1 2 4\n"
        "g\n"
        "f 2 3 4\n"
        "g top top\n"
        "f 1 2 3 4\n"
        "g default\n"
        "f 4 3 2\n"
        "g default side\n"
        "f 1 4 3\n");
    PolygonObject* o = objs[0];
    ASSERT_EQ(o->polygons.size(), 7u);
    ASSERT_EQ(o->tagCount(TAG_POLYGON_SELECTION), 3);
    EXPECT_EQ(group(o, 0)->name(), "rim");
    EXPECT_EQ(group(o, 1)->name(), "top");
    EXPECT_EQ(group(o, 2)->name(), "side");
    EXPECT_EQ(members(group(o, 0)), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(members(group(o, 1)), (std::vector<int>{2, 4}));
    EXPECT_EQ(members(group(o, 2)), (std::vector<int>{6}));
    EXPECT_EQ(group(o, 0)->set.size(), 7);
}

TEST_F(ObjFileTest, ObjectsGetCompactPointsInFileOrder) {
    auto objs = load(
        "v 0 0 0\n"    // 1
        "v 1 0 0\n"    // 2
        "v 1 1 0\n"    // 3
        "v 0 1 0\n"    // 4
        "v 5 5 5\n"    // 5, used by no face
        "o first\n"
        "f 1 2 3\n"
        "o second one \n"
        "v 2 0 0\n"    // 6
        "v 2 1 0\n"    // 7
        "f 6 7 3 2\n"
        "o empty\n");
    ASSERT_EQ(objs.size(), 2u);
    EXPECT_EQ(doc.roots().size(), 2u);
    EXPECT_EQ(objs[0]->name(), "first");
    EXPECT_EQ(objs[1]->name(), "second one");
    EXPECT_EQ(objs[0]->points, (std::vector<Vec3f>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}));
    EXPECT_EQ(objs[0]->polygons, (std::vector<Polygon>{{0, 1, 2, 2}}));
    // Points 2, 3, 6, 7 in the order of their index, though the face names 6 first.
    EXPECT_EQ(objs[1]->points, (std::vector<Vec3f>{{1, 0, 0}, {1, 1, 0}, {2, 0, 0}, {2, 1, 0}}));
    EXPECT_EQ(objs[1]->polygons, (std::vector<Polygon>{{2, 3, 1, 0}}));
}

TEST_F(ObjFileTest, SparseObjectPointsKeepIndexOrder) {
    // The object uses 3 of 40 points, far apart, named in falling order.
    std::string text;
    for (int i = 0; i < 40; ++i) text += "v " + std::to_string(i) + " 0 0\n";
    text += "o sparse\nf 40 21 1\nf 21 40 2\n";
    auto objs = load(text);
    ASSERT_EQ(objs.size(), 1u);
    EXPECT_EQ(objs[0]->points, (std::vector<Vec3f>{{0, 0, 0}, {1, 0, 0}, {20, 0, 0}, {39, 0, 0}}));
    EXPECT_EQ(objs[0]->polygons, (std::vector<Polygon>{{3, 2, 0, 0}, {2, 3, 1, 1}}));
}

TEST_F(ObjFileTest, FacesBeforeTheFirstObjectAreNamedAfterTheFile) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\n"
        "f 1 2 3\n"
        "o\n"
        "f 3 2 1\n"
        "o named\n"
        "f 1 3 2\n",
        "some.part.obj");
    ASSERT_EQ(objs.size(), 3u);
    EXPECT_EQ(objs[0]->name(), "some.part");
    EXPECT_EQ(objs[1]->name(), "some.part");
    EXPECT_EQ(objs[2]->name(), "named");
    EXPECT_EQ(objs[2]->polygons, (std::vector<Polygon>{{0, 2, 1, 1}}));
}

TEST_F(ObjFileTest, GroupMembershipCarriesAcrossObjects) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "g rim\n"
        "o a\n"
        "f 1 2 3\n"
        "o b\n"
        "f 1 3 4\n"
        "o c\n"
        "g other\n"
        "f 2 3 4\n"
        "o d\n"
        "g kept\n"
        "g\n"
        "f 1 2 4\n");
    ASSERT_EQ(objs.size(), 4u);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(objs[i]->tagCount(TAG_POLYGON_SELECTION), 1);
        EXPECT_EQ(group(objs[i], 0)->name(), "rim");
        EXPECT_EQ(members(group(objs[i], 0)), (std::vector<int>{0}));
    }
    ASSERT_EQ(objs[2]->tagCount(TAG_POLYGON_SELECTION), 1);
    EXPECT_EQ(group(objs[2], 0)->name(), "other");
    // A group named inside an object is kept even without members.
    ASSERT_EQ(objs[3]->tagCount(TAG_POLYGON_SELECTION), 1);
    EXPECT_EQ(group(objs[3], 0)->name(), "kept");
    EXPECT_EQ(group(objs[3], 0)->set.count(), 0);
}

TEST_F(ObjFileTest, LargePolygonsAreSplitIntoQuadFans) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 2 1 0\nv 1 2 0\nv 0 2 0\nv -1 1 0\nv -1 0.5 0\n"
        "vt 0 0\nvt 1 0\nvt 2 1\nvt 1 2\nvt 0 2\nvt -1 1\n"
        "g big\n"
        "f 1/1 2/2 3/3 4/4 5/5\n"
        "f 1/1 2/2 3/3 4/4 5/5 6/6\n"
        "g\n"
        "f 1 2 3 4 5 6 7\n"
        "f 1 2 3 4 5 6 7 1\n");
    PolygonObject* o = objs[0];
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{
                               {0, 1, 2, 3}, {0, 3, 4, 4},                 // pentagon
                               {0, 1, 2, 3}, {0, 3, 4, 5},                 // hexagon
                               {0, 1, 2, 3}, {0, 3, 4, 5}, {0, 5, 6, 6},   // heptagon
                               {0, 1, 2, 3}, {0, 3, 4, 5}, {0, 5, 6, 0},   // octagon
                           }));
    const UVWTag* t = uvw(o);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->data[1], (UVWRow{{0, 0, 0}, {1, 2, 0}, {0, 2, 0}, {0, 2, 0}}));
    EXPECT_EQ(t->data[3], (UVWRow{{0, 0, 0}, {1, 2, 0}, {0, 2, 0}, {-1, 1, 0}}));
    EXPECT_EQ(t->data[6], UVWRow{});
    // Every piece of a split face stays in the face's groups.
    EXPECT_EQ(members(group(o, 0)), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(ObjFileTest, NegativeIndicesCountBackFromTheLastDefined) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\n"
        "vt 0 0\nvt 1 0\nvt 1 1\n"
        "vn 0 0 1\n"
        "f -3/-3/-1 -2/-2/-1 -1/-1/-1\n"
        "v 0 1 0\n"
        "f -4 -2 -1\n");
    PolygonObject* o = objs[0];
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{{0, 1, 2, 2}, {0, 2, 3, 3}}));
    EXPECT_EQ(uvw(o)->data[0], (UVWRow{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 0}}));
    EXPECT_EQ(normals(o)->data[0].v[2], 32000);
    EXPECT_EQ(normals(o)->data[1], NormalRow{});
}

TEST_F(ObjFileTest, OtherStatementsCommentsAndLineFormsAreTolerated) {
    auto objs = load(
        "# comment\r\n"
        "mtllib scene.mtl\r\n"
        "\r\n"
        "   v 0 0 0 1.0   # w is ignored\r\n"
        "v 1 0 0 0.5 0.5 0.5\r\n"
        "v\t1\t1\t0\r\n"
        "v 0 \\\n 1 0\r\n"
        "vp 0.5 0.5\n"
        "s 1\n"
        "usemtl red\n"
        "l 1 2\n"
        "p 3\n"
        "curv 0 1 1 2 \\\n 3 4\n"
        "f 1 2 \\\r\n  3 4 # quad\n"
        "s off\n");
    ASSERT_EQ(objs.size(), 1u);
    EXPECT_EQ(objs[0]->points, (std::vector<Vec3f>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}));
    EXPECT_EQ(objs[0]->polygons, (std::vector<Polygon>{{0, 1, 2, 3}}));
    EXPECT_TRUE(objs[0]->tags().empty());
}

TEST_F(ObjFileTest, ReadingAppendsToTheDocumentAndListsOnlyTheNewObjects) {
    doc.insert(std::make_unique<PolygonObject>("already"));
    std::vector<Object*> loaded{nullptr, nullptr};
    std::string error;
    ASSERT_TRUE(readObj(file("m.obj", kSquareAndTriangle), doc, &loaded, &error)) << error;
    ASSERT_EQ(loaded.size(), 1u);
    ASSERT_EQ(doc.roots().size(), 2u);
    EXPECT_EQ(doc.roots()[0]->name(), "already");
    EXPECT_EQ(doc.roots()[1].get(), loaded[0]);
    EXPECT_EQ(loaded[0]->name(), "m");
    // The list and the error are optional.
    EXPECT_TRUE(readObj(file("n.obj", kSquareAndTriangle), doc, nullptr, nullptr));
    EXPECT_EQ(doc.roots().size(), 3u);
}

TEST_F(ObjFileTest, AFifoIsRefusedAtOnceInsteadOfWaitingForAWriter) {
    // Opening a FIFO without a writer would wait forever: it is opened without blocking and refused.
    const std::string path = folder + "/pipe.obj";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::vector<Object*> loaded;
    std::string error;
    EXPECT_FALSE(readObj(path, doc, &loaded, &error));
    EXPECT_EQ(error, path + ": cannot read: it is a FIFO, not a regular file");
    EXPECT_TRUE(doc.roots().empty());
}

TEST_F(ObjFileTest, SampleMeshHasSeamsGroupsAndNormals) {
    std::vector<Object*> loaded;
    std::string error;
    ASSERT_TRUE(readObj(VEXLOR_SOURCE_DIR "/samples/sample.obj", doc, &loaded, &error)) << error;
    ASSERT_EQ(loaded.size(), 1u);
    auto* o = dynamic_cast<PolygonObject*>(loaded[0]);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->name(), "torus");
    EXPECT_EQ(o->points.size(), 72u * 48u);
    ASSERT_EQ(o->polygons.size(), 72u * 48u);
    for (const Polygon& p : o->polygons) EXPECT_FALSE(p.isTriangle());
    const UVWTag* t = uvw(o);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(normals(o), nullptr);
    // The first and the last polygon of the first row share point 0, at u = 0 and u = 1.
    EXPECT_EQ(o->polygons[0].a, 0);
    EXPECT_EQ(o->polygons[71].b, 0);
    EXPECT_EQ(t->data[0].a.x, 0.0f);
    EXPECT_EQ(t->data[71].b.x, 1.0f);
    ASSERT_EQ(o->tagCount(TAG_POLYGON_SELECTION), 2);
    EXPECT_EQ(group(o, 0)->name(), "rim");
    EXPECT_EQ(group(o, 1)->name(), "hole");
    EXPECT_EQ(group(o, 0)->set.count(), 8 * 72);
    EXPECT_EQ(group(o, 1)->set.count(), 8 * 72);
    EXPECT_TRUE(group(o, 0)->set.isSelected(0));
    EXPECT_FALSE(group(o, 0)->set.isSelected(4 * 72));
    expectRoundTrip({o});
}

// ----------------------------------------------------------------------------------------------------
// Errors

TEST_F(ObjFileTest, IndexErrorsNameFileLineAndIndex) {
    const std::string pts = "v 0 0 0\nv 1 0 0\nv 1 1 0\n";
    expectError(pts + "f 1 2 4\n", "4: point index 4 out of range (3 points defined)");
    expectError(pts + "f 1 0 3\n", "4: point index 0 out of range (3 points defined)");
    expectError(pts + "f 1 2 -4\n", "4: point index -4 out of range (3 points defined)");
    expectError(pts + "f 1 2 99999999999999999999\n",
                "4: point index 99999999999999999999 out of range (3 points defined)");
    // Leading zeros count for nothing, however many: more than a long long's digits still name point 3.
    const std::vector<PolygonObject*> padded =
        load(pts + "f 1 2 0000000000000000000000003\nf 1 -000000000000000000000002 3\n");
    ASSERT_EQ(padded.size(), 1u);
    EXPECT_EQ(padded[0]->polygons[0].c, 2);
    EXPECT_EQ(padded[0]->polygons[1].b, 1);
    expectError(pts + "vt 0 0\n\nf 1/1 2/1 3/1\nf 1/1 2/2 3/3\n",
                "7: texture index 2 out of range (1 texture coordinates defined)");
    expectError(pts + "f 1//1 2//1 3//1\n", "4: normal index 1 out of range (0 normals defined)");
    // Forward references are refused: the point comes after the face.
    expectError("v 0 0 0\nv 1 0 0\nf 1 2 3\nv 1 1 0\n", "3: point index 3 out of range (2 points defined)");
}

TEST_F(ObjFileTest, NumberErrorsNameTheText) {
    expectError("v 1 2 x\nf 1 1 1\n", "1: malformed number 'x'");
    expectError("# c\nv 1.0abc 2 3\n", "2: malformed number '1.0abc'");
    expectError("v 1 2\n", "1: expected 3 coordinates");
    expectError("v 0 0 0\nvt\n", "2: expected a texture coordinate");
    expectError("vn 0 0 1\nvn 0 1\n", "2: expected 3 normal components");
    expectError("v nan 0 0\n", "1: non-finite coordinate 'nan'");
    expectError("v 0 -inf 0\n", "1: non-finite coordinate '-inf'");
    expectError("v 1e39 0 0\n", "1: number '1e39' is out of single-precision range (largest about 3.4e38)");
    expectError("v 0 1e308 0\n", "1: number '1e308' is out of single-precision range (largest about 3.4e38)");
    expectError("v 0 0 -4e38\n", "1: number '-4e38' is out of single-precision range (largest about 3.4e38)");
    expectError("v 0 0 0\nvt 0.5 infinity\n", "2: non-finite coordinate 'infinity'");
    expectError("vn 0 0 1e999\n", "1: number '1e999' is out of single-precision range (largest about 3.4e38)");
    expectError("v 0 0 0\nvt 0.5 NaN\n", "2: non-finite coordinate 'NaN'");
    expectError("v 0 0 0\r\nv 1 1 1\r\nv 1 2 3e\r\n", "3: malformed number '3e'");
}

TEST_F(ObjFileTest, FaceErrors) {
    const std::string pts = "v 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvn 0 0 1\n";
    expectError(pts + "f 1 2\n", "6: face with fewer than 3 corners");
    expectError(pts + "f\n", "6: face with fewer than 3 corners");
    expectError(pts + "f 1 2 3\nf # nothing\n", "7: face with fewer than 3 corners");
    expectError(pts + "f 1/1/1/1 2 3\n", "6: unknown face corner '1/1/1/1'");
    expectError(pts + "f a b c\n", "6: unknown face corner 'a'");
    expectError(pts + "f 1// 2// 3//\n", "6: unknown face corner '1//'");
    expectError(pts + "f 1/ 2/ 3/\n", "6: unknown face corner '1/'");
    expectError(pts + "f 1/1/ 2 3\n", "6: unknown face corner '1/1/'");
    expectError(pts + "f 1.0 2 3\n", "6: unknown face corner '1.0'");
    // The line of a statement continued over several lines is where it began.
    expectError(pts + "f 1 \\\n 2 \\\n 7\n", "6: point index 7 out of range (3 points defined)");
    expectError(pts + "f 1 \\\n 2 \\\n 3\nf 9 1 2\n", "9: point index 9 out of range (3 points defined)");
}

TEST_F(ObjFileTest, FileErrors) {
    Document d;
    std::vector<Object*> loaded;
    std::string error;
    const std::string missing = folder + "/missing.obj";
    EXPECT_FALSE(readObj(missing, d, &loaded, &error));
    EXPECT_EQ(error, missing + ": no such file");
    const std::string empty = file("empty.obj", "");
    EXPECT_FALSE(readObj(empty, d, &loaded, &error));
    EXPECT_EQ(error, empty + ": file is empty");
    EXPECT_FALSE(readObj(folder, d, &loaded, &error));
    EXPECT_EQ(error.rfind(folder + ": cannot read", 0), 0u) << error;
    const std::string pointsOnly = file("points.obj", "# only points\nv 0 0 0\nv 1 0 0\nvt 0 0\ng g1\n");
    EXPECT_FALSE(readObj(pointsOnly, d, &loaded, &error));
    EXPECT_EQ(error, pointsOnly + ": no polygons");
    const std::string comments = file("comments.obj", "# nothing\n\n   \n");
    EXPECT_FALSE(readObj(comments, d, &loaded, &error));
    EXPECT_EQ(error, comments + ": no polygons");
    EXPECT_TRUE(d.roots().empty());
    EXPECT_TRUE(loaded.empty());
}

TEST_F(ObjFileTest, AByteOrderMarkIsSkipped) {
    // Without the skip, the first statement would read as "\xEF\xBB\xBFv" and be dropped.
    const std::string path = file("bom.obj", "\xEF\xBB\xBFv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    std::vector<Object*> loaded;
    std::string error;
    ASSERT_TRUE(readObj(path, doc, &loaded, &error)) << error;
    auto* o = dynamic_cast<PolygonObject*>(loaded.at(0));
    ASSERT_EQ(o->points.size(), 3u);
    EXPECT_EQ(o->points[0], (Vec3f{0, 0, 0}));
    EXPECT_EQ(o->polygons[0], (Polygon{0, 1, 2, 2}));
}

TEST_F(ObjFileTest, DevicesAreRefusedInsteadOfReadForever) {
    std::vector<Object*> loaded;
    std::string error;
    EXPECT_FALSE(readObj("/dev/zero", doc, &loaded, &error));
    EXPECT_EQ(error, "/dev/zero: cannot read: it is a device, not a regular file");
    EXPECT_FALSE(readObj("/dev/null", doc, &loaded, &error));
    EXPECT_EQ(error, "/dev/null: cannot read: it is a device, not a regular file");
    EXPECT_TRUE(doc.roots().empty());
}

TEST_F(ObjFileTest, ErrorAfterGoodObjectsAddsNothing) {
    doc.insert(std::make_unique<PolygonObject>("before"));
    std::vector<Object*> loaded;
    std::string error;
    const std::string path = file("late.obj", std::string(kSquareAndTriangle) + "o second\nf 1 2 3\nf 1 2 x\n");
    EXPECT_FALSE(readObj(path, doc, &loaded, &error));
    EXPECT_EQ(error, path + ":11: unknown face corner 'x'");
    EXPECT_EQ(doc.roots().size(), 1u);
    EXPECT_TRUE(loaded.empty());
}

// A big file is read in pieces on several threads: the objects, their polygons, UVs and normals,
// and the first error's message must be those of the same file read in one go. The file starts with
// an object name, has textures and normals only in its last piece (the rows before are filled in),
// negative indices, fans, comments and indented lines.
TEST_F(ObjFileTest, BigFilesReadInPiecesAsInOneGo) {
    std::string text = "o big\n";
    int points = 0;
    auto add = [&](const std::string& line) { text += line; };
    for (int row = 0; text.size() < (size_t{13} << 20); ++row) {
        for (int k = 0; k < 200; ++k) add("v " + std::to_string(k * 0.25) + " " + std::to_string(row * 0.5) + " 0.125\n");
        points += 200;
        if (row == 0) continue;
        const bool textured = text.size() > (size_t{10} << 20);  // in the last piece only
        if (textured) add("vt 0.5 0.25\nvn 0 0 1\n");
        for (int k = 0; k + 1 < 200; ++k) {
            const int a = points - 400 + k + 1, b = a + 1, c = a + 201, d = a + 200;
            if (k % 50 == 7) add("  f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " -2 -" +
                                 std::to_string(points - d + 1) + " # a fan\n");
            else if (textured) add("f " + std::to_string(a) + "/1/1 " + std::to_string(b) + "/1/1 " + std::to_string(c) + "/-1/-1\n");
            else add("f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " + std::to_string(d) + "\n");
        }
        if (row % 40 == 0) add("# row " + std::to_string(row) + "\n");
    }
    auto read = [&](const std::string& body, int threads, std::string& error) {
        host::setWorkerThreadCount(threads);
        auto d = std::make_unique<Document>();
        std::vector<Object*> loaded;
        error.clear();
        readObj(file("big.obj", body), *d, &loaded, &error);
        host::setWorkerThreadCount(0);
        return std::make_pair(std::move(d), loaded);
    };
    std::string oneError, piecesError;
    const auto one = read(text, 1, oneError);
    const auto pieces = read(text, 3, piecesError);
    ASSERT_EQ(oneError, "");
    ASSERT_EQ(piecesError, "");
    ASSERT_EQ(one.second.size(), 1u);
    ASSERT_EQ(pieces.second.size(), 1u);
    const auto* a = dynamic_cast<const PolygonObject*>(one.second[0]);
    const auto* b = dynamic_cast<const PolygonObject*>(pieces.second[0]);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name(), "big");
    EXPECT_TRUE(a->sameStateAs(*b));
    EXPECT_EQ(a->polygons, b->polygons);
    ASSERT_NE(uvw(b), nullptr);
    EXPECT_EQ(uvw(a)->data, uvw(b)->data);
    EXPECT_EQ(uvw(b)->data.front(), UVWRow{});  // before the first textured face
    EXPECT_NE(uvw(b)->data.back(), UVWRow{});
    ASSERT_NE(normals(b), nullptr);
    EXPECT_EQ(normals(b)->data.back().v[2], 32000);

    // The first error in the file's order, with its line and the counts before it.
    const std::string late = text + "f 1 2 -" + std::to_string(points + 1) + "\n";
    const std::string expected = ":" + std::to_string(std::count(text.begin(), text.end(), '\n') + 1) + ": point index -" + std::to_string(points + 1) +
                                 " out of range (" + std::to_string(points) + " points defined)";
    for (const std::string& body : {late, "v 0 0 0\nf 1 1 x\n" + late}) {
        read(body, 1, oneError);
        read(body, 3, piecesError);
        EXPECT_EQ(piecesError, oneError);
        EXPECT_NE(oneError, "");
    }
    EXPECT_EQ(piecesError.substr(piecesError.find(":2:")), ":2: unknown face corner 'x'");
    read(late, 3, piecesError);
    EXPECT_EQ(piecesError.substr(piecesError.rfind(':', piecesError.find(": point") - 1)), expected);
}

TEST_F(ObjFileTest, GarbageNeverCrashes) {
    // Random bytes drawn from OBJ's own alphabet: every file either reads or fails with a message.
    std::mt19937 rng(7);
    const std::string alphabet = "vtnfgo/ -+.0123456789e#\\\r\n\n\n\tnaix";
    for (int round = 0; round < 300; ++round) {
        std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
        const int n = 1 + static_cast<int>(rng() % 200);
        for (int i = 0; i < n; ++i) text += alphabet[rng() % alphabet.size()];
        const std::string path = file("junk.obj", text);
        Document d;
        std::vector<Object*> loaded;
        std::string error;
        if (readObj(path, d, &loaded, &error)) {
            EXPECT_FALSE(loaded.empty());
            for (Object* o : loaded) {
                auto* p = dynamic_cast<PolygonObject*>(o);
                for (const Polygon& q : p->polygons)
                    for (int v : {q.a, q.b, q.c, q.d}) EXPECT_TRUE(v >= 0 && v < p->pointCount());
            }
        } else {
            EXPECT_EQ(error.rfind(path + ":", 0), 0u) << error;
            EXPECT_TRUE(d.roots().empty());
        }
    }
}

// ----------------------------------------------------------------------------------------------------
// Writing

TEST_F(ObjFileTest, WritesPlainObjectsWithShortestExactNumbers) {
    PolygonObject a("plain");
    a.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0.1f, 1, -0.5f}};
    a.polygons = {{0, 1, 2, 3}, {0, 2, 3, 3}};
    a.resize(4, 2);
    PolygonObject b("second");
    b.points = {{2, 0, 0}, {3, 0, 0}, {3, 1e-7f, 0}};
    b.polygons = {{2, 1, 0, 0}};
    b.resize(3, 1);
    const std::string path = folder + "/plain.obj";
    std::string error;
    ASSERT_TRUE(writeObj(path, {&a, &b}, &error)) << error;
    EXPECT_EQ(readText(path),
              "# vexlor OBJ\n"
              "o plain\n"
              "v 0 0 0\n"
              "v 1 0 0\n"
              "v 1 1 0\n"
              "v 0.1 1 -0.5\n"
              "f 1 2 3 4\n"
              "f 1 3 4\n"
              "o second\n"
              "v 2 0 0\n"
              "v 3 0 0\n"
              "v 3 1e-07 0\n"
              "f 7 6 5\n");
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"plain.obj"}));
    expectRoundTrip({&a, &b});
}

TEST_F(ObjFileTest, WriterSharesIdenticalTexturesAndNormalsWithinAnObject) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\n"
        "vt 0 0\nvt 0.5 0\nvt 0.5 1\nvt 0 1\nvt 0.75 0\nvt 1 0\nvt 1 1\nvt 0.75 1 0.25\n"
        "vt 0 0\nvt 0.5 0\n"
        "vn 0 0 1\nvn 0 0 3\n"
        "f 1/1/1 2/2/2 3/3/1 4/4/2\n"
        "f 2/5/1 5/6/1 6/7/1 3/8/1\n"
        "f 1/9/1 2/10/1 4/4/1\n");
    const std::string path = folder + "/shared.obj";
    std::string error;
    ASSERT_TRUE(writeObj(path, {objs[0]}, &error)) << error;
    EXPECT_EQ(readText(path),
              "# vexlor OBJ\n"
              "o mesh\n"
              "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\n"
              "vt 0 0\nvt 0.5 0\nvt 0.5 1\nvt 0 1\nvt 0.75 0\nvt 1 0\nvt 1 1\nvt 0.75 1 0.25\n"
              "vn 0 0 1\n"
              "f 1/1/1 2/2/1 3/3/1 4/4/1\n"
              "f 2/5/1 5/6/1 6/7/1 3/8/1\n"
              "f 1/1/1 2/2/1 4/4/1\n");
    expectRoundTrip(objs);
}

TEST_F(ObjFileTest, WriterEmitsGroupLinesOnlyWhenMembershipChanges) {
    auto objs = load(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "o a\n"
        "g rim\nf 1 2 3\nf 1 3 4\n"
        "g top rim\nf 1 2 4\n"
        "g\nf 2 3 4\n"
        "o b\n"
        "f 1 2 3\n"
        "g top\nf 2 3 4\n");
    const std::string path = folder + "/groups.obj";
    std::string error;
    ASSERT_TRUE(writeObj(path, {objs[0], objs[1]}, &error)) << error;
    EXPECT_EQ(readText(path),
              "# vexlor OBJ\n"
              "o a\n"
              "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
              "g rim\n"
              "f 1 2 3\n"
              "f 1 3 4\n"
              "g rim top\n"
              "f 1 2 4\n"
              "g\n"
              "f 2 3 4\n"
              "o b\n"
              "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
              "f 5 6 7\n"
              "g top\n"
              "f 6 7 8\n");
    expectRoundTrip(objs);
}

TEST_F(ObjFileTest, WriterKeepsGroupOrderAndEmptyGroups) {
    PolygonObject o("order");
    o.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    o.polygons = {{0, 1, 2, 3}, {0, 2, 3, 3}};
    o.resize(4, 2);
    auto second = std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "second", 2);
    second->set.select(1);
    auto first = std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "first", 2);
    first->set.select(0);
    first->set.select(1);
    o.addTag(std::move(second));
    o.addTag(std::move(first));
    o.addTag(std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "empty", 2));
    const std::string path = folder + "/order.obj";
    std::string error;
    ASSERT_TRUE(writeObj(path, {&o}, &error)) << error;
    // The faces alone would name "first" first and never "empty": one line names them all up front.
    EXPECT_EQ(readText(path),
              "# vexlor OBJ\n"
              "o order\n"
              "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
              "g second first empty\n"
              "g first\n"
              "f 1 2 3 4\n"
              "g second first\n"
              "f 1 3 4\n");
    expectRoundTrip({&o});
}

TEST_F(ObjFileTest, WriterMakesTagNamesIntoGroupNames) {
    PolygonObject o("names");
    o.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    o.polygons = {{0, 1, 2, 2}, {2, 1, 0, 0}};
    o.resize(3, 2);
    auto add = [&](const std::string& name, int member) {
        auto tag = std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, name, 2);
        tag->set.select(member);
        o.addTag(std::move(tag));
    };
    add("two words", 0);
    add("#hash", 1);
    add("default", 0);  // ends membership in OBJ: cannot be written
    add("", 1);         // no name: cannot be written
    add("two\twords", 1);  // the same name once written: one group
    o.addTag(std::make_unique<SelectionTag>(TAG_POINT_SELECTION, "points", 3));  // not a group
    const std::string path = folder + "/names.obj";
    std::string error;
    ASSERT_TRUE(writeObj(path, {&o}, &error)) << error;
    Document d;
    std::vector<Object*> loaded;
    ASSERT_TRUE(readObj(path, d, &loaded, &error)) << error;
    ASSERT_EQ(loaded[0]->tagCount(TAG_POLYGON_SELECTION), 2);
    EXPECT_EQ(loaded[0]->tagCount(TAG_POINT_SELECTION), 0);
    EXPECT_EQ(group(loaded[0], 0)->name(), "two_words");
    EXPECT_EQ(members(group(loaded[0], 0)), (std::vector<int>{0, 1}));
    EXPECT_EQ(group(loaded[0], 1)->name(), "_hash");
    EXPECT_EQ(members(group(loaded[0], 1)), (std::vector<int>{1}));
}

TEST_F(ObjFileTest, RoundTripOfEveryFeatureAtOnce) {
    auto objs = load(
        "mtllib x.mtl\n"
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\nv 3 3 3\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1 0.5\nvt -0 0.25\n"
        "vn 0 0 1\nvn 0.3 0.4 0.5\nvn 1 1 1\n"
        "g left\n"
        "f 1/1/1 2/2/2 3/3/3 4/4/1\n"
        "f 2/5 5/1 6/2\n"
        "g left right\n"
        "f 1/1 2/2 6/3 5/4 4/5\n"
        "o other\n"
        "g right\n"
        "f 5//3 6//2 7//1\n"
        "f -1 -2 -3\n");
    ASSERT_EQ(objs.size(), 2u);
    expectRoundTrip(objs);
    // Writing twice gives the same text.
    std::string error;
    ASSERT_TRUE(writeObj(folder + "/one.obj", {objs[0], objs[1]}, &error)) << error;
    Document d;
    std::vector<Object*> again;
    ASSERT_TRUE(readObj(folder + "/one.obj", d, &again, &error)) << error;
    ASSERT_TRUE(writeObj(folder + "/two.obj", {again[0], again[1]}, &error)) << error;
    EXPECT_EQ(readText(folder + "/one.obj"), readText(folder + "/two.obj"));
}

TEST_F(ObjFileTest, RandomNormalsAndCoordinatesSurviveRoundTrips) {
    // Quantized normals do not always come back from (row / 32000): the writer must find a text that does.
    std::mt19937 rng(11);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<float> any(-1000.0f, 1000.0f);
    std::string text;
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
        char line[160];
        snprintf(line, sizeof line, "v %.9g %.9g %.9g\nvt %.9g %.9g\nvn %.9g %.9g %.9g\n", any(rng), any(rng),
                 any(rng) * 1e-6f, any(rng), any(rng), gauss(rng), gauss(rng), gauss(rng));
        text += line;
    }
    for (int i = 0; i + 2 < n; i += 3) {
        char line[160];
        snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", i + 1, i + 1, i + 1, i + 2, i + 2, i + 2,
                 i + 3, i + 3, i + 3);
        text += line;
    }
    auto objs = load(text);
    ASSERT_EQ(objs.size(), 1u);
    // Every stored normal is a rounded unit vector.
    for (const NormalRow& row : normals(objs[0])->data) {
        const double len = std::sqrt(double(row.v[0]) * row.v[0] + double(row.v[1]) * row.v[1] +
                                     double(row.v[2]) * row.v[2]);
        EXPECT_NEAR(len, 32000.0, 1.0);
    }
    expectRoundTrip(objs);
}

TEST_F(ObjFileTest, WriteFailuresLeaveNothingBehind) {
    PolygonObject o("tri");
    o.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    o.polygons = {{0, 1, 2, 2}};
    std::string error;

    // A folder that does not exist.
    const std::string nowhere = folder + "/no/such/folder/out.obj";
    EXPECT_FALSE(writeObj(nowhere, {&o}, &error));
    EXPECT_EQ(error.rfind(nowhere + ": ", 0), 0u) << error;
    EXPECT_FALSE(fs::exists(folder + "/no"));

    // The target is a folder: the rename fails and the temporary file is removed.
    const std::string dir = folder + "/taken.obj";
    fs::create_directory(dir);
    file("taken.obj/inside.txt", "keep");
    EXPECT_FALSE(writeObj(dir, {&o}, &error));
    EXPECT_EQ(error.rfind(dir + ": ", 0), 0u) << error;
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(readText(dir + "/inside.txt"), "keep");
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"taken.obj"}));

    // A point that cannot be written fails part-way: the old file stays as it was.
    const std::string target = file("existing.obj", "old contents\n");
    PolygonObject bad("bad");
    bad.points = {{0, 0, 0}, {1, std::nanf(""), 0}, {0, 1, 0}};
    bad.polygons = {{0, 1, 2, 2}};
    EXPECT_FALSE(writeObj(target, {&o, &bad}, &error));
    EXPECT_EQ(error, target + ": object 'bad': point 1 is not finite");
    EXPECT_EQ(readText(target), "old contents\n");
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"existing.obj", "taken.obj"}));

    // Broken polygons and texture coordinates, and nothing to write.
    PolygonObject broken("broken");
    broken.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    broken.polygons = {{0, 1, 3, 3}};
    EXPECT_FALSE(writeObj(target, {&broken}, &error));
    EXPECT_EQ(error, target + ": object 'broken': polygon 0 refers to point 3 of 3");
    PolygonObject badUV("uv");
    badUV.points = o.points;
    badUV.polygons = o.polygons;
    auto uv = std::make_unique<UVWTag>();
    uv->data.resize(1);
    uv->data[0].c.y = INFINITY;
    badUV.addTag(std::move(uv));
    EXPECT_FALSE(writeObj(target, {&badUV}, &error));
    EXPECT_EQ(error, target + ": object 'uv': texture coordinate of polygon 0 is not finite");
    PolygonObject none("none");
    Object group(OBJECT_GROUP, "group");
    EXPECT_FALSE(writeObj(target, {&none, &group}, &error));
    EXPECT_EQ(error, target + ": no polygon objects to write");
    EXPECT_EQ(readText(target), "old contents\n");
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"existing.obj", "taken.obj"}));

    // And a good write replaces it.
    EXPECT_TRUE(writeObj(target, {&o}, &error)) << error;
    EXPECT_EQ(readText(target), "# vexlor OBJ\no tri\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"existing.obj", "taken.obj"}));
}
