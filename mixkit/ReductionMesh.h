// The working mesh of one reduction. It wraps a host polygon object and edits the object's own point
// and polygon arrays (and the data of its tags) in place, keeping beside them double positions,
// point-to-polygon adjacency, scratch marks, the flags taken from the selections handed in and the
// lists of the tags whose data follow each contraction.
//
// Polygons are the host's: four point indices, a triangle has c == d, a polygon with a == b is dead
// (retired polygons are written as 0, 0, 0, 0 and stay in the array; removed points stay in the
// point array, unreferenced, so that indices keep their meaning during a reduction).
#pragma once

#include <cstdint>

#include "mixkit/ChangeRecord.h"
#include "mixkit/Contraction.h"
#include "mixkit/FlatLists.h"
#include "mixkit/ContractionHistory.h"
#include "mixkit/Plane.h"
#include "mixkit/ReferenceFrame.h"
#include "sources/Geometry.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"
#include "sources/HostTag.h"
#include "sources/Stack.h"

// A selection tag's set and its membership bytes (255 where set).
struct SelectionBytes {
    HostSelection set;
    Stack<uint8_t> bytes;
    uint8_t spare = 0;
};

// A per-point float map and its data.
struct VertexMapEntry {
    HostTag tag;
    float* data = nullptr;
};

// A UVW tag and its records.
struct UvwTagEntry {
    HostTag tag;
    int32_t spare = 0;
    UvwRecord* rows = nullptr;
};

// A polygon of the UVW transfer's scratch lists and how far the transfer got with it.
struct PolygonState {
    int32_t polygon = 0;
    int32_t state = 0;
};

// The history's selection slots: the hidden points, then the point-selection tags in order.
constexpr int32_t HISTORY_HIDDEN_POINTS = 0;
constexpr int32_t HISTORY_POINT_SETS = 1;

// A point-selection byte at or above this reads as selected when the bytes go back to the host.
constexpr uint8_t POINT_SET_THRESHOLD = 127;

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
    // Frees every list and clears every count; the host object is not touched.
    void release();

    // Triangle: (b - a) x (c - a); quad: (b - d) x (c - a); normalised when `unit` (zero stays).
    Vector polygonNormal(int32_t f, bool unit) const;
    // polygonNormal(f, true) as of the last change of f: kept for every live polygon and renewed
    // for the polygons of the moved point after each contraction.
    const Vector& unitNormal(int32_t f) const { return unitNormals[f]; }
    double polygonArea(int32_t f) const;
    Plane polygonPlane(int32_t f, bool unit) const;
    double cornerAngle(int32_t a, int32_t b, int32_t c) const;

    // Appends the polygons that use both i and j.
    void polygonsOfEdge(int32_t i, int32_t j, Stack<int32_t>& list) { polygonsOfEdge(i, j, list, polygonMarks.items); }
    // Appends the points joined to p by a polygon edge, each once, in first-met order.
    void pointNeighbours(int32_t p, Stack<int32_t>& list) { pointNeighbours(p, list, pointMarks.items); }
    // The same walks with the caller's scratch marks (one byte per polygon, one per point), so that
    // several threads can walk the mesh at once while nothing changes it.
    void polygonsOfEdge(int32_t i, int32_t j, Stack<int32_t>& list, uint8_t* polygonMarks) const;
    void pointNeighbours(int32_t p, Stack<int32_t>& list, uint8_t* pointMarks) const;

    // Fills `k` for merging v2 into v1 at `target`.
    void planContraction(int32_t v1, int32_t v2, const Vector& target, double cost, Contraction& k);

    // Contraction effects, in the order a contraction runs them.
    void transferUvw(const Contraction& k);
    void moveCorners(const Contraction& k);
    void retirePolygon(int32_t f);
    void relinkPolygon(int32_t f, int32_t v2, int32_t v1);
    void blendPointData(const Contraction& k);
    void refreshNormals(int32_t v1);

    // Stores every point-selection tag's bytes into its set: a byte below POINT_SET_THRESHOLD
    // leaves the point unselected, any other selects it.
    void writeBackPointSets();

    // Room in the kept point's polygon list and in the scratch lists for the planned contraction;
    // false when the host refuses the memory.
    bool reserveContraction(const Contraction& k);
    // An upper bound of the history entries that contracting v1 and v2 can produce.
    int32_t recordEntryBound(int32_t v1, int32_t v2) const;

    // Whether point p is in the object's hidden set (as the mesh keeps it while recording).
    bool isHidden(int32_t p) const { return hiddenPointFlags[p] != 0; }
    // Whether polygon f is a live member of the polygon set handed to build, and how many are.
    bool inPolygonSet(int32_t f) const { return polygonFlags[f] != 0; }
    int32_t livePolygonSetCount() const { return livePolygonCount; }

    HostPolygonObject object;
    FloatVector* hostPoints = nullptr;
    // Where the reduction measures: positions, quadrics, costs and the history's errors are in this
    // frame; only the moved points go back to the host, mapped to object units.
    ReferenceFrame frame;
    Stack<Vector> positions;
    int32_t pointCount = 0;
    HostPolygon* hostPolygons = nullptr;
    int32_t polygonCount = 0;
    Stack<uint8_t> reducibleFlags;
    int32_t reducibleCount = 0;
    HostSelection polygonSet;
    // Per point, the live polygons that use it.
    FlatLists<int32_t> pointPolygons;
    Stack<SelectionBytes> pointSets;
    Stack<SelectionBytes> seamSets;
    Stack<VertexMapEntry> vertexMaps;
    Stack<UvwTagEntry> uvwTags;
    HostTag normalTag;
    NormalRecord* normalRows = nullptr;
    uint32_t recording = 0;
    ContractionHistory history;
    // Set when a record could not be stored; the reduction must stop.
    bool recordingFailed = false;
    // Set by build when a live polygon uses one point at two of its corners (a triangle's c = d
    // aside). Contractions never make such a polygon, so without one every point's list holds each
    // polygon with that corner exactly once.
    bool repeatedCorners = false;

