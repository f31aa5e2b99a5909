// The host's modelling commands: grow and shrink a selection by one ring (204, 205), convert a point
// selection to polygons and back (206, 207), clean up a mesh (227) and copy an object tree (245).
//
// Words used below:
// - A polygon is *live* when a != b and all four corners index existing points. A polygon with a == b
//   is the host's dead polygon (a retired (0,0,0,0) row among them); dead polygons and polygons with
//   corners out of range take part in no selection command: they neither carry a ring nor get
//   selected, and their own selection state is left as it is.
// - A *ring* is defined by shared points: two polygons are neighbours when they share a point, two
//   points when they are corners of one live polygon.
//
// Hidden elements: growing never selects a hidden element of the kind being grown (a hidden point in
// point mode, a hidden polygon in polygon mode). Hidden polygons still connect their corners, so a
// visible point reached through a hidden polygon is selected. Shrinking and the conversions ignore
// the hidden sets: they only ever remove members, or define the selection exactly.
//
// The clean-up works in three passes over remap tables and leaves the actual moving of data to
// PolygonObject::compact, so that every tag (UVW and normal rows, selection tags, float maps) and
// every selection and hidden set stays with the element it belonged to:
// 1. merge (2077): in index order each point either becomes a representative or maps to the
//    lowest-indexed representative within the tolerance (distance <= tolerance; tolerance 0 merges
//    exactly equal positions only). Points only ever merge into a representative, never through a
//    chain, so no point moves further than the tolerance. A representative keeps its own position and
//    its own per-point data; the points merged into it are no longer used by any polygon (with 2079
//    on they go, their data with them). Points with a NaN or infinite coordinate never merge.
// 2. polygons (2078): a polygon that is dead as stored (a == b, (0,0,0,0) included) or has a corner out
//    of range is dropped. The others are looked at after merging: corners repeated by their cyclic
//    neighbour are removed; fewer than three corners left, or a quad whose opposite corners coincide
//    (a zero-area fold), is dropped; a quad left with three corners becomes a triangle (p, q, r, r)
//    in the same cyclic order, and its UVW and normal rows are reordered the same way so that each
//    corner's data stays with its point. A stored triangle that keeps three corners is not touched
//    beyond renumbering. With 2078 off polygons are only renumbered by the merge.
// 3. points (2079): points that no surviving polygon uses are dropped. A corner out of range in a
//    polygon kept with 2078 off is left as it is.
// Survivors keep their relative order in both arrays.
//
// The in-place commands (204 to 207, 227) need a document and polygon objects only; every object is
// checked before any is changed, and each changed object gets an update message. They record no undo:
// that is the caller's step. Command 245 needs no document and copies objects of any type.
#include "ModelingCommands.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <unordered_map>

namespace host {

namespace {

bool isLive(const Polygon& p, int pointCount) {
    auto inRange = [&](int i) { return i >= 0 && i < pointCount; };
    return p.a != p.b && inRange(p.a) && inRange(p.b) && inRange(p.c) && inRange(p.d);
}

std::array<int, 4> cornersOf(const Polygon& p) { return {p.a, p.b, p.c, p.d}; }

// Brings both selections and hidden sets to the object's counts before a command reads them.
void fitSelections(PolygonObject& obj) {
    obj.pointSelection.resize(obj.pointCount());
    obj.hiddenPoints.resize(obj.pointCount());
    obj.polygonSelection.resize(obj.polygonCount());
    obj.hiddenPolygons.resize(obj.polygonCount());
}

// Points that are corners of a live polygon for which `take(polygon index)` holds.
std::vector<uint8_t> cornersOfPolygons(const PolygonObject& obj, const std::vector<uint8_t>& take) {
    std::vector<uint8_t> marked(obj.pointCount(), 0);
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const Polygon& p = obj.polygons[i];
        if (!take[i] || !isLive(p, obj.pointCount())) continue;
        for (int c : cornersOf(p)) marked[c] = 1;
    }
    return marked;
}

std::vector<uint8_t> membersOf(const SelectionSet& set, int count) {
    std::vector<uint8_t> out(count, 0);
    for (int i = 0; i < count; ++i) out[i] = set.isSelected(i) ? 1 : 0;
    return out;
}

void growPoints(PolygonObject& obj) {
    const int n = obj.pointCount();
    const std::vector<uint8_t> selected = membersOf(obj.pointSelection, n);
    for (const Polygon& p : obj.polygons) {
        if (!isLive(p, n)) continue;
        const auto corners = cornersOf(p);
        bool touches = false;
        for (int c : corners) touches = touches || selected[c];
        if (!touches) continue;
        for (int c : corners)
            if (!obj.hiddenPoints.isSelected(c)) obj.pointSelection.select(c);
    }
}

void shrinkPoints(PolygonObject& obj) {
    const int n = obj.pointCount();
    const std::vector<uint8_t> selected = membersOf(obj.pointSelection, n);
    for (const Polygon& p : obj.polygons) {
        if (!isLive(p, n)) continue;
        const auto corners = cornersOf(p);
        bool hasUnselected = false;
        for (int c : corners) hasUnselected = hasUnselected || !selected[c];
        if (!hasUnselected) continue;
        for (int c : corners) obj.pointSelection.deselect(c);
    }
}

void growPolygons(PolygonObject& obj) {
    const int n = obj.pointCount();
    const std::vector<uint8_t> selected = membersOf(obj.polygonSelection, obj.polygonCount());
    const std::vector<uint8_t> reached = cornersOfPolygons(obj, selected);
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const Polygon& p = obj.polygons[i];
        if (selected[i] || obj.hiddenPolygons.isSelected(i) || !isLive(p, n)) continue;
        for (int c : cornersOf(p))
            if (reached[c]) {
                obj.polygonSelection.select(i);
                break;
            }
    }
}

