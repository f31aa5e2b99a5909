#include "Weld.h"

#include <cstdint>

#include "host/ModelingCommands.h"
#include "sources/HostContract.h"

namespace app {

void weldCoincidentPoints(host::Document& doc, const std::vector<host::PolygonObject*>& objects, const char* command,
                          std::ostream& err) {
    host::Settings params;
    params.setReal(host::CLEANUP_TOLERANCE, 0.0);
    params.setBool(host::CLEANUP_MERGE_POINTS, true);
    params.setBool(host::CLEANUP_DROP_POLYGONS, true);
    params.setBool(host::CLEANUP_DROP_POINTS, true);
    for (host::PolygonObject* o : objects) {
        const int before = o->pointCount();
        host::runModelingCommand(host::CMD_CLEANUP, 0, &doc, {o}, params);
        if (o->pointCount() != before)
            err << "vexlor " << command << ": welded \"" << o->name() << "\": " << before << " -> " << o->pointCount()
                << " points\n";
    }
}

bool isPolygonSoup(const host::PolygonObject& obj) {
    if (obj.polygonCount() < 2) return false;
    std::vector<uint8_t> used(obj.points.size(), 0);
    for (const host::Polygon& p : obj.polygons) {
        const int corners[4] = {p.a, p.b, p.c, p.d};
        const int n = p.c == p.d ? 3 : 4;
        for (int k = 0; k < n; ++k) {
            const int c = corners[k];
            if (c < 0 || c >= obj.pointCount()) continue;
            if (used[c]) return false;
            used[c] = 1;
        }
    }
    return true;
}

std::string polygonSoupMessage(const host::PolygonObject& obj, const std::string& input, bool welded) {
    return "\"" + obj.name() + "\" of " + input + " is a polygon soup: none of its " +
           std::to_string(obj.polygonCount()) + " polygons shares a point with another, so there is no edge to contract" +
           (welded ? std::string(" (even with --weld: no two points are at exactly the same place)")
                   : std::string("; --weld merges points at exactly the same place first"));
}

}  // namespace app
