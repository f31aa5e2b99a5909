// Mesh files of every format: a split glTF cube welds to 8 points with its seams, round trips keep
// positions, texture coordinates, normals, groups, float maps, names and placements, PLY keeps quads,
// bad files give one clear line and add nothing, and a level chain reads back level by level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

#include "host/Document.h"
#include "host/Tags.h"
#include "host/formats/FileOutput.h"
#include "host/formats/GltfFile.h"
#include "host/formats/MeshFile.h"
#include "tests/support/RefusedFiles.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace host;
using host::formats::MeshFormat;

namespace {

using testsupport::LoadedMesh;
using testsupport::RefusedFile;
using testsupport::expectEachRefused;
using testsupport::loadMesh;
using testsupport::writeBytes;

// One temporary folder per test.
class FormatsDir : public testsupport::TempDir {
public:
    FormatsDir() : testsupport::TempDir("vexlor-formats") {}
};

std::string base64(const std::string& in) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
        out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], k[v & 63]};
    }
    if (i + 1 == in.size()) {
        const uint32_t v = uint8_t(in[i]) << 16;
        out += {k[v >> 18], k[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
        out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], '='};
    }
    return out;
}

template <class T>
void append(std::string& buf, const std::vector<T>& v) {
    buf.append(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
}

// A unit cube as exporters write it: 4 vertices per face (24), each face its own UV square and normal.
struct SplitCube {
    std::vector<float> positions, uvs, normals;
    std::vector<uint16_t> indices;
};

SplitCube splitCube() {
    SplitCube c;
    // Faces as (normal axis, sign); corners walk counter-clockwise seen from outside.
    const float corners[6][4][3] = {
        {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}},  // +x
        {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0}},  // -x
        {{0, 1, 0}, {0, 1, 1}, {1, 1, 1}, {1, 1, 0}},  // +y
        {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}},  // -y
        {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}},  // +z
        {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}},  // -z
    };
    const float normals[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    const float square[4][2] = {{0, 0}, {0.5f, 0}, {0.5f, 0.75f}, {0, 0.75f}};
    for (int f = 0; f < 6; ++f) {
        for (int k = 0; k < 4; ++k) {
            for (int a = 0; a < 3; ++a) c.positions.push_back(corners[f][k][a] - 0.5f);
            c.uvs.push_back(square[k][0] + static_cast<float>(f));  // every face its own tile: seams everywhere
            c.uvs.push_back(square[k][1]);
            for (int a = 0; a < 3; ++a) c.normals.push_back(normals[f][a]);
        }
        const uint16_t b = static_cast<uint16_t>(4 * f);
        for (uint16_t i : {b, uint16_t(b + 1), uint16_t(b + 2), b, uint16_t(b + 2), uint16_t(b + 3)})
            c.indices.push_back(i);
    }
    return c;
}

// The cube as a .gltf with its buffer embedded, written by hand (no writer of ours involved).
std::string cubeGltf(const SplitCube& c) {
    std::string buf;
    append(buf, c.positions);
    append(buf, c.uvs);
    append(buf, c.normals);
    append(buf, c.indices);
    const size_t pos = 0, uv = 24 * 12, nrm = uv + 24 * 8, idx = nrm + 24 * 12;
    std::ostringstream j;
    j << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
      << R"("nodes":[{"name":"Cube","mesh":0,"translation":[1,2,3]}],)"
      << R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1,"NORMAL":2},"indices":3}]}],)"
      << R"("buffers":[{"byteLength":)" << buf.size() << R"(,"uri":"data:application/octet-stream;base64,)"
      << base64(buf) << R"("}],)"
      << R"("bufferViews":[{"buffer":0,"byteOffset":)" << pos << R"(,"byteLength":288},)"
      << R"({"buffer":0,"byteOffset":)" << uv << R"(,"byteLength":192},)"
      << R"({"buffer":0,"byteOffset":)" << nrm << R"(,"byteLength":288},)"
      << R"({"buffer":0,"byteOffset":)" << idx << R"(,"byteLength":72}],)"
      << R"("accessors":[{"bufferView":0,"componentType":5126,"count":24,"type":"VEC3","min":[-0.5,-0.5,-0.5],"max":[0.5,0.5,0.5]},)"
      << R"({"bufferView":1,"componentType":5126,"count":24,"type":"VEC2"},)"
      << R"({"bufferView":2,"componentType":5126,"count":24,"type":"VEC3"},)"
      << R"({"bufferView":3,"componentType":5123,"count":36,"type":"SCALAR"}]})";
    return j.str();
}

std::vector<PolygonObject*> polygonObjects(const Document& doc) {
    std::vector<PolygonObject*> out;
    for (Object* o : doc.allObjects())
        if (o->isPolygonObject()) out.push_back(static_cast<PolygonObject*>(o));
    return out;
}

// Everything a triangle of the surface carries, corner by corner, so that two objects can be compared
// whatever their point order, polygon order or split of quads: a quad counts as (a, b, c) + (a, c, d).
using Corner = std::tuple<float, float, float, std::vector<float>, std::vector<int16_t>>;
using Triangle = std::tuple<std::array<Corner, 3>, std::vector<std::string>>;