void shrinkPolygons(PolygonObject& obj) {
    const int n = obj.pointCount();
    const std::vector<uint8_t> selected = membersOf(obj.polygonSelection, obj.polygonCount());
    std::vector<uint8_t> unselected(selected.size());
    for (size_t i = 0; i < selected.size(); ++i) unselected[i] = !selected[i];
    const std::vector<uint8_t> border = cornersOfPolygons(obj, unselected);
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const Polygon& p = obj.polygons[i];
        if (!selected[i] || !isLive(p, n)) continue;
        for (int c : cornersOf(p))
            if (border[c]) {
                obj.polygonSelection.deselect(i);
                break;
            }
    }
}

void pointsToPolygons(PolygonObject& obj) {
    const int n = obj.pointCount();
    SelectionSet next(obj.polygonCount());
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const Polygon& p = obj.polygons[i];
        if (!isLive(p, n)) continue;
        bool all = true;
        for (int c : cornersOf(p)) all = all && obj.pointSelection.isSelected(c);
        if (all) next.select(i);
    }
    obj.polygonSelection = std::move(next);
}

void polygonsToPoints(PolygonObject& obj) {
    const int n = obj.pointCount();
    // Corners come in polygon order, not point order: marked first, then selected in increasing
    // order, so that the set only ever appends to its last run.
    std::vector<uint8_t> reached(static_cast<size_t>(n > 0 ? n : 0), 0);
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const Polygon& p = obj.polygons[i];
        if (!obj.polygonSelection.isSelected(i) || !isLive(p, n)) continue;
        for (int c : cornersOf(p)) reached[c] = 1;
    }
    SelectionSet next(n);
    for (int c = 0; c < n; ++c)
        if (reached[c]) next.select(c);
    obj.pointSelection = std::move(next);
}

// --- clean-up -------------------------------------------------------------------------------------

// Merge table: target[i] is the representative point i goes to (i itself for a representative).
std::vector<int> mergeTargets(const std::vector<Vec3f>& points, double tolerance) {
    const int n = static_cast<int>(points.size());
    std::vector<int> target(n);
    for (int i = 0; i < n; ++i) target[i] = i;

    auto finite = [](const Vec3f& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); };

    if (!(tolerance > 0)) {
        // Exactly equal positions. Adding 0.0f turns -0 into +0 so that both hash alike, as they compare.
        struct Key {
            float x, y, z;
            bool operator==(const Key&) const = default;
        };
        struct KeyHash {
            size_t operator()(const Key& k) const {
                auto bits = [](float f) { return static_cast<size_t>(std::bit_cast<uint32_t>(f)); };
                return bits(k.x) * 73856093u ^ bits(k.y) * 19349663u ^ bits(k.z) * 83492791u;
            }
        };
        std::unordered_map<Key, int, KeyHash> first;
        for (int i = 0; i < n; ++i) {
            const Vec3f& p = points[i];
            if (!finite(p)) continue;  // NaN equals nothing; infinities are left alone as well
            const Key k{p.x + 0.0f, p.y + 0.0f, p.z + 0.0f};
            auto [it, inserted] = first.try_emplace(k, i);
            if (!inserted) target[i] = it->second;
        }
        return target;
    }

    // Grid of cells as wide as the tolerance: a representative within the tolerance lies in one of the
    // 27 cells around a point. Cell coordinates are clamped, which keeps neighbouring cells neighbours.
    const double limit = 1e15;
    auto cell = [&](float v) {
        const double c = std::floor(static_cast<double>(v) / tolerance);
        return static_cast<int64_t>(std::clamp(c, -limit, limit));
    };
    struct Cell {
        int64_t x, y, z;
        bool operator==(const Cell&) const = default;
    };
    struct CellHash {
        size_t operator()(const Cell& c) const {
            // Unsigned arithmetic: wrapping is wanted here.
            return static_cast<size_t>(static_cast<uint64_t>(c.x) * 73856093u ^
                                       static_cast<uint64_t>(c.y) * 19349663u ^
                                       static_cast<uint64_t>(c.z) * 83492791u);
        }
    };
    std::unordered_map<Cell, std::vector<int>, CellHash> grid;
    const double tol2 = tolerance * tolerance;
    for (int i = 0; i < n; ++i) {
        const Vec3f& p = points[i];
        if (!finite(p)) continue;
        const Cell home{cell(p.x), cell(p.y), cell(p.z)};
        int best = -1;
        for (int64_t dz = -1; dz <= 1; ++dz)
            for (int64_t dy = -1; dy <= 1; ++dy)
                for (int64_t dx = -1; dx <= 1; ++dx) {
                    auto it = grid.find({home.x + dx, home.y + dy, home.z + dz});
                    if (it == grid.end()) continue;
                    for (int r : it->second) {
                        if (best >= 0 && r >= best) break;  // cells list representatives in index order
                        const Vec3f& q = points[r];
                        const double ex = double(p.x) - q.x, ey = double(p.y) - q.y, ez = double(p.z) - q.z;
                        if (ex * ex + ey * ey + ez * ez <= tol2) best = r;
                    }
                }
        if (best >= 0)
            target[i] = best;
        else
            grid[home].push_back(i);
    }
    return target;
}

