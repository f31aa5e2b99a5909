#include "InfoCommand.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <functional>

#include "host/formats/MeshFile.h"
#include "host/Services.h"

namespace app {
namespace {

std::string fixed(double v) { return host::numberText(v, 4); }

void printObject(const host::Object& o, int depth, std::ostream& out) {
    const std::string indent(depth * 2, ' ');
    out << indent << "object \"" << o.name() << "\"";
    if (!o.isPolygonObject()) {
        out << " (type " << o.type() << ")\n";
    } else {
        const auto& p = static_cast<const host::PolygonObject&>(o);
        int triangles = 0, quads = 0;
        for (const host::Polygon& poly : p.polygons) (poly.isTriangle() ? triangles : quads)++;
        out << "\n" << indent << "  points:   " << p.pointCount() << "\n";
        out << indent << "  polygons: " << p.polygonCount() << " (" << triangles << " triangles, " << quads
            << " quads)\n";
        if (!p.points.empty()) {
            host::Vec3f lo{FLT_MAX, FLT_MAX, FLT_MAX}, hi{-FLT_MAX, -FLT_MAX, -FLT_MAX};
            for (const host::Vec3f& v : p.points) {
                lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
                hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
            }
            out << indent << "  bounds:   (" << fixed(lo.x) << ", " << fixed(lo.y) << ", " << fixed(lo.z) << ") to ("
                << fixed(hi.x) << ", " << fixed(hi.y) << ", " << fixed(hi.z) << ")\n";
        }
    }
    for (const auto& t : o.tags()) {
        out << indent << "  tag " << t->type() << " " << host::tagTypeName(t->type());
        if (!t->name().empty()) out << " \"" << t->name() << "\"";
        if (auto* sel = dynamic_cast<const host::SelectionTag*>(t.get())) out << ", " << sel->set.count() << " members";
        out << "\n";
    }
    for (const auto& c : o.children()) printObject(*c, depth + 1, out);
}

}  // namespace

void printWelds(const host::formats::MeshReadReport& report, std::ostream& out) {
    for (const host::formats::WeldResult& w : report.welds) {
        out << "welded \"" << w.object << "\": " << w.vertices << " vertices -> " << w.points << " points";
        if (w.vertices > w.points) out << " (" << (w.vertices - w.points) << " seam copies joined)";
        if (w.droppedPolygons > 0) out << ", " << w.droppedPolygons << " degenerate polygons dropped";
        out << "\n";
    }
}

void printDocumentSummary(const host::Document& doc, std::ostream& out) {
    for (const auto& r : doc.roots()) printObject(*r, 0, out);
}

int runInfo(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
    int status = 0;
    for (const std::string& f : files) {
        host::Document doc;
        std::string error;
        host::formats::MeshReadReport report;
        if (!host::formats::readMeshFile(f, doc, nullptr, &error, &report)) {
            err << "vexlor: " << error << "\n";
            status = 1;
            continue;
        }
        out << f << " (" << host::formats::meshFormatName(report.format) << ")\n";
        printDocumentSummary(doc, out);
        printWelds(report, out);
    }
    return status;
}

}  // namespace app