struct Keep {
    bool uvs = true, normals = true, groups = true;
};

std::vector<Triangle> triangles(const PolygonObject& o, Keep keep = {}) {
    std::vector<const UVWTag*> uvs;
    const NormalTag* normals = nullptr;
    std::vector<const SelectionTag*> groups;
    for (const auto& t : o.tags()) {
        if (auto* u = dynamic_cast<const UVWTag*>(t.get()); u && keep.uvs) uvs.push_back(u);
        if (auto* n = dynamic_cast<const NormalTag*>(t.get()); n && keep.normals) normals = n;
        if (auto* s = dynamic_cast<const SelectionTag*>(t.get()); s && keep.groups && s->type() == TAG_POLYGON_SELECTION)
            groups.push_back(s);
    }
    std::vector<Triangle> out;
    for (int i = 0; i < o.polygonCount(); ++i) {
        const Polygon& p = o.polygons[i];
        const int idx[4] = {p.a, p.b, p.c, p.d};
        std::vector<std::string> names;
        for (const SelectionTag* g : groups)
            if (g->set.isSelected(i)) names.push_back(g->name());
        std::sort(names.begin(), names.end());
        auto corner = [&](int k) {
            const Vec3f& v = o.points.at(idx[k]);
            std::vector<float> uv;
            for (const UVWTag* u : uvs) {
                const Vec3f& t = u->data.at(i).corner(k);
                uv.insert(uv.end(), {t.x, t.y});
            }
            std::vector<int16_t> n;
            if (normals) n.assign(&normals->data.at(i).v[3 * k], &normals->data.at(i).v[3 * k] + 3);
            return Corner{v.x, v.y, v.z, uv, n};
        };
        out.push_back({{corner(0), corner(1), corner(2)}, names});
        if (!p.isTriangle()) out.push_back({{corner(0), corner(2), corner(3)}, names});
    }
    std::sort(out.begin(), out.end());
    return out;
}

int quadCount(const PolygonObject& o) {
    return static_cast<int>(std::count_if(o.polygons.begin(), o.polygons.end(), [](const Polygon& p) { return !p.isTriangle(); }));
}

// Two texture sets, corner normals, a UV seam, two groups and a float map over two quads and a
// triangle, below a placed group, with a placed child of its own.
std::unique_ptr<Object> makeRig() {
    auto rig = std::make_unique<Object>(OBJECT_GROUP, "rig");
    rig->localMatrix.off = {1.5, -2.25, 10};
    rig->localMatrix.v1 = {0, 2, 0};
    rig->localMatrix.v2 = {-2, 0, 0};
    rig->localMatrix.v3 = {0, 0, 2};

    auto body = std::make_unique<PolygonObject>("body");
    body->points = {{0.1f, 0, -7.25e-3f}, {1.0f / 3, 0, 0}, {2.7182817f, 0, 0},
                    {0.1f, 1, 0},         {1.0f / 3, 1, 0}, {2.7182817f, 1, 1e-20f}, {3.5f, 2, 0}};
    body->polygons = {{0, 1, 4, 3}, {1, 2, 5, 4}, {2, 6, 5, 5}};
    auto uv = std::make_unique<UVWTag>("", 3);
    // Points 1 and 4 sit on a seam: the two quads give them different coordinates. Values at or above
    // 0.5 and multiples of 2^-24 come back exactly from a format that counts v from the top.
    uv->data[0] = {{0, 0, 0}, {0.25f, 0, 0}, {0.25f, 0.5f, 0}, {0, 0.5f, 0}};
    uv->data[1] = {{0.5f, 0.5f, 0}, {0.75f, 0.5f, 0}, {0.75f, 0.9876543f, 0}, {0.5f, 0.9876543f, 0}};
    uv->data[2] = {{0.75f, 0.5f, 0}, {1, 0.625f, 0}, {0.75f, 0.9876543f, 0}, {0.75f, 0.9876543f, 0}};
    body->addTag(std::move(uv));
    auto detail = std::make_unique<UVWTag>("detail", 3);
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 4; ++k) detail->data[i].corner(k) = {0.125f * k, 0.5f + 0.0625f * i, 0};
    body->addTag(std::move(detail));
    auto normals = std::make_unique<NormalTag>("", 3);
    const int16_t rows[3][3] = {{0, 0, 32000}, {0, 22627, 22627}, {18475, 18475, 18475}};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 4; ++k)
            for (int a = 0; a < 3; ++a) normals->data[i].v[3 * k + a] = rows[i][a];
    body->addTag(std::move(normals));
    auto left = std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "left", 3);
    left->set.select(0);
    body->addTag(std::move(left));
    auto right = std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "right", 3);
    right->set.select(1);
    right->set.select(2);
    body->addTag(std::move(right));
    auto weight = std::make_unique<FloatMapTag>("weight", 7);
    for (int i = 0; i < 7; ++i) weight->data[i] = 0.1f * i - 0.3f;
    body->addTag(std::move(weight));

    auto wheel = std::make_unique<PolygonObject>("wheel");
    wheel->points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    wheel->polygons = {{0, 1, 2, 2}};
    wheel->localMatrix.off = {0.5, 0.25, -1};
    body->addChild(std::move(wheel));
    rig->addChild(std::move(body));
    return rig;
}