// What becomes of one polygon: dropped, or kept with its corners taken from the listed source corners
// (0..3 for a, b, c, d) of the merged polygon.
struct PolygonFate {
    bool keep = true;
    bool reordered = false;
    std::array<int, 4> from{0, 1, 2, 3};
};

PolygonFate judgePolygon(const Polygon& stored, const Polygon& merged, int pointCount) {
    PolygonFate fate;
    const auto storedCorners = cornersOf(stored);
    for (int c : storedCorners)
        if (c < 0 || c >= pointCount) fate.keep = false;
    if (stored.a == stored.b) fate.keep = false;  // dead as stored, (0,0,0,0) included
    if (!fate.keep) return fate;

    const auto m = cornersOf(merged);
    // Corner slots in cyclic order, without the repeated d of a stored triangle.
    int slots[4] = {0, 1, 2, 3};
    int count = stored.isTriangle() ? 3 : 4;
    // Drop every slot whose point repeats the one before it, the last one compared with the first.
    int kept[4];
    int k = 0;
    for (int s = 0; s < count; ++s)
        if (k == 0 || m[slots[s]] != m[kept[k - 1]]) kept[k++] = slots[s];
    if (k > 1 && m[kept[k - 1]] == m[kept[0]]) --k;

    if (k < 3) {
        fate.keep = false;
        return fate;
    }
    if (k == 4) {
        // Four slots with no repeated neighbours: either a proper quad, or opposite corners coincide.
        if (m[0] == m[2] || m[1] == m[3]) fate.keep = false;
        return fate;
    }
    // Three corners: a triangle (p, q, r, r). A stored triangle that kept its three corners is untouched.
    if (count == 3) return fate;
    fate.reordered = true;
    fate.from = {kept[0], kept[1], kept[2], kept[2]};
    return fate;
}

