// Fuzzes the OBJ reader: every input either loads into a consistent document or is refused with a
// message naming the file; a loaded mesh has no index out of range, and it writes and reads back
// with the same counts.
#include <cstdlib>
#include <cmath>
#include <cstring>

#include "FuzzInput.h"
#include "host/Document.h"
#include "host/ObjFile.h"
#include "host/Tags.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkObject(const host::PolygonObject& o) {
    const int n = o.pointCount();
    for (const host::Polygon& p : o.polygons)
        for (int c : {p.a, p.b, p.c, p.d}) check(c >= 0 && c < n);
    if (const auto* uvw = dynamic_cast<const host::UVWTag*>(o.tag(host::TAG_UVW)))
        check(uvw->data.size() == o.polygons.size());
    for (const host::Vec3f& v : o.points) check(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzScratchFile(data, size, ".obj");
    host::Document doc;
    std::vector<host::Object*> loaded;
    std::string error;
    if (!host::readObj(path, doc, &loaded, &error)) {
        check(loaded.empty() && doc.roots().empty());
        check(error.rfind(path, 0) == 0);
        return 0;
    }
    check(!loaded.empty());
    std::vector<const host::Object*> objects;
    size_t polygons = 0;
    for (host::Object* o : loaded) {
        auto* p = dynamic_cast<host::PolygonObject*>(o);
        check(p != nullptr);
        checkObject(*p);
        polygons += p->polygons.size();
        objects.push_back(o);
    }
    // What was read writes and reads back with the same polygons.
    const std::string copy = fuzzScratchPath(".copy.obj");
    if (polygons > 0 && host::writeObj(copy, objects, &error)) {
        host::Document again;
        std::vector<host::Object*> reloaded;
        check(host::readObj(copy, again, &reloaded, &error));
        size_t back = 0;
        for (host::Object* o : reloaded) back += static_cast<host::PolygonObject*>(o)->polygons.size();
        check(back == polygons);
    }
    return 0;
}