const FloatMapTag* floatMap(const PolygonObject& o, const std::string& name) {
    for (const auto& t : o.tags())
        if (auto* f = dynamic_cast<const FloatMapTag*>(t.get()); f && f->name() == name) return f;
    return nullptr;
}

}  // namespace

TEST(MeshFormats, ASplitGltfCubeWeldsToEightPointsAndKeepsItsSeams) {
    FormatsDir dir;
    const SplitCube cube = splitCube();
    writeBytes(dir.file("cube.gltf"), cubeGltf(cube));
    LoadedMesh l = loadMesh(dir.file("cube.gltf"));
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.roots.size(), 1u);
    auto* obj = static_cast<PolygonObject*>(l.roots[0]);
    EXPECT_EQ(obj->name(), "Cube");
    EXPECT_EQ(obj->localMatrix.off, (Vec3{1, 2, 3}));
    EXPECT_EQ(obj->pointCount(), 8);
    EXPECT_EQ(obj->polygonCount(), 12);
    // Selections and hidden sets follow the arrays, as the commands expect.
    EXPECT_EQ(obj->pointSelection.size(), 8);
    EXPECT_EQ(obj->hiddenPolygons.size(), 12);
    ASSERT_EQ(l.report.welds.size(), 1u);
    EXPECT_EQ(l.report.welds[0].vertices, 24);
    EXPECT_EQ(l.report.welds[0].points, 8);
    EXPECT_EQ(l.report.welds[0].droppedPolygons, 0);

    // Every corner keeps its own vertex's UV (v counted from the bottom) and normal.
    auto* uv = static_cast<UVWTag*>(obj->tag(TAG_UVW));
    auto* nt = static_cast<NormalTag*>(obj->tag(TAG_NORMALS));
    ASSERT_TRUE(uv && nt);
    for (int t = 0; t < 12; ++t) {
        const Polygon& p = obj->polygons[t];
        ASSERT_TRUE(p.isTriangle());
        const int idx[3] = {p.a, p.b, p.c};
        for (int k = 0; k < 3; ++k) {
            const int v = cube.indices[3 * t + k];
            const Vec3f& pos = obj->points[idx[k]];
            EXPECT_EQ(pos, (Vec3f{cube.positions[3 * v], cube.positions[3 * v + 1], cube.positions[3 * v + 2]}));
            EXPECT_EQ(uv->data[t].corner(k), (Vec3f{cube.uvs[2 * v], 1.0f - cube.uvs[2 * v + 1], 0}));
            for (int a = 0; a < 3; ++a)
                EXPECT_EQ(nt->data[t].v[3 * k + a], static_cast<int16_t>(cube.normals[3 * v + a] * 32000));
        }
    }
    // The seams are there: a point meets corners with different texture coordinates.
    std::map<int, std::vector<Vec3f>> uvsOfPoint;
    for (int t = 0; t < 12; ++t) {
        const Polygon& p = obj->polygons[t];
        const int idx[3] = {p.a, p.b, p.c};
        for (int k = 0; k < 3; ++k) uvsOfPoint[idx[k]].push_back(uv->data[t].corner(k));
    }
    for (auto& [point, list] : uvsOfPoint) {
        std::sort(list.begin(), list.end(), [](const Vec3f& a, const Vec3f& b) { return std::tie(a.x, a.y) < std::tie(b.x, b.y); });
        list.erase(std::unique(list.begin(), list.end()), list.end());
        EXPECT_EQ(list.size(), 3u) << "point " << point;  // three faces meet at each corner
    }
}