void cleanUp(PolygonObject& obj, const Settings& params) {
    const double tolerance = params.getReal(CLEANUP_TOLERANCE, 0.0);
    const bool mergePoints = params.getBool(CLEANUP_MERGE_POINTS, false);
    const bool dropPolygons = params.getBool(CLEANUP_DROP_POLYGONS, true);
    const bool dropPoints = params.getBool(CLEANUP_DROP_POINTS, true);

    const int n = obj.pointCount();
    const int m = obj.polygonCount();

    std::vector<int> target(n);
    if (mergePoints)
        target = mergeTargets(obj.points, tolerance);
    else
        for (int i = 0; i < n; ++i) target[i] = i;
    auto merged = [&](int c) { return c >= 0 && c < n ? target[c] : c; };

    // Rows of the tags whose data is per polygon corner; they are reordered with the corners.
    std::vector<UVWTag*> uvws;
    std::vector<NormalTag*> normals;
    for (const auto& t : obj.tags()) {
        if (auto* u = dynamic_cast<UVWTag*>(t.get())) uvws.push_back(u);
        if (auto* nt = dynamic_cast<NormalTag*>(t.get())) normals.push_back(nt);
    }

    std::vector<int> polygonRemap(m, -1);
    int survivors = 0;
    for (int i = 0; i < m; ++i) {
        const Polygon stored = obj.polygons[i];
        const Polygon mp{merged(stored.a), merged(stored.b), merged(stored.c), merged(stored.d)};
        if (!dropPolygons) {
            // Kept as they are, renumbered by the merge only.
            obj.polygons[i] = mp;
            polygonRemap[i] = survivors++;
            continue;
        }
        const PolygonFate fate = judgePolygon(stored, mp, n);
        if (!fate.keep) continue;
        polygonRemap[i] = survivors++;
        if (!fate.reordered) {
            obj.polygons[i] = mp;
            continue;
        }
        const auto mc = cornersOf(mp);
        obj.polygons[i] = {mc[fate.from[0]], mc[fate.from[1]], mc[fate.from[2]], mc[fate.from[3]]};
        for (UVWTag* u : uvws) {
            if (i >= static_cast<int>(u->data.size())) continue;
            const UVWRow old = u->data[i];
            for (int c = 0; c < 4; ++c) u->data[i].corner(c) = old.corner(fate.from[c]);
        }
        for (NormalTag* nt : normals) {
            if (i >= static_cast<int>(nt->data.size())) continue;
            const NormalRow old = nt->data[i];
            for (int c = 0; c < 4; ++c)
                for (int axis = 0; axis < 3; ++axis) nt->data[i].v[c * 3 + axis] = old.v[fate.from[c] * 3 + axis];
        }
    }

    std::vector<int> pointRemap(n, -1);
    int pointsLeft = 0;
    if (dropPoints) {
        std::vector<uint8_t> used(n, 0);
        for (int i = 0; i < m; ++i) {
            if (polygonRemap[i] < 0) continue;
            for (int c : cornersOf(obj.polygons[i]))
                if (c >= 0 && c < n) used[c] = 1;
        }
        for (int i = 0; i < n; ++i)
            if (used[i]) pointRemap[i] = pointsLeft++;
    } else {
        for (int i = 0; i < n; ++i) pointRemap[i] = pointsLeft++;
    }

    // The compaction renumbers every corner through the point table and would turn a corner that was
    // out of range into -1; such a corner (only kept with 2078 off) keeps its value instead, which is
    // out of range after the compaction as well, so the command never invents an index.
    std::vector<std::pair<int, std::array<int, 4>>> invalid;
    for (int i = 0; i < m; ++i) {
        if (polygonRemap[i] < 0) continue;
        const auto c = cornersOf(obj.polygons[i]);
        for (int k = 0; k < 4; ++k)
            if (c[k] < 0 || c[k] >= n) {
                invalid.emplace_back(polygonRemap[i], c);
                break;
            }
    }
    obj.compact(pointRemap, pointsLeft, polygonRemap, survivors);
    for (const auto& [i, stored] : invalid) {
        Polygon& p = obj.polygons[i];
        int* corners[4] = {&p.a, &p.b, &p.c, &p.d};
        for (int k = 0; k < 4; ++k)
            if (stored[k] < 0 || stored[k] >= n) *corners[k] = stored[k];
    }
}

}  // namespace

bool runModelingCommand(int32_t command, int32_t mode, Document* doc, const std::vector<Object*>& objects,
                        const Settings& params, std::vector<std::unique_ptr<Object>>* results) {
    for (Object* o : objects)
        if (!o) return false;

    if (command == CMD_CURRENT_STATE_TO_OBJECT) {
        if (!results) return false;
        for (Object* o : objects) results->push_back(o->cloneTree());
        return true;
    }

    switch (command) {
        case CMD_GROW_SELECTION:
        case CMD_SHRINK_SELECTION:
            if (mode != SELECT_MODE_POINTS && mode != SELECT_MODE_POLYGONS) return false;
            break;
        case CMD_POINTS_TO_POLYGONS:
        case CMD_POLYGONS_TO_POINTS:
        case CMD_CLEANUP: break;
        default: return false;
    }
    // The in-place commands edit objects of a document; every object is checked before any is touched.
    if (!doc) return false;
    for (Object* o : objects)
        if (!o->isPolygonObject() || !dynamic_cast<PolygonObject*>(o)) return false;

    for (Object* o : objects) {
        auto& obj = static_cast<PolygonObject&>(*o);
        fitSelections(obj);
        switch (command) {
            case CMD_GROW_SELECTION:
                if (mode == SELECT_MODE_POINTS)
                    growPoints(obj);
                else
                    growPolygons(obj);
                break;
            case CMD_SHRINK_SELECTION:
                if (mode == SELECT_MODE_POINTS)
                    shrinkPoints(obj);
                else
                    shrinkPolygons(obj);
                break;
            case CMD_POINTS_TO_POLYGONS: pointsToPolygons(obj); break;
            case CMD_POLYGONS_TO_POINTS: polygonsToPoints(obj); break;
            case CMD_CLEANUP: cleanUp(obj, params); break;
        }
        obj.message(MSG_UPDATE);
    }
    return true;
}

}  // namespace host
