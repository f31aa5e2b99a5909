#include "tests/mixkit/MeshFactory.h"

#include <cmath>

#include "host/ObjFile.h"
#include "host/Geometry.h"
#include "host/HostTable.h"
#include "tests/support/GridMesh.h"

namespace mixtest {

namespace {

double height(double x, double y) { return 0.35 * std::sin(1.3 * x) * std::cos(0.9 * y) + 0.05 * x * y / 10.0; }

}  // namespace

host::PolygonObject* makeGrid(host::Document& doc, const GridOptions& o, const std::string& name) {
    using namespace testsupport;
    auto owned = gridObject(name, o.columns, o.rows, [&o](int x, int y) {
        return host::Vec3f{static_cast<float>(x), static_cast<float>(y), o.bumpy ? static_cast<float>(height(x, y)) : 0.0f};
    });
    host::PolygonObject* obj = owned.get();
    if (o.uvw) addGridUvw(*obj, o.columns, o.rows, seamedUv(o.columns, o.rows, o.seamColumn));
    if (o.pointSelection)
        addSelection(*obj, host::TAG_POINT_SELECTION, "left", [&](int i) { return obj->points[i].x <= o.columns / 2.0f; });
    if (o.floatMap) addFloatMap(*obj, "weight", [&](int i) { return obj->points[i].x / o.columns; });
    if (o.polygonSelection)
        addSelection(*obj, host::TAG_POLYGON_SELECTION, "lower", [&](int i) { return i < o.rows / 2 * o.columns; });
    if (o.normals) addNormals(*obj);
    doc.insert(std::move(owned));
    return obj;
}

host::PolygonObject* makeStrip(host::Document& doc) {
    auto owned = std::make_unique<host::PolygonObject>("strip");
    host::PolygonObject* obj = owned.get();
    obj->points = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {3, 0.5f, 0}};
    obj->polygons = {{0, 1, 4, 3}, {1, 2, 5, 4}, {2, 6, 5, 5}};
    obj->resize(7, 3);
    doc.insert(std::move(owned));
    return obj;
}

host::PolygonObject* makeSphere(host::Document& doc, int rings, int segments, bool uvw) {
    auto owned = std::make_unique<host::PolygonObject>("sphere");
    host::PolygonObject* obj = owned.get();
    const double pi = 3.141592653589793;
    obj->points.push_back({0.0f, 0.0f, 1.0f});  // north pole
    for (int r = 1; r < rings; ++r) {
        const double theta = pi * r / rings;
        for (int s = 0; s < segments; ++s) {
            const double phi = 2.0 * pi * s / segments;
            // A little unevenness so that costs rarely tie.
            const double radius = 1.0 + 0.03 * std::sin(3.0 * phi + r);
            obj->points.push_back({static_cast<float>(radius * std::sin(theta) * std::cos(phi)),
                                   static_cast<float>(radius * std::sin(theta) * std::sin(phi)),
                                   static_cast<float>(radius * std::cos(theta))});
        }
    }
    obj->points.push_back({0.0f, 0.0f, -1.0f});  // south pole
    const int south = obj->pointCount() - 1;
    auto ringPoint = [&](int r, int s) { return 1 + (r - 1) * segments + (s % segments); };
    for (int s = 0; s < segments; ++s) obj->polygons.push_back({0, ringPoint(1, s), ringPoint(1, s + 1), ringPoint(1, s + 1)});
    for (int r = 1; r < rings - 1; ++r)
        for (int s = 0; s < segments; ++s) {
            const int a = ringPoint(r, s), b = ringPoint(r + 1, s), c = ringPoint(r + 1, s + 1), d = ringPoint(r, s + 1);
            obj->polygons.push_back({a, b, c, c});
            obj->polygons.push_back({a, c, d, d});
        }
    for (int s = 0; s < segments; ++s)
        obj->polygons.push_back({ringPoint(rings - 1, s), south, ringPoint(rings - 1, s + 1), ringPoint(rings - 1, s + 1)});
    obj->resize(obj->pointCount(), obj->polygonCount());
    if (uvw) addPlanarUvw(*obj);
    doc.insert(std::move(owned));
    return obj;
}