TEST(MeshFormats, ObjToGlbToObjKeepsEverySurfaceValueNamesAndPlacements) {
    FormatsDir dir;
    Document doc;
    doc.insert(makeRig());
    auto* body = static_cast<PolygonObject*>(doc.find("body"));
    auto* wheel = static_cast<PolygonObject*>(doc.find("wheel"));

    // glb keeps the hierarchy, names and matrices, and every surface value.
    std::string error;
    const std::vector<const Object*> all = {doc.find("rig"), body, wheel};
    ASSERT_TRUE(formats::writeMeshFile(dir.file("rig.glb"), all, &error)) << error;
    LoadedMesh g = loadMesh(dir.file("rig.glb"));
    ASSERT_TRUE(g.ok) << g.error;
    ASSERT_EQ(g.roots.size(), 1u);
    EXPECT_EQ(g.roots[0]->name(), "rig");
    EXPECT_FALSE(g.roots[0]->isPolygonObject());
    EXPECT_EQ(g.roots[0]->localMatrix, doc.find("rig")->localMatrix);
    auto* body2 = static_cast<PolygonObject*>(g.doc->find("body"));
    auto* wheel2 = static_cast<PolygonObject*>(g.doc->find("wheel"));
    ASSERT_TRUE(body2 && wheel2);
    EXPECT_EQ(body2->parent(), g.roots[0]);
    EXPECT_EQ(wheel2->parent(), body2);
    EXPECT_EQ(wheel2->localMatrix, wheel->localMatrix);
    EXPECT_EQ(body2->pointCount(), 7);
    // Its two materials' primitives share one set of vertices, read once.
    ASSERT_EQ(g.report.welds.size(), 2u);
    EXPECT_EQ(g.report.welds[0].object, "body");
    EXPECT_EQ(static_cast<size_t>(g.report.welds[0].vertices), formats::splitVertices(*body).vertexPoint.size());
    EXPECT_EQ(triangles(*body2), triangles(*body));
    EXPECT_EQ(triangles(*wheel2), triangles(*wheel));
    ASSERT_EQ(body2->tagCount(TAG_UVW), 2);
    EXPECT_EQ(body2->tag(TAG_UVW, 1)->name(), "detail");
    for (int i = 0; i < body->pointCount(); ++i) {
        const auto it = std::find(body2->points.begin(), body2->points.end(), body->points[i]);
        ASSERT_NE(it, body2->points.end());
        ASSERT_TRUE(floatMap(*body2, "weight"));
        EXPECT_EQ(floatMap(*body2, "weight")->data[it - body2->points.begin()], floatMap(*body, "weight")->data[i]);
    }

    // Through OBJ and back: OBJ keeps the quads, glb comes back with the same surface.
    ASSERT_TRUE(formats::writeMeshFile(dir.file("body.obj"), {body}, &error)) << error;
    LoadedMesh o = loadMesh(dir.file("body.obj"));
    ASSERT_TRUE(o.ok) << o.error;
    auto* fromObj = polygonObjects(*o.doc).at(0);
    ASSERT_TRUE(formats::writeMeshFile(dir.file("body.glb"), {fromObj}, &error)) << error;
    LoadedMesh og = loadMesh(dir.file("body.glb"));
    ASSERT_TRUE(og.ok) << og.error;
    ASSERT_TRUE(formats::writeMeshFile(dir.file("back.obj"), {polygonObjects(*og.doc).at(0)}, &error)) << error;
    LoadedMesh back = loadMesh(dir.file("back.obj"));
    ASSERT_TRUE(back.ok) << back.error;
    // The world placement went into the OBJ points; the same happens on both roads.
    EXPECT_EQ(triangles(*polygonObjects(*back.doc).at(0)), triangles(*fromObj));
    EXPECT_EQ(quadCount(*fromObj), 2);
}

TEST(MeshFormats, TextureRowsCountedFromTheTopComeBackWithinOneStepOfOne) {
    // glTF counts v from the top: 1 - (1 - v) loses at most the bits of v below 2^-24.
    FormatsDir dir;
    auto obj = std::make_unique<PolygonObject>("t");
    obj->points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    obj->polygons = {{0, 1, 2, 2}};
    auto uv = std::make_unique<UVWTag>("", 1);
    uv->data[0] = {{0.1f, 0.1f, 0}, {0.3f, 1e-9f, 0}, {0.7f, 0.3333333f, 0}, {0.7f, 0.3333333f, 0}};
    obj->addTag(std::move(uv));
    std::string error;
    ASSERT_TRUE(formats::writeMeshFile(dir.file("t.glb"), {obj.get()}, &error)) << error;
    LoadedMesh l = loadMesh(dir.file("t.glb"));
    ASSERT_TRUE(l.ok) << l.error;
    auto* back = static_cast<UVWTag*>(polygonObjects(*l.doc).at(0)->tag(TAG_UVW));
    const auto* orig = static_cast<UVWTag*>(obj->tag(TAG_UVW));
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(back->data[0].corner(k).x, orig->data[0].corner(k).x);
        EXPECT_NEAR(back->data[0].corner(k).y, orig->data[0].corner(k).y, std::ldexp(1.0, -24));
    }
}

