#include "tests/mixkit/Invariants.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

#include "host/Tags.h"
#include "sources/Geometry.h"

namespace mixtest {

Shadow::Shadow(const host::PolygonObject& obj, const ReductionMesh& mesh)
    : points(obj.points), removed(obj.pointCount(), false) {
    const int32_t n = mesh.pointCount();
    for (int32_t i = 0; i < n; ++i) reducible.push_back(mesh.isReducible(i) ? 1 : 0);
    const AttributeTransfer& a = mesh.attributes();
    for (int32_t s = 0; s < a.pointSetCount(); ++s) {
        pointSetBytes.emplace_back();
        for (int32_t i = 0; i < n; ++i) pointSetBytes.back().push_back(a.pointSetByte(s, i));
    }
    for (int32_t m = 0; m < a.floatMapCount(); ++m) {
        const auto* data = static_cast<const float*>(a.floatMapTag(m).data());
        floatMaps.emplace_back(data, data + n);
    }
}

std::string checkMesh(const host::PolygonObject& obj, const ReductionMesh& mesh, const Shadow& shadow) {
    std::ostringstream out;
    const int n = obj.pointCount();
    // Adjacency against the polygon array, both ways.
    std::vector<std::vector<int>> expected(n);
    for (int f = 0; f < obj.polygonCount(); ++f) {
        const host::Polygon& p = obj.polygons[f];
        if (p.a == p.b) {
            if (!(p == host::Polygon{0, 0, 0, 0})) {
                out << "dead polygon " << f << " is not all zero";
                return out.str();
            }
            continue;
        }
        const int corners[4] = {p.a, p.b, p.c, p.d};
        const int count = p.c == p.d ? 3 : 4;
        for (int i = 0; i < count; ++i) {
            if (shadow.removed[corners[i]]) {
                out << "live polygon " << f << " uses removed point " << corners[i];
                return out.str();
            }
            for (int j = i + 1; j < count; ++j)
                if (corners[i] == corners[j]) {
                    out << "live polygon " << f << " repeats point " << corners[i];
                    return out.str();
                }
            expected[corners[i]].push_back(f);
        }
    }
    int live = 0;
    for (int i = 0; i < n; ++i) {
        std::vector<int> got(mesh.polygonsOf(i).begin(), mesh.polygonsOf(i).end());
        std::vector<int> want = expected[i];
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        if (got != want) {
            out << "polygon list of point " << i << " does not match the polygons";
            return out.str();
        }
        if (mesh.isReducible(i) != 0) ++live;
        if (shadow.removed[i] && mesh.isReducible(i) != 0) {
            out << "removed point " << i << " is still reducible";
            return out.str();
        }
        if (shadow.reducible[i] == 0 && std::memcmp(&obj.points[i], &shadow.points[i], sizeof(host::Vec3f)) != 0) {
            out << "fixed point " << i << " moved";
            return out.str();
        }
        // The host point is the position mapped back and rounded to float: mapped in again, it lies
        // within that rounding of the position.
        const host::Vec3f& h = obj.points[i];
        const Vector back = mesh.frame().toFrame(FloatVector{h.x, h.y, h.z});
        const Vector& p = mesh.position(i);
        auto near = [&](double got, double want, float coordinate) {
            return std::fabs(got - want) <= (std::fabs(coordinate) * 1.2e-7) * mesh.frame().scale + 1e-9;
        };
        if (!near(back.x, p.x, h.x) || !near(back.y, p.y, h.y) || !near(back.z, p.z, h.z)) {
            out << "host point " << i << " is not its position mapped back and rounded";
            return out.str();
        }
    }
    if (live != mesh.reducibleCount()) {
        out << "reducibleCount " << mesh.reducibleCount() << " but " << live << " live reducible points";
        return out.str();
    }
    for (size_t s = 0; s < shadow.pointSetBytes.size(); ++s)
        for (int i = 0; i < n; ++i)
            if (mesh.attributes().pointSetByte(int32_t(s), i) != shadow.pointSetBytes[s][i]) {
                out << "point set " << s << " byte " << i << " is " << int(mesh.attributes().pointSetByte(int32_t(s), i)) << ", not "
                    << int(shadow.pointSetBytes[s][i]);
                return out.str();
            }
    for (size_t m = 0; m < shadow.floatMaps.size(); ++m) {
        const auto* data = static_cast<const float*>(mesh.attributes().floatMapTag(int32_t(m)).data());
        for (int i = 0; i < n; ++i)
            if (std::memcmp(&data[i], &shadow.floatMaps[m][i], sizeof(float)) != 0) {
                out << "float map " << m << " value " << i << " is " << data[i] << ", not "
                    << shadow.floatMaps[m][i];
                return out.str();
            }
    }
    return "";
}

std::string checkDecimator(Decimator& d) {
    std::ostringstream out;
    const EdgeHeap& heap = d.candidates();
    for (int32_t i = 0; i < heap.size(); ++i) {
        const EdgeCandidate* c = &d.candidate(heap.at(i));
        if (c->heapPosition != i) return "heap back-index wrong";
        if (i > 0 && heap.keyAt((i - 1) / 2) < heap.keyAt(i)) return "heap order broken";
        if (d.mesh()->isReducible(c->v1) == 0 || d.mesh()->isReducible(c->v2) == 0) {
            out << "candidate " << c->v1 << "-" << c->v2 << " joins a fixed or removed point";
            return out.str();
        }
        if (c->v1 == c->v2) return "candidate joins a point to itself";
        for (int32_t end : {c->v1, c->v2}) {
            const CandidateList l = d.candidatesAt(end);
            if (std::find(l.begin(), l.end(), c) == l.end()) {
                out << "candidate " << c->v1 << "-" << c->v2 << " missing from the list of " << end;
                return out.str();
            }
        }
    }
    for (int32_t p = 0; p < d.mesh()->pointCount(); ++p) {
        const CandidateList l = d.candidatesAt(p);
        std::vector<int32_t> others;
        for (const EdgeCandidate* c : l) {
            if (c->v1 != p && c->v2 != p) {
                out << "list of " << p << " holds a candidate of " << c->v1 << "-" << c->v2;
                return out.str();
            }
            others.push_back(otherEnd(*c, p));
        }
        std::sort(others.begin(), others.end());
        if (std::adjacent_find(others.begin(), others.end()) != others.end()) {
            out << "point " << p << " has two candidates to one point";
            return out.str();
        }
    }
    return "";
}

std::string checkNormalsAround(const host::PolygonObject& obj, const ReductionMesh& mesh, int32_t v1) {
    const auto* tag = static_cast<const host::NormalTag*>(obj.tag(host::TAG_NORMALS));
    if (tag == nullptr) return "no normal tag";
    std::vector<int32_t> ring;
    for (int32_t f : mesh.polygonsOf(v1)) {
        const host::Polygon& p = obj.polygons[f];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < (p.c == p.d ? 3 : 4); ++k)
            if (std::find(ring.begin(), ring.end(), corners[k]) == ring.end()) ring.push_back(corners[k]);
    }
    std::ostringstream out;
    for (int32_t x : ring) {
        // The normal of x, summed in the order of its polygon list.
        Vector sum;
        for (int32_t g : mesh.polygonsOf(x)) sum = add(sum, mesh.polygonNormal(g, true));
        const double l = length(sum);
        const Vector n = l == 0.0 ? Vector{} : Vector{sum.x / l, sum.y / l, sum.z / l};
        const int16_t want[3] = {static_cast<int16_t>(static_cast<int32_t>(n.x * 32000.0)),
                                 static_cast<int16_t>(static_cast<int32_t>(n.y * 32000.0)),
                                 static_cast<int16_t>(static_cast<int32_t>(n.z * 32000.0))};
        for (int32_t y : ring) {
            for (int32_t g : mesh.polygonsOf(y)) {
                const host::Polygon& p = obj.polygons[g];
                const int corners[4] = {p.a, p.b, p.c, p.d};
                for (int k = 0; k < (p.c == p.d ? 3 : 4); ++k) {
                    if (corners[k] != x) continue;
                    const int16_t* v = &tag->data[g].v[3 * k];
                    if (v[0] != want[0] || v[1] != want[1] || v[2] != want[2]) {
                        out << "normal of point " << x << " in polygon " << g << " is " << v[0] << "," << v[1] << ","
                            << v[2] << ", not " << want[0] << "," << want[1] << "," << want[2];
                        return out.str();
                    }
                    const double len = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
                    if (l != 0.0 && (len > 32000.0 || len < 32000.0 - 1.75)) {
                        out << "normal of point " << x << " has length " << len;
                        return out.str();
                    }
                }
            }
        }
    }
    return "";
}

