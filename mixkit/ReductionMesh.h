// The working mesh of one reduction. It wraps a host polygon object and edits the object's own point
// and polygon arrays in place, keeping beside them double positions, point-to-polygon adjacency,
// scratch marks, unit polygon normals and the flags taken from the selections handed in. The data
// of the object's tags follows each contraction through the mesh's AttributeTransfer, and while a
// preview is recorded every edit goes into the history through its HistoryRecorder.
//
// Polygons are the host's: four point indices, a triangle has c == d, a polygon with a == b is dead
// (retired polygons are written as 0, 0, 0, 0 and stay in the array; removed points stay in the
// point array, unreferenced, so that indices keep their meaning during a reduction).
#pragma once

#include <cstdint>

#include "mixkit/AttributeTransfer.h"
#include "mixkit/Contraction.h"
#include "mixkit/ContractionHistory.h"
#include "mixkit/FlatLists.h"
#include "mixkit/HistoryRecorder.h"
#include "mixkit/Plane.h"
#include "mixkit/ReferenceFrame.h"
#include "sources/Geometry.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"
#include "sources/Stack.h"

class ReductionMesh {
public:
    ReductionMesh() = default;
    ~ReductionMesh() { release(); }
    ReductionMesh(const ReductionMesh&) = delete;
    ReductionMesh& operator=(const ReductionMesh&) = delete;

    // Builds the mesh over the object: `reducible` names the points that take part, `polygons` the
    // polygon set handed in with them. On failure everything is released and false returned.
    bool build(HostPolygonObject object, HostSelection reducible, HostSelection polygons);
    // Measures the mesh in another frame (for example a whole object's frame while only a part of it
    // is reduced): positions and unit normals are taken from the host points again. Only between
    // build and the first contraction.
    void setFrame(const ReferenceFrame& f);
    // Points the mesh and its attribute lists at the object's arrays and tag data again, after the
    // object moved them (a finished level put back); the counts stay.
    void followObjectArrays();
    // Frees every list, ends any recording and clears every count; the host object is not touched.
    void release();

    // ---- what the mesh holds ----
    // Where the reduction measures: positions, quadrics, costs and the history's errors are in this
    // frame; only the moved points go back to the host, mapped to object units.
    const ReferenceFrame& frame() const { return frame_; }
    int32_t pointCount() const { return pointCount_; }
    int32_t polygonCount() const { return polygonCount_; }
    const Vector& position(int32_t p) const { return positions[p]; }
    const HostPolygon& polygon(int32_t f) const { return hostPolygons[f]; }
    // The live polygons that use point p (each once, unless hasRepeatedCorners).
    FlatLists<int32_t>::List polygonsOf(int32_t p) const { return pointPolygons[p]; }
    // Whether point p takes part and has not been merged away, and how many such points are left.
    bool isReducible(int32_t p) const { return reducibleFlags[p] != 0; }
    int32_t reducibleCount() const { return reducibleCount_; }
    // Whether point p is in the object's hidden set (as the mesh keeps it while recording).
    bool isHidden(int32_t p) const { return hiddenPointFlags[p] != 0; }
    // Whether polygon f is a live member of the polygon set handed to build, and how many are.
    bool inPolygonSet(int32_t f) const { return polygonFlags[f] != 0; }
    int32_t livePolygonSetCount() const { return livePolygonCount; }
    // Set by build when a live polygon uses one point at two of its corners (a triangle's c = d
    // aside). Contractions never make such a polygon, so without one every point's list holds each
    // polygon with that corner exactly once.
    bool hasRepeatedCorners() const { return repeatedCorners; }
    // Makes the walks that depend on it count over the adjacency lists, as for a mesh with repeated
    // corners: the same results by the slower road (for checking one against the other).
    void walkByLists() { repeatedCorners = true; }

    // The tags whose data follow the contractions.
    AttributeTransfer& attributes() { return attributes_; }
    const AttributeTransfer& attributes() const { return attributes_; }

    // ---- geometry ----
    // Triangle: (b - a) x (c - a); quad: (b - d) x (c - a); normalised when `unit` (zero stays).
    Vector polygonNormal(int32_t f, bool unit) const;
    // polygonNormal(f, true) as of the last change of f: kept for every live polygon and renewed
    // for the polygons of the moved point after each contraction.
    const Vector& unitNormal(int32_t f) const { return unitNormals[f]; }
    double polygonArea(int32_t f) const;
    Plane polygonPlane(int32_t f, bool unit) const;
    double cornerAngle(int32_t a, int32_t b, int32_t c) const;

    // ---- walks ----
    // Appends the polygons that use both i and j.
    void polygonsOfEdge(int32_t i, int32_t j, Stack<int32_t>& list);
    // Appends the points joined to p by a polygon edge, each once, in first-met order.
    void pointNeighbours(int32_t p, Stack<int32_t>& list);
    // Scratch marks, one byte per polygon, all zero between walks: a walk that sets marks clears
    // them again before it returns. markPolygons sets the marks of p's polygons to `value`,
    // addToMarks adds `value` to them.
    void markPolygons(int32_t p, uint8_t value);
    void addToMarks(int32_t p, uint8_t value);
    // The arrays behind the walks, for loops that only meet indices from the adjacency lists and
    // from live polygons (so always in range).
    uint8_t* polygonMarkArray() { return polygonMarks.items; }
    const HostPolygon* polygonArray() const { return hostPolygons; }
    const Vector* unitNormalArray() const { return unitNormals.items; }

