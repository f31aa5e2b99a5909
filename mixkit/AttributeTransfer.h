// The data of a reduced object's tags, carried through each contraction: UVWs move to the merged
// point group by group across seams, a quad that turns into a triangle turns its UVW and normal
// records with it, point selections and float maps blend into the kept point, and the corner
// normals around the moved point are computed again. Every change is told to the history recorder
// handed in. The mesh is only read, through a TopologyView; the polygon marks it lends are scratch.
//
// The transfer keeps the lists of the tags it follows, taken from the object by collect: every UVW
// tag and float map with data for all polygons or points, the last normal tag, and the point- and
// polygon-selection tags (as membership bytes). The polygon selections are only read: their borders
// are seams the reduction keeps.
#pragma once

#include <cstdint>

#include "mixkit/Contraction.h"
#include "mixkit/TopologyView.h"
#include "sources/Geometry.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"
#include "sources/HostTag.h"
#include "sources/Stack.h"

class ContractionHistory;
class HistoryRecorder;

// A point-selection byte at or above this reads as selected when the bytes go back to the host.
constexpr uint8_t POINT_SET_THRESHOLD = 127;

// The UVW transfer's lists for one contraction: the polygons with both ends, with only the kept
// one, with only the other, and how far the transfer got with each. One per thread that contracts,
// so that threads contracting apart regions of a mesh at once share no scratch.
struct TransferScratch {
    struct PolygonState {
        int32_t polygon = 0;
        int32_t state = 0;
    };
    Stack<PolygonState> sharedPolygons;
    Stack<PolygonState> firstOnlyPolygons;
    Stack<PolygonState> secondOnlyPolygons;
    // Room for a contraction that touches `touched` polygon list entries; false when refused.
    bool reserve(int32_t touched) {
        return sharedPolygons.reserve(touched) && firstOnlyPolygons.reserve(touched) &&
               secondOnlyPolygons.reserve(touched);
    }
    void clear() {
        sharedPolygons.clear();
        firstOnlyPolygons.clear();
        secondOnlyPolygons.clear();
    }
};

class AttributeTransfer {
public:
    AttributeTransfer() = default;
    AttributeTransfer(const AttributeTransfer&) = delete;
    AttributeTransfer& operator=(const AttributeTransfer&) = delete;

    // Takes the tags of the object, which has the given counts of points and polygons. False when
    // the host refuses the memory (what was taken stays until release).
    bool collect(HostPolygonObject object, int32_t pointCount, int32_t polygonCount);
    // Points the lists at the tags' data again after the object moved it (a finish resizes the
    // object's arrays and tag data).
    void followTagData();
    void release();
    // Names the followed tags in the history's slots: the UVW tags, the float maps and the normal
    // tag in this transfer's order, the point-selection tags after the hidden points.
    void bindSlots(ContractionHistory& history) const;

    int32_t uvwTagCount() const { return uvwTags_.count; }
    // Asks the memory for polygon f's UVW rows, which a contraction around it rewrites.
    void prefetchUvwRows(int32_t f) const {
        for (int32_t t = 0; t < uvwTags_.count; ++t) {
            const char* row = reinterpret_cast<const char*>(uvwTags_.items[t].rows + f);
            __builtin_prefetch(row);
            __builtin_prefetch(row + sizeof(UvwRecord) - 1);
        }
    }
    HostTag uvwTag(int32_t t) const { return uvwTags_[t].tag; }
    int32_t floatMapCount() const { return floatMaps_.count; }
    HostTag floatMapTag(int32_t m) const { return floatMaps_[m].tag; }
    // The normal tag followed (none: not valid).
    HostTag normalTag() const { return normalTag_; }
    bool hasNormals() const { return normalRows_ != nullptr; }
    int32_t pointSetCount() const { return pointSets_.count; }
    HostSelection pointSet(int32_t s) const { return pointSets_[s].set; }
    // The blended membership byte of point p in point-selection tag s (255: fully selected).
    uint8_t pointSetByte(int32_t s, int32_t p) const { return pointSets_[s].bytes[p]; }
    int32_t seamSetCount() const { return seamSets_.count; }
    // Whether polygons f and g lie on different sides of a polygon-selection tag's border.
    bool acrossSeam(int32_t f, int32_t g) const {
        for (int32_t s = 0; s < seamSets_.count; ++s) {
            const Stack<uint8_t>& bytes = seamSets_.items[s].bytes;
            if (bytes[f] != bytes[g]) return true;
        }
        return false;
    }