std::string checkIslands(const host::PolygonObject& obj, float split) {
    const auto* tag = static_cast<const host::UVWTag*>(obj.tag(host::TAG_UVW));
    for (int f = 0; f < obj.polygonCount(); ++f) {
        const host::Polygon& p = obj.polygons[f];
        if (p.a == p.b) continue;
        int below = 0, above = 0;
        for (int k = 0; k < (p.c == p.d ? 3 : 4); ++k) (tag->data[f].corner(k).x < split ? below : above)++;
        if (below > 0 && above > 0) {
            std::ostringstream out;
            out << "polygon " << f << " spans both UV islands";
            return out.str();
        }
    }
    return "";
}

bool stepOnce(Decimator& d, Shadow& shadow, Step* step) {
    HeapEntry top;
    if (!d.takeCheapest(top)) return false;
    const ReductionMesh& mesh = *d.mesh();
    const int32_t v1 = d.candidate(top.id).v1, v2 = d.candidate(top.id).v2;
    const Vector target = d.placement(d.candidate(top.id)).target;
    const double l1 = length(subtract(target, mesh.position(v1)));
    const double l2 = length(subtract(target, mesh.position(v2)));
    const double f = l1 + l2 == 0.0 ? 0.5 : l1 / (l1 + l2);
    for (auto& bytes : shadow.pointSetBytes)
        bytes[v1] = static_cast<uint8_t>(static_cast<int>(bytes[v1] + (bytes[v2] - bytes[v1]) * f));
    for (auto& map : shadow.floatMaps)
        map[v1] = static_cast<float>(map[v1] + (static_cast<double>(map[v2]) - map[v1]) * f);
    if (!d.contract(top)) return false;
    shadow.removed[v2] = true;
    ++shadow.contractions;
    if (step != nullptr) *step = Step{v1, v2};
    return true;
}

}  // namespace mixtest