    // ---- contraction ----
    // Fills `k` for merging v2 into v1 at `target`.
    void planContraction(int32_t v1, int32_t v2, const Vector& target, double cost, Contraction& k);
    // Room in the kept point's polygon list and in the attribute transfer's scratch lists for the
    // planned contraction; false when the host refuses the memory.
    bool reserveContraction(const Contraction& k);
    // The effects of a planned contraction, in the order it runs them:
    //  transferUvw     begins the contraction's record and moves the UVWs, while the polygons
    //                  still name both ends;
    //  moveCorners     moves the kept point, retires the dying polygons and relinks the others
    //                  (retirePolygon, relinkPolygon), renews the unit normals around the point;
    //  blendPointData  blends point selections and float maps, refreshes the corner normals,
    //                  hides the removed point and closes the record (while recording).
    void transferUvw(const Contraction& k);
    void moveCorners(const Contraction& k);
    void retirePolygon(int32_t f);
    void relinkPolygon(int32_t f, int32_t v2, int32_t v1);
    void blendPointData(const Contraction& k);

    // ---- history ----
    // Starts recording every contraction into history() (see HistoryRecorder::start). False, with
    // nothing recorded, when the host refuses the memory.
    bool startRecording() { return recorder_.start(attributes_, hiddenPointSet, reducibleCount_); }
    bool recording() const { return recorder_.recording(); }
    // Set when a record could not be stored; the reduction must stop.
    bool recordingFailed() const { return recorder_.failed(); }
    ContractionHistory& history() { return recorder_.history(); }
    const ContractionHistory& history() const { return recorder_.history(); }
    // An upper bound of the history entries that contracting v1 and v2 can produce.
    int32_t recordEntryBound(int32_t v1, int32_t v2) const;
    // Room in the history for the record of contracting v1 and v2; false when refused.
    bool reserveRecord(int32_t v1, int32_t v2) { return recorder_.reserve(recordEntryBound(v1, v2)); }

private:
    // The decimator walks the adjacency with the scratch marks in its hot loops.
    friend class Decimator;

    // Scratch walks over the marks.
    void collectUnmarked(int32_t p, Stack<int32_t>& list);
    void splitMarked(int32_t p, uint8_t threshold, Stack<int32_t>& low, Stack<int32_t>& high);

    bool buildAdjacency();

    HostPolygonObject object_;
    FloatVector* hostPoints = nullptr;
    ReferenceFrame frame_;
    Stack<Vector> positions;
    int32_t pointCount_ = 0;
    HostPolygon* hostPolygons = nullptr;
    int32_t polygonCount_ = 0;
    HostSelection reducibleSet;
    Stack<uint8_t> reducibleFlags;  // non-zero for points that take part and are not merged away
    int32_t reducibleCount_ = 0;
    HostSelection hiddenPointSet;
    Stack<uint8_t> hiddenPointFlags;  // 255 where hidden
    HostSelection polygonSet;
    Stack<uint8_t> polygonFlags;      // non-zero for members of polygonSet
    int32_t livePolygonCount = 0;     // live members of polygonSet
    // Per point, the live polygons that use it.
    FlatLists<int32_t> pointPolygons;
    Stack<uint8_t> pointMarks;
    Stack<uint8_t> polygonMarks;
    Stack<Vector> unitNormals;
    bool repeatedCorners = false;
    AttributeTransfer attributes_;
    HistoryRecorder recorder_;
};

// The small walks below run several times for every contraction; they live here so that they
// inline. Polygon and point indices met in the adjacency lists are always in range, so the marks
// are written directly.

inline Vector ReductionMesh::polygonNormal(int32_t f, bool unit) const {
    const HostPolygon& p = hostPolygons[f];
    const Vector& a = positions[p.a];
    const Vector& b = positions[p.b];
    const Vector& c = positions[p.c];
    Vector n;
    if (p.c == p.d) {
        n = cross(subtract(b, a), subtract(c, a));
    } else {
        const Vector& d = positions[p.d];
        n = cross(subtract(b, d), subtract(c, a));
    }
    return unit ? normalize(n) : n;
}

inline void ReductionMesh::markPolygons(int32_t p, uint8_t value) {
    const FlatLists<int32_t>::List list = pointPolygons[p];
    uint8_t* marks = polygonMarks.items;
    for (int32_t i = 0; i < list.count; ++i) marks[list.items[i]] = value;
}

inline void ReductionMesh::addToMarks(int32_t p, uint8_t value) {
    const FlatLists<int32_t>::List list = pointPolygons[p];
    uint8_t* marks = polygonMarks.items;
    for (int32_t i = 0; i < list.count; ++i) {
        uint8_t& m = marks[list.items[i]];
        m = static_cast<uint8_t>(m + value);
    }
}
