// The working mesh of one reduction. It wraps a host polygon object and edits the object's own point
// and polygon arrays in place, keeping beside them double positions, point-to-polygon adjacency,
// scratch marks, unit polygon normals and the flags taken from the selections handed in. A
// contraction is one transaction here (contract): its record is begun, the point moves, the
// polygons are relinked, the tags' data follows through the AttributeTransfer (which reads the
// mesh through a TopologyView), the removed point is hidden and the record closed; while a preview
// is recorded every edit goes into the history through the HistoryRecorder.
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
#include "mixkit/PolygonMeasures.h"
#include "mixkit/ReferenceFrame.h"
#include "mixkit/TopologyView.h"
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
    // Asks the memory for p's polygon list ahead of a walk over it.
    void prefetchPolygonsOf(int32_t p) const { pointPolygons.prefetchSpan(p); }
    // What the attribute transfer reads; valid until the object's arrays move (followObjectArrays).
    TopologyView view() const { return TopologyView{positions.items, hostPolygons, &pointPolygons}; }
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
    // The polygon's normal (PolygonMeasures.h), normalised when `unit` (zero stays).
    Vector polygonNormal(int32_t f, bool unit) const;
    double polygonArea(int32_t f) const;
    Plane polygonPlane(int32_t f, bool unit) const;
    double cornerAngle(int32_t a, int32_t b, int32_t c) const;

    // ---- walks ----
    // Appends the polygons that use both i and j.
    void polygonsOfEdge(int32_t i, int32_t j, Stack<int32_t>& list) { polygonsOfEdge(i, j, list, polygonMarks.items); }
    // Appends the points joined to p by a polygon edge, each once, in first-met order.
    void pointNeighbours(int32_t p, Stack<int32_t>& list) { pointNeighbours(p, list, pointMarks.items); }
    // The same walks with the caller's scratch marks (one byte per polygon, one per point), so that
    // several threads can walk the mesh at once while nothing changes it.
    void polygonsOfEdge(int32_t i, int32_t j, Stack<int32_t>& list, uint8_t* polygonMarks) const;
    void pointNeighbours(int32_t p, Stack<int32_t>& list, uint8_t* pointMarks) const;
    // Scratch marks, one byte per polygon, all zero between walks: a walk that sets marks clears
    // them again before it returns.
    uint8_t* polygonMarkArray() { return polygonMarks.items; }
    // The arrays behind the walks, for loops that only meet indices from the adjacency lists and
    // from live polygons (so always in range).
    const Vector* positionArray() const { return positions.items; }
    const HostPolygon* polygonArray() const { return hostPolygons; }

    // ---- contraction ----
    // Asks the memory for what contracting v1 and v2 writes beyond the polygons and positions a key
    // reads: the ends' host points, and the flags, marks and UVW rows of their polygons. Nothing
    // changes.
    void prefetchContraction(int32_t v1, int32_t v2) const;
    // Fills `k` for merging v2 into v1 at `target`.
    void planContraction(int32_t v1, int32_t v2, const Vector& target, double cost, Contraction& k);
    // One thread's scratch for contract. Threads that contract apart regions of the mesh at once
    // (the points and polygons each touches are its own) each bring a shared lane: no polygon list
    // then grows (reserveContraction only answers whether the room is there) and the retired counts
    // wait in the lane until addRetired. Not while recording.
    struct Lane {
        TransferScratch transfer;
        // Set for a shared lane: where the kept point's polygon list may move to.
        FlatLists<int32_t>::Arena* polygonArena = nullptr;
        bool shared() const { return polygonArena != nullptr; }
        int32_t retiredPoints = 0;
        int32_t retiredSetPolygons = 0;
    };
    // Room in the kept point's polygon list and in the attribute transfer's scratch lists for the
    // planned contraction; false when the host refuses the memory (or, in a shared lane, when the
    // list has not the room and its arena cannot give it).
    bool reserveContraction(const Contraction& k) { return reserveContraction(k, ownLane_); }
    bool reserveContraction(const Contraction& k, Lane& lane);
    // Performs a planned contraction, whole: its record begun, the UVWs moved while the polygons
    // still name both ends, the kept point moved, the polygons retired or relinked, point data
    // blended, corner normals refreshed, the removed point hidden and the record closed (the
    // history steps only while recording). Needs the room of reserveContraction (and, while
    // recording, reserveRecord).
    void contract(const Contraction& k) { contract(k, ownLane_); }
    void contract(const Contraction& k, Lane& lane);
    // Takes a shared lane's retired counts into the mesh's.
    void addRetired(Lane& lane);
    // Arenas for the polygon lists of shared lanes, placing their runs through `pool`
    // (FlatLists::makeArenas); closePolygonListArenas when they are done with.
    void makePolygonListArenas(double share, const int32_t* weights, int32_t count, FlatLists<int32_t>::Arena* arenas,
                               FlatLists<int32_t>::Pool* pool) {
        pointPolygons.makeArenas(share, weights, count, arenas, pool);
    }
    void closePolygonListArenas(const FlatLists<int32_t>::Pool& pool) { pointPolygons.closeArenas(pool); }
    // The point's polygon lists copied into an array of the room they need now (FlatLists::repack,
    // on up to `workers` host workers); false, with nothing changed, when refused.
    bool repackPolygonLists(int32_t workers = 1) { return pointPolygons.repack(workers); }
    // Around a run of contractions: without a history recorded, the corner normals are written once
    // at the run's end instead of at every contraction (AttributeTransfer::deferNormals), with the
    // same result; they must be settled before anything reads them.
    void deferCornerNormals() {
        if (!recording()) attributes_.deferNormals();
    }
    void settleCornerNormals() { attributes_.writeOwedNormals(view()); }
    // One relinking edit of contract: polygon f's corner v2 becomes v1, a quad that turns into a
    // triangle turns its corners (and their tag data) into the triangle form.
    void relinkPolygon(int32_t f, int32_t v2, int32_t v1);

    // ---- history ----
    // Starts recording every contraction into history() (see HistoryRecorder::start). False, with
    // nothing recorded, when the host refuses the memory.
    bool startRecording();
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
    // The steps of contract.
    void movePoint(const Contraction& k);
    void relinkPolygons(const Contraction& k, Lane& lane);
    void retirePolygon(int32_t f, Lane& lane);
    void retirePoint(int32_t v2, Lane& lane);
    void hideRemovedPoint(int32_t v2);

    // Takes p's marked polygons into `low` or `high` by their marks and clears the marks.
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
    bool repeatedCorners = false;
    AttributeTransfer attributes_;
    HistoryRecorder recorder_;
    Lane ownLane_;
};

// The normal is measured several times for every contraction; it lives here so that it inlines.
inline Vector ReductionMesh::polygonNormal(int32_t f, bool unit) const {
    return unit ? view().unitNormal(f) : view().normal(f);
}