    // Room in the corner-normal refresh's ring for a contraction that touches `touched` polygon
    // list entries (none needed while the normals are deferred); false when the host refuses it.
    bool reserveRing(int32_t touched) {
        return normalRows_ == nullptr || deferred_ || ringNormals_.reserve(4 * touched);
    }
    // History entries one contraction can add besides those of its polygons: a membership per
    // point-selection tag, a change per float map, and the hidden point.
    int32_t pointEntryBound() const { return pointSets_.count + floatMaps_.count + 1; }

    // The effects, in the order a contraction runs them. transferUvw runs while the polygons still
    // name both ends; turnCorners when moving the corners turns a quad's corners by `shift` to
    // make it a triangle; blendPointData and refreshNormals once the polygons are relinked.
    // `polygonMarks` is the mesh's scratch, one byte per polygon, zero on entry and on return.
    void transferUvw(const TopologyView& mesh, uint8_t* polygonMarks, const Contraction& k, TransferScratch& scratch,
                     HistoryRecorder& recorder);
    void turnCorners(int32_t f, int shift, HistoryRecorder& recorder);
    void blendPointData(const Contraction& k, HistoryRecorder& recorder);
    void refreshNormals(const TopologyView& mesh, uint8_t* polygonMarks, int32_t v1, HistoryRecorder& recorder);

    // Corner normals owed instead of refreshed, for a run of contractions that records no history
    // (a record holds each contraction's normals). While deferred, refreshNormals only notes the
    // points of its ring, and writeOwedNormals computes each noted point's normal once, from the
    // mesh as it then stands. The corners end as a refresh at every contraction leaves them: a
    // point's normal changes only when a polygon around it changes (which puts the point on that
    // contraction's ring again) or vanishes; settleLeavingPoints, called before a contraction,
    // writes at once the normals of noted points that a vanishing polygon takes off the ring.
    void deferNormals() { deferred_ = normalRows_ != nullptr; }
    bool normalsDeferred() const { return deferred_; }
    void settleLeavingPoints(const TopologyView& mesh, const Contraction& k);
    // Writes every owed normal and ends the deferral.
    void writeOwedNormals(const TopologyView& mesh);

    // Stores every point-selection tag's bytes into its set: a byte below POINT_SET_THRESHOLD
    // leaves the point unselected, any other selects it.
    void writeBackPointSets();

private:
    // A selection tag's set and its membership bytes (255 where set).
    struct SelectionBytes {
        HostSelection set;
        Stack<uint8_t> bytes;
    };
    struct FloatMap {
        HostTag tag;
        float* data = nullptr;
    };
    struct UvwTag {
        HostTag tag;
        UvwRecord* rows = nullptr;
    };
    // A ring point and its normal as stored at the corners (scaled and truncated once).
    struct RingNormal {
        int32_t point;
        int16_t v[3];
    };

    void transferUvwTag(const TopologyView& mesh, int32_t slot, int32_t v1, int32_t v2, const Vector& target,
                        double f, TransferScratch& scratch, HistoryRecorder& recorder);

    Stack<SelectionBytes> pointSets_;
    Stack<SelectionBytes> seamSets_;
    Stack<FloatMap> floatMaps_;
    Stack<UvwTag> uvwTags_;
    HostTag normalTag_;
    NormalRecord* normalRows_ = nullptr;
    // Writes point x's normal, as a refresh would, at its corners of every polygon around it.
    void writePointNormal(const TopologyView& mesh, int32_t x);

    // Place in ringNormals_ (1-based, 255: look it up) of the points of the ring being refreshed;
    // zero everywhere between refreshes, so a refresh never has to clear what others left. While
    // deferred, 1 where a point's normal is owed. Sized only when there are normals to refresh.
    Stack<uint8_t> ringMarks_;
    bool deferred_ = false;
    Stack<RingNormal> ringNormals_;
};
