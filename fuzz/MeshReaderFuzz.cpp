// Fuzzes the interchange-format readers behind readMeshFile, one target per suffix (kMeshSuffix), so
// that each starts from its own seeds and dictionary while the content still picks the reader as it
// would for a user's file. Every input either loads into consistent objects or is refused with one
// line naming the file, leaving the document empty. A loaded object has no index out of range, no
// polygon with repeated corners, tags that count what their domain counts, and welds that add up; a
// file of a format we write writes and reads back with the same polygons. Points are finite numbers.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FuzzInput.h"
#include "host/Document.h"
#include "host/Tags.h"
#include "host/formats/MeshFile.h"

// The suffix of the scratch file, such as ".ply": each target links its own (MeshSuffix.cpp), and
// this file is compiled once for all of them.
extern const char kMeshSuffix[];

namespace {

using host::formats::MeshFormat;

// Names the broken invariant before the crash that libFuzzer records.
#define check(condition) checkAt((condition), #condition, __LINE__)
void checkAt(bool condition, const char* text, int line) {
    if (condition) return;
    std::fprintf(stderr, "MeshReaderFuzz.cpp:%d: %s does not hold\n", line, text);
    std::abort();
}

// Checks one polygon object and returns its triangles (a quad counts two), which every writer keeps.
size_t checkPolygonObject(const host::PolygonObject& o) {
    const int points = o.pointCount();
    const int polygons = o.polygonCount();
    size_t triangles = 0;
    for (const host::Vec3f& v : o.points) check(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z));
    for (const host::Polygon& p : o.polygons) {
        for (int c : {p.a, p.b, p.c, p.d}) check(c >= 0 && c < points);
        check(p.a != p.b && p.a != p.c && p.b != p.c);
        const bool triangle = p.c == p.d;
        check(triangle || (p.d != p.a && p.d != p.b));
        triangles += triangle ? 1 : 2;
    }
    for (const auto& t : o.tags()) {
        if (t->domain() == host::Tag::Domain::Points) check(t->elementCount() == points);
        if (t->domain() == host::Tag::Domain::Polygons) check(t->elementCount() == polygons);
    }
    return triangles;
}

struct Totals {
    size_t polygonObjects = 0;
    size_t polygons = 0;
    size_t triangles = 0;
};

void checkTree(const host::Object& o, Totals& totals, int depth) {
    check(depth < 2000);
    if (auto* p = dynamic_cast<const host::PolygonObject*>(&o)) {
        ++totals.polygonObjects;
        totals.polygons += p->polygons.size();
        totals.triangles += checkPolygonObject(*p);
    }
    for (const auto& c : o.children()) {
        check(c->parent() == &o);
        checkTree(*c, totals, depth + 1);
    }
}

Totals checkDocument(const host::Document& doc, const std::vector<host::Object*>& loaded) {
    check(!loaded.empty());
    check(loaded.size() == doc.roots().size());
    Totals totals;
    for (size_t i = 0; i < loaded.size(); ++i) {
        check(doc.roots()[i].get() == loaded[i]);
        checkTree(*loaded[i], totals, 0);
    }
    return totals;
}

bool load(const std::string& path, host::Document& doc, std::vector<host::Object*>& loaded,
          host::formats::MeshReadReport& report) {
    std::string error;
    if (!host::formats::readMeshFile(path, doc, &loaded, &error, &report)) {
        check(loaded.empty() && doc.roots().empty());
        check(error.rfind(path + ": ", 0) == 0);
        check(error.find('\n') == std::string::npos);
        return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzScratchFile(data, size, kMeshSuffix);
    host::Document doc;
    std::vector<host::Object*> loaded;
    host::formats::MeshReadReport report;
    if (!load(path, doc, loaded, report)) return 0;
    const Totals totals = checkDocument(doc, loaded);
    check(totals.polygons > 0);
    // Welding counts add up: one report per object built from vertex streams, never more points
    // than vertices.
    for (const host::formats::WeldResult& w : report.welds)
        check(w.points >= 0 && w.points <= w.vertices && w.droppedPolygons >= 0);
    if (report.format != MeshFormat::Obj) check(report.welds.size() == totals.polygonObjects);

    // The format we read is written back (PLY, STL, glTF) and reads again with the same
    // polygons: glTF and STL keep triangles, PLY keeps quads.
    const MeshFormat format = report.format;
    if (!host::formats::canWriteMeshFormat(format) || format == MeshFormat::Obj) return 0;
    const char* suffix = format == MeshFormat::Glb ? ".glb" : format == MeshFormat::Gltf ? ".gltf"
                         : format == MeshFormat::Ply ? ".ply" : ".stl";
    const std::string copy = fuzzScratchPath(std::string(".copy") + suffix);
    // Every object of the document, as the commands write them; encoded in memory and written
    // plainly, since a replacing write's flush to disk would make this the slowest step by far.
    const std::vector<host::Object*> all = doc.allObjects();
    std::vector<const host::Object*> objects(all.begin(), all.end());
    std::string bytes, error;
    if (!host::formats::encodeMeshFile(format, objects, bytes, &error)) {
        check(!error.empty());
        return 0;
    }
    FILE* f = std::fopen(copy.c_str(), "wb");
    check(f != nullptr);
    check(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);
    host::Document again;
    std::vector<host::Object*> reloaded;
    host::formats::MeshReadReport second;
    if (!host::formats::readMeshFile(copy, again, &reloaded, &error, &second)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        check(!"what was read and written back reads again");
    }
    const Totals back = checkDocument(again, reloaded);
    const bool triangles = format == MeshFormat::Glb || format == MeshFormat::Gltf || format == MeshFormat::Stl;
    if (triangles)
        check(back.triangles == totals.triangles);
    else
        check(back.polygons == totals.polygons);
    return 0;
}