host::PolygonObject* loadSample(host::Document& doc) {
    std::vector<host::Object*> loaded;
    std::string error;
    if (!host::readObj(std::string(VEXLOR_SOURCE_DIR) + "/samples/sample.obj", doc, &loaded, &error)) return nullptr;
    for (host::Object* o : loaded)
        if (o->isPolygonObject()) return static_cast<host::PolygonObject*>(o);
    return nullptr;
}

void addNormals(host::PolygonObject& obj) {
    std::vector<host::Vec3> sums(obj.pointCount());
    for (const host::Polygon& p : obj.polygons) {
        if (p.a == p.b) continue;
        auto at = [&](int i) { return obj.points[i]; };
        const host::Vec3f a = at(p.a), b = at(p.b), c = at(p.c), d = at(p.d);
        host::Vec3f u, v;
        if (p.c == p.d) {
            u = {b.x - a.x, b.y - a.y, b.z - a.z};
            v = {c.x - a.x, c.y - a.y, c.z - a.z};
        } else {
            u = {b.x - d.x, b.y - d.y, b.z - d.z};
            v = {c.x - a.x, c.y - a.y, c.z - a.z};
        }
        host::Vec3 n{static_cast<double>(u.y) * v.z - static_cast<double>(u.z) * v.y,
                     static_cast<double>(u.z) * v.x - static_cast<double>(u.x) * v.z,
                     static_cast<double>(u.x) * v.y - static_cast<double>(u.y) * v.x};
        const double l = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        if (l > 0) n = n * (1.0 / l);
        const int count = p.c == p.d ? 3 : 4;
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < count; ++k) sums[corners[k]] = sums[corners[k]] + n;
    }
    auto tag = std::make_unique<host::NormalTag>("normals", obj.polygonCount());
    for (int f = 0; f < obj.polygonCount(); ++f) {
        const host::Polygon& p = obj.polygons[f];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < 4; ++k) {
            host::Vec3 n = sums[corners[k]];
            const double l = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            if (l > 0) n = n * (1.0 / l);
            tag->data[f].v[3 * k] = static_cast<int16_t>(n.x * 32000.0);
            tag->data[f].v[3 * k + 1] = static_cast<int16_t>(n.y * 32000.0);
            tag->data[f].v[3 * k + 2] = static_cast<int16_t>(n.z * 32000.0);
        }
    }
    obj.addTag(std::move(tag));
}

host::UVWTag* addPlanarUvw(host::PolygonObject& obj, const std::string& name) {
    auto tag = std::make_unique<host::UVWTag>(name, obj.polygonCount());
    for (int f = 0; f < obj.polygonCount(); ++f) {
        const host::Polygon& p = obj.polygons[f];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < 4; ++k) {
            const host::Vec3f& q = obj.points[corners[k]];
            tag->data[f].corner(k) = {0.5f + 0.5f * q.x, 0.5f + 0.5f * q.y, 0.0f};
        }
    }
    host::UVWTag* raw = tag.get();
    obj.addTag(std::move(tag));
    return raw;
}

WholeSets::WholeSets(const host::PolygonObject& obj) : points(obj.pointCount()), polygons(obj.polygonCount()) {
    points.selectAll();
    polygons.selectAll();
}

ModuleSet::ModuleSet(const host::SelectionSet& from) {
    const HostApi* api = host::hostApi();
    handle_ = api->selMake();
    for (int i = 0; i < from.size(); ++i)
        if (from.isSelected(i)) api->selSelect(handle_, i);
}

ModuleSet::~ModuleSet() { host::hostApi()->selDestroy(handle_); }

}  // namespace mixtest