private:
    // The decimator walks the adjacency with the scratch marks; the history binds the hidden set.
    friend class Decimator;
    friend class ContractionHistory;

    // A ring point and its normal as stored at the corners (scaled and truncated once).
    struct RingNormal {
        int32_t point;
        int16_t v[3];
    };

    // Scratch marks over the polygons of a point.
    void markPolygons(int32_t p, uint8_t value);
    void addToMarks(int32_t p, uint8_t value);
    void splitMarked(int32_t p, uint8_t threshold, Stack<int32_t>& low, Stack<int32_t>& high);

    bool buildAdjacency();
    bool collectTags();
    void record(const ChangeEntry& entry);
    void recordPolygonChange(int32_t f, const HostPolygon& before, const HostPolygon& after);
    void recordUvwChange(int32_t tag, int32_t f, const UvwRecord& before, const UvwRecord& after);
    void recordNormalChange(int32_t f, const NormalRecord& before, const NormalRecord& after);
    // `set`: HISTORY_HIDDEN_POINTS, or HISTORY_POINT_SETS plus the index in pointSets.
    void recordMembership(int32_t set, int32_t index, bool before, bool after);
    void transferUvwTag(int32_t slot, int32_t v1, int32_t v2, const Vector& target, double f);
    // The UVW that one shared polygon suggests for the merged point; false when it came from the
    // interpolation between the ends' UVWs (the polygon has no area to measure with).
    bool estimateUvw(int32_t polygon, const UvwRecord& row, int32_t v1, int32_t v2, const Vector& target,
                     double f, const Vector& u1, const Vector& u2, Vector& estimate) const;

    HostSelection reducibleSet;
    HostSelection hiddenPointSet;
    Stack<uint8_t> hiddenPointFlags;  // 255 where hidden
    Stack<uint8_t> polygonFlags;      // non-zero for members of polygonSet
    int32_t livePolygonCount = 0;     // live members of polygonSet
    Stack<uint8_t> pointMarks;
    Stack<uint8_t> polygonMarks;
    // Place in ringNormals_ (1-based, 255: look it up) of the points of the ring being refreshed;
    // zero everywhere between refreshes, so a refresh never has to clear what others left.
    Stack<uint8_t> ringMarks;
    Stack<Vector> unitNormals;
    Stack<PolygonState> sharedPolygons;
    Stack<PolygonState> firstOnlyPolygons;
    Stack<PolygonState> secondOnlyPolygons;
    Stack<RingNormal> ringNormals_;
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
