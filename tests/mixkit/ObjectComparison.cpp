#include <sstream>

#include "tests/mixkit/MixkitFixture.h"

namespace mixtest {

std::string differences(const host::PolygonObject& a, const host::PolygonObject& b, bool compareHidden) {
    std::ostringstream out;
    if (a.pointCount() != b.pointCount()) return "point counts differ";
    if (a.polygonCount() != b.polygonCount()) return "polygon counts differ";
    for (int i = 0; i < a.pointCount(); ++i)
        if (!sameBits(&a.points[i], &b.points[i], sizeof(host::Vec3f))) {
            out << "point " << i << " differs: " << a.points[i].x << "," << a.points[i].y << "," << a.points[i].z
                << " vs " << b.points[i].x << "," << b.points[i].y << "," << b.points[i].z;
            return out.str();
        }
    for (int i = 0; i < a.polygonCount(); ++i)
        if (!(a.polygons[i] == b.polygons[i])) {
            out << "polygon " << i << " differs";
            return out.str();
        }
    if (!(a.pointSelection == b.pointSelection)) return "point selections differ";
    if (!(a.polygonSelection == b.polygonSelection)) return "polygon selections differ";
    if (compareHidden && !(a.hiddenPoints == b.hiddenPoints)) return "hidden points differ";
    if (a.tags().size() != b.tags().size()) return "tag counts differ";
    for (size_t t = 0; t < a.tags().size(); ++t) {
        const host::Tag* ta = a.tags()[t].get();
        const host::Tag* tb = b.tags()[t].get();
        if (ta->type() != tb->type()) return "tag types differ";
        if (auto* u = dynamic_cast<const host::UVWTag*>(ta)) {
            auto* v = dynamic_cast<const host::UVWTag*>(tb);
            for (size_t i = 0; i < u->data.size(); ++i)
                if (!sameBits(&u->data[i], &v->data[i], sizeof(host::UVWRow))) {
                    out << "UVW of polygon " << i << " differs";
                    return out.str();
                }
        } else if (auto* n = dynamic_cast<const host::NormalTag*>(ta)) {
            auto* m = dynamic_cast<const host::NormalTag*>(tb);
            for (size_t i = 0; i < n->data.size(); ++i)
                if (!(n->data[i] == m->data[i])) {
                    out << "normals of polygon " << i << " differ";
                    return out.str();
                }
        } else if (auto* f = dynamic_cast<const host::FloatMapTag*>(ta)) {
            auto* g = dynamic_cast<const host::FloatMapTag*>(tb);
            for (size_t i = 0; i < f->data.size(); ++i)
                if (!sameBits(&f->data[i], &g->data[i], sizeof(float))) {
                    out << "float map value " << i << " differs";
                    return out.str();
                }
        } else if (!ta->equals(*tb)) {
            out << "tag " << t << " (" << ta->type() << ") differs";
            return out.str();
        }
    }
    return "";
}

}  // namespace mixtest