TEST(MeshFormats, PlyKeepsQuadsAndExactPositionsAndStlExactPositions) {
    FormatsDir dir;
    Document doc;
    auto rig = makeRig();
    rig->localMatrix = Matrix{};  // flat formats place points by their matrices; identity keeps them
    doc.insert(std::move(rig));
    auto* body = static_cast<PolygonObject*>(doc.find("body"));
    std::string error;
    ASSERT_TRUE(formats::writeMeshFile(dir.file("b.ply"), {body}, &error)) << error;
    LoadedMesh ply = loadMesh(dir.file("b.ply"));
    ASSERT_TRUE(ply.ok) << ply.error;
    EXPECT_EQ(ply.report.format, MeshFormat::Ply);
    auto* p = polygonObjects(*ply.doc).at(0);
    EXPECT_EQ(p->pointCount(), 7);
    EXPECT_EQ(quadCount(*p), 2);
    Keep firstUvOnly{true, true, false};
    // PLY holds one texture set: compare with the body stripped to its first set.
    auto stripped = body->cloneAlone();
    auto* s = static_cast<PolygonObject*>(stripped.get());
    s->removeTag(s->tag(TAG_UVW, 1));
    EXPECT_EQ(triangles(*p, firstUvOnly), triangles(*s, firstUvOnly));
    // The float map went out as a vertex property and comes back per point.
    ASSERT_TRUE(floatMap(*p, "weight"));
    for (int i = 0; i < body->pointCount(); ++i) {
        const auto it = std::find(p->points.begin(), p->points.end(), body->points[i]);
        ASSERT_NE(it, p->points.end());
        EXPECT_EQ(floatMap(*p, "weight")->data[it - p->points.begin()], floatMap(*body, "weight")->data[i]);
    }

    ASSERT_TRUE(formats::writeMeshFile(dir.file("b.stl"), {body}, &error)) << error;
    LoadedMesh stl = loadMesh(dir.file("b.stl"));
    ASSERT_TRUE(stl.ok) << stl.error;
    auto* t = polygonObjects(*stl.doc).at(0);
    EXPECT_EQ(t->pointCount(), 7);
    EXPECT_EQ(t->polygonCount(), 5);
    Keep positionsOnly{false, false, false};
    EXPECT_EQ(triangles(*t, positionsOnly), triangles(*body, positionsOnly));
    // 50 bytes per triangle after the 84-byte header.
    EXPECT_EQ(fs::file_size(dir.file("b.stl")), 84u + 50u * 5);
}

TEST(MeshFormats, FlatFormatsPlacePointsWhereTheMatricesPutThem) {
    FormatsDir dir;
    Document doc;
    doc.insert(makeRig());
    auto* wheel = static_cast<PolygonObject*>(doc.find("wheel"));
    std::string error;
    ASSERT_TRUE(formats::writeMeshFile(dir.file("w.stl"), {wheel}, &error)) << error;
    LoadedMesh l = loadMesh(dir.file("w.stl"));
    ASSERT_TRUE(l.ok) << l.error;
    auto* w = polygonObjects(*l.doc).at(0);
    // rig: x -> (0, 2, 0), y -> (-2, 0, 0), z -> (0, 0, 2), offset (1.5, -2.25, 10); the wheel sits
    // at (0.5, 0.25, -1) in the rig: its point (1, 0, 0) lands at (1.5 - 0.5, -2.25 + 3, 10 - 2).
    EXPECT_NE(std::find(w->points.begin(), w->points.end(), Vec3f{1.0f, 0.75f, 8.0f}), w->points.end());
    EXPECT_NE(std::find(w->points.begin(), w->points.end(), Vec3f{1.0f, -1.25f, 8.0f}), w->points.end());
}

TEST(MeshFormats, BadFilesGiveOneLineNamingFileAndProblemAndAddNothing) {
    FormatsDir dir;
    Document good;
    good.insert(makeRig());
    std::string glb, error;
    ASSERT_TRUE(formats::encodeGltf({good.find("body")}, true, glb, &error)) << error;

    std::string stl(80, '\0');
    const uint32_t count = 1000;
    stl.append(reinterpret_cast<const char*>(&count), 4);
    stl.append(50, '\0');
    std::vector<RefusedFile> cases = {
        {"cut.glb", glb.substr(0, glb.size() / 2), "cut short"},
        {"nobuffer.gltf", R"({"asset":{"version":"2.0"},"buffers":[{"uri":"missing.bin","byteLength":36}]})", "missing.bin"},
        {"short.stl", stl, "1000 triangles"},
        {"old.fbx", "; FBX 6.1.0 project file\nFBXHeaderExtension:  {\n\tFBXHeaderVersion: 1003\n\tFBXVersion: 6100\n}\n",
         "old format version"},
        {"empty.gltf", R"({"asset":{"version":"2.0"},"nodes":[{"name":"e"}],"scenes":[{"nodes":[0]}]})", "no polygons"},
        {"points.obj", "v 0 0 0\nv 1 0 0\n", "no polygons"},
        {"cycle.gltf", R"({"asset":{"version":"2.0"},"nodes":[{"children":[1]},{"children":[0]}],"scenes":[{"nodes":[0]}]})",
         "not a tree"},
        {"notes.txt", "hello", "not a mesh file"},
        {"zero.glb", "", "empty"},
    };
    // A buffer name that leads to a FIFO is refused instead of waiting for a writer.
    ASSERT_EQ(mkfifo(dir.file("pipe.bin").c_str(), 0600), 0);
    cases.push_back({"fifo.gltf", R"({"asset":{"version":"2.0"},"buffers":[{"uri":"pipe.bin","byteLength":36}]})",
                     "not a regular file"});
    expectEachRefused(dir, cases);
}

TEST(MeshFormats, ContentWinsOverASuffixThatLies) {
    FormatsDir dir;
    writeBytes(dir.file("cube.obj"), cubeGltf(splitCube()));  // a glTF named .obj
    LoadedMesh l = loadMesh(dir.file("cube.obj"));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.report.format, MeshFormat::Gltf);
    EXPECT_EQ(polygonObjects(*l.doc).at(0)->pointCount(), 8);
}

TEST(MeshFormats, WritingRefusesUnknownSuffixesAndLeavesTheOldFileWhole) {
    FormatsDir dir;
    Document doc;
    doc.insert(makeRig());
    std::string error;
    EXPECT_FALSE(formats::writeMeshFile(dir.file("x.fbx"), {doc.find("body")}, &error));
    EXPECT_NE(error.find(".glb"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir.file("x.fbx")));
    // Into a folder that does not exist: nothing appears, and no temporary file is left.
    EXPECT_FALSE(formats::writeMeshFile(dir.file("none/x.glb"), {doc.find("body")}, &error));
    writeBytes(dir.file("keep.ply"), "old");
    EXPECT_FALSE(formats::writeMeshFile(dir.file("keep.ply"), {doc.find("rig")}, &error));  // no polygons
    std::ifstream in(dir.file("keep.ply"));
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "old");
    EXPECT_EQ(dir.entries(), 1u);
}

TEST(MeshFormats, ALevelChainReadsBackWithEveryLevelEqualToItsOwnFile) {
    FormatsDir dir;
    Document doc;
    doc.insert(makeRig());
    auto coarse = std::make_unique<PolygonObject>("body");
    coarse->points = {{0, 0, 0}, {2, 0, 0}, {0, 1, 0}};
    coarse->polygons = {{0, 1, 2, 2}};
    std::vector<formats::LodLevel> levels(2);
    levels[0] = {"rig", {doc.find("rig")}, 0.5};
    levels[1] = {"LOD1", {coarse.get()}, 0.125};
    std::string error;
    ASSERT_TRUE(formats::writeLodChainFile(dir.file("chain.glb"), levels, &error)) << error;
    ASSERT_TRUE(formats::writeMeshFile(dir.file("l0.glb"), {doc.find("rig"), doc.find("body"), doc.find("wheel")}, &error));
    ASSERT_TRUE(formats::writeMeshFile(dir.file("l1.glb"), {coarse.get()}, &error));

    LoadedMesh chain = loadMesh(dir.file("chain.glb"));
    ASSERT_TRUE(chain.ok) << chain.error;
    ASSERT_EQ(chain.roots.size(), 2u);
    EXPECT_EQ(chain.roots[0]->name(), "rig");
    EXPECT_EQ(chain.roots[1]->name(), "LOD1");
    for (int level = 0; level < 2; ++level) {
        LoadedMesh alone = loadMesh(dir.file("l" + std::to_string(level) + ".glb"));
        ASSERT_TRUE(alone.ok) << alone.error;
        std::vector<Object*> a = alone.doc->allObjects();
        std::vector<Object*> c;
        for (Object* o : chain.doc->allObjects())
            for (Object* up = o; up; up = up->parent())
                if (up == chain.roots[level] && o != chain.roots[level]) {
                    c.push_back(o);
                    break;
                }
        ASSERT_EQ(a.size(), c.size()) << "level " << level;
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i]->name(), c[i]->name());
            EXPECT_TRUE(a[i]->sameStateAs(*c[i])) << "level " << level << " object " << a[i]->name();
        }
    }
    // The chain file says what engines look for.
    std::string bytes;
    ASSERT_TRUE(formats::readWholeFile(dir.file("chain.glb"), bytes, &error));
    EXPECT_NE(bytes.find("\"extensionsUsed\":[\"MSFT_lod\"]"), std::string::npos);
    EXPECT_NE(bytes.find("\"MSFT_screencoverage\":[0.5,0.125]"), std::string::npos);
}

TEST(MeshFormats, AsciiAndBigEndianPlyKeepEveryVertexPropertyAndCutLargeFaces) {
    FormatsDir dir;
    // Five points of a pentagon plus one, a quad-less mix: a pentagon becomes a quad and a triangle.
    const std::string header =
        "ply\nformat ascii 1.0\ncomment hand-made\nelement vertex 6\nproperty float x\nproperty float y\n"
        "property float z\nproperty float quality\nproperty uchar red\nelement face 2\n"
        "property list uchar int vertex_indices\nelement note 1\nproperty int id\nend_header\n";
    const std::string body =
        "0 0 0 0.5 10\n1 0 0 0.25 20\n1.5 1 0 -1 30\n0.5 1.5 0 2 40\n-0.5 1 0 0.125 50\n3 3 3 7 60\n"
        "5 0 1 2 3 4\n3 1 5 2\n42\n";
    writeBytes(dir.file("a.ply"), header + body);
    LoadedMesh l = loadMesh(dir.file("a.ply"));
    ASSERT_TRUE(l.ok) << l.error;
    auto* o = polygonObjects(*l.doc).at(0);
    ASSERT_EQ(o->pointCount(), 6);
    ASSERT_EQ(o->polygonCount(), 3);
    EXPECT_EQ(o->polygons[0], (Polygon{0, 1, 2, 3}));
    EXPECT_EQ(o->polygons[1], (Polygon{0, 3, 4, 4}));
    EXPECT_EQ(o->polygons[2], (Polygon{1, 5, 2, 2}));
    ASSERT_TRUE(floatMap(*o, "quality") && floatMap(*o, "red"));
    EXPECT_EQ(floatMap(*o, "quality")->data, (std::vector<float>{0.5f, 0.25f, -1, 2, 0.125f, 7}));
    EXPECT_EQ(floatMap(*o, "red")->data[5], 60.0f);

    // The same vertices, big-endian binary with doubles and a ushort-counted list.
    std::string bin = "ply\nformat binary_big_endian 1.0\nelement vertex 3\nproperty double x\nproperty double y\n"
                      "property double z\nelement face 1\nproperty list ushort uint vertex_indices\nend_header\n";
    auto putBig = [&bin](const void* p, size_t n) {
        const char* c = static_cast<const char*>(p);
        for (size_t i = 0; i < n; ++i) bin += c[n - 1 - i];
    };
    for (double v : {0.1, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0, 0.0}) putBig(&v, 8);
    const uint16_t three = 3;
    putBig(&three, 2);
    for (uint32_t i : {0u, 1u, 2u}) putBig(&i, 4);
    writeBytes(dir.file("b.ply"), bin);
    LoadedMesh b = loadMesh(dir.file("b.ply"));
    ASSERT_TRUE(b.ok) << b.error;
    auto* t = polygonObjects(*b.doc).at(0);
    EXPECT_EQ(t->points[0], (Vec3f{0.1f, 0, 0}));
    EXPECT_EQ(t->polygons[0], (Polygon{0, 1, 2, 2}));

    // Cut short: one line naming the file, nothing added.
    writeBytes(dir.file("c.ply"), bin.substr(0, bin.size() - 6));
    LoadedMesh c = loadMesh(dir.file("c.ply"));
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.error.find("ends early"), std::string::npos) << c.error;
    EXPECT_TRUE(c.doc->roots().empty());
}

TEST(MeshFormats, ColladaAndAsciiStlComeInWithNamesPlacementsQuadsAndMaterials) {
    FormatsDir dir;
    // A quad and a triangle with two materials, on a node placed by a matrix under a named group.
    const std::string dae = R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <asset><unit name="meter" meter="1"/><up_axis>Y_UP</up_axis></asset>
  <library_effects>
    <effect id="e1"><profile_COMMON><technique sid="t"><lambert/></technique></profile_COMMON></effect>
    <effect id="e2"><profile_COMMON><technique sid="t"><lambert/></technique></profile_COMMON></effect>
  </library_effects>
  <library_materials>
    <material id="steel" name="steel"><instance_effect url="#e1"/></material>
    <material id="paint" name="paint"><instance_effect url="#e2"/></material>
  </library_materials>
  <library_geometries>
    <geometry id="g" name="plate">
      <mesh>
        <source id="p"><float_array id="pa" count="15">0 0 0 1 0 0 1 1 0 0 1 0 2 0.5 0</float_array>
          <technique_common><accessor source="#pa" count="5" stride="3">
            <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
          </accessor></technique_common></source>
        <vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
        <polylist material="steel" count="1"><input semantic="VERTEX" source="#v" offset="0"/>
          <vcount>4</vcount><p>0 1 2 3</p></polylist>
        <polylist material="paint" count="1"><input semantic="VERTEX" source="#v" offset="0"/>
          <vcount>3</vcount><p>1 4 2</p></polylist>
      </mesh>
    </geometry>
  </library_geometries>
  <library_visual_scenes>
    <visual_scene id="s">
      <node id="rig" name="rig">
        <node id="plate" name="plate">
          <matrix>1 0 0 5 0 1 0 6 0 0 1 7 0 0 0 1</matrix>
          <instance_geometry url="#g"><bind_material><technique_common>
            <instance_material symbol="steel" target="#steel"/>
            <instance_material symbol="paint" target="#paint"/>
          </technique_common></bind_material></instance_geometry>
        </node>
      </node>
    </visual_scene>
  </library_visual_scenes>
  <scene><instance_visual_scene url="#s"/></scene>
</COLLADA>
)";
    writeBytes(dir.file("plate.dae"), dae);
    LoadedMesh l = loadMesh(dir.file("plate.dae"));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.report.format, MeshFormat::Collada);
    auto* plate = dynamic_cast<PolygonObject*>(l.doc->find("plate"));
    ASSERT_TRUE(plate);
    ASSERT_TRUE(plate->parent());
    EXPECT_EQ(plate->parent()->name(), "rig");
    EXPECT_EQ(plate->localMatrix.off, (Vec3{5, 6, 7}));
    EXPECT_EQ(plate->pointCount(), 5);
    EXPECT_EQ(quadCount(*plate), 1);
    EXPECT_EQ(plate->polygonCount(), 2);
    std::vector<std::string> groups;
    for (const auto& t : plate->tags())
        if (t->type() == TAG_POLYGON_SELECTION) groups.push_back(t->name());
    EXPECT_EQ(groups, (std::vector<std::string>{"steel", "paint"}));

    writeBytes(dir.file("tri.stl"),
               "solid t\n facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
               "  endloop\n endfacet\n facet normal 0 0 1\n  outer loop\n   vertex 1 0 0\n   vertex 1 1 0\n"
               "   vertex 0 1 0\n  endloop\n endfacet\nendsolid t\n");
    LoadedMesh s = loadMesh(dir.file("tri.stl"));
    ASSERT_TRUE(s.ok) << s.error;
    auto* t = polygonObjects(*s.doc).at(0);
    EXPECT_EQ(t->pointCount(), 4);  // six vertices, two shared corners welded
    EXPECT_EQ(t->polygonCount(), 2);
    EXPECT_EQ(s.report.welds.at(0).vertices, 6);
}

// Files the fuzzer made of the PLY reader's own seeds: counts that promise more than the bytes hold
// are refused before anything is allocated for them, list lengths must be whole numbers, and a file
// whose every polygon names a missing vertex is not a mesh (it used to load as one without polygons).
TEST(MeshFormats, MalformedPlyIsRefusedWithOneLineAndNothingAdded) {
    FormatsDir dir;
    const std::string ascii3 = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                               "property float z\n";
    std::string manyProperties = "ply\nformat ascii 1.0\nelement vertex 100\n";
    for (int i = 0; i < 40; ++i) manyProperties += "property float p" + std::to_string(i) + "\n";
    manyProperties += "property float x\nproperty float y\nproperty float z\nend_header\n" + std::string(300, '0');
    std::string binary = "ply\nformat binary_little_endian 1.0\nelement vertex 10\nproperty float x\nproperty float y\n"
                         "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n";
    binary += std::string(100, '\0');
    const std::vector<RefusedFile> cases = {
        {"billion.ply", "ply\nformat ascii 1.0\nelement vertex 1000000000\nproperty float x\nend_header\n1 2 3\n",
         "the element \"vertex\" claims 1000000000 entries, more than the file's 6 bytes after its header can hold"},
        {"wide.ply", manyProperties, "the element \"vertex\" claims 100 entries"},
        {"binary.ply", binary, "the element \"vertex\" claims 10 entries"},
        {"nan-list.ply",
         ascii3 + "property list uchar int extra\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
                  "0 0 0 nan\n1 0 0 0\n0 1 0 0\n3 0 1 2\n",
         "a PLY list of a bad length"},
        {"half-list.ply", ascii3 + "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                                   "0 0 0\n1 0 0\n0 1 0\n2.5 0 1 2\n",
         "a PLY list of a bad length"},
        {"missing-vertex.ply", ascii3 + "element face 2\nproperty list uchar int vertex_indices\nend_header\n"
                                        "0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n3 0 1 1.5\n",
         "holds no polygons (each of its 2 polygons has a corner out of range or fewer than three distinct points)"},
    };
    expectEachRefused(dir, cases);
}

// A point or texture coordinate that is not a finite number (or a placement that is not) is refused
// when the file is read, naming the object and the element, instead of after a whole reduction when
// the result cannot be written.
TEST(MeshFormats, ValuesThatAreNotFiniteAreRefusedWhenRead) {
    FormatsDir dir;
    const std::string head = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                             "property float z\nproperty float s\nproperty float t\nelement face 1\n"
                             "property list uchar int vertex_indices\nend_header\n";
    std::string stl = std::string(80, ' ');
    const uint32_t one = 1;
    stl.append(reinterpret_cast<const char*>(&one), 4);
    const float facet[12] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, std::nanf(""), 0};
    stl.append(reinterpret_cast<const char*>(facet), sizeof facet);
    stl.append(2, '\0');
    const std::vector<RefusedFile> cases = {
        {"nan.ply", head + "0 0 0 0 0\nnan 1 0 0 0\n0 1 0 0 0\n3 0 1 2\n",
         "\"nan\": point 1 has a coordinate that is not a finite number"},
        {"uv.ply", head + "0 0 0 0 0\n1 0 0 inf 0\n0 1 0 0 0\n3 0 1 2\n",
         "\"uv\": a texture coordinate of polygon 0 is not a finite number"},
        {"nan.stl", stl, "point 2 has a coordinate that is not a finite number"},
        {"far.dae",
         R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <library_geometries><geometry id="g" name="far"><mesh>
    <source id="p"><float_array id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>
      <technique_common><accessor source="#pa" count="3" stride="3">
        <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
      </accessor></technique_common></source>
    <vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
    <triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>
  </mesh></geometry></library_geometries>
  <library_visual_scenes><visual_scene id="s"><node id="far" name="far">
    <matrix>1 0 0 1e999 0 1 0 0 0 0 1 0 0 0 0 1</matrix><instance_geometry url="#g"/>
  </node></visual_scene></library_visual_scenes>
  <scene><instance_visual_scene url="#s"/></scene>
</COLLADA>
)",
         "the placement of \"far\" is not finite"},
    };
    expectEachRefused(dir, cases);
}
