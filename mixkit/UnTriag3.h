// Quad reconstruction: merges pairs of neighbouring triangles of a host polygon object back into
// quads, in place, best pair first.
//
// A pair (i, j) is merged only when
//   - both are proper triangles (c == d, three distinct corners) that may take part,
//   - they share exactly one edge, which no third polygon uses, and run it in opposite directions
//     (the same facing), and the corner of j off that edge is not a corner of i,
//   - they have the same membership in every polygon-selection tag,
//   - their texture coordinates agree at both shared corners in every UVW tag (each of u, v, w
//     closer than 0.0001),
//   - the quad they make is convex.
// Candidates are ranked by key = compactness + m0 . m2: how close the quad is to a square (1 for a
// square, from twice its area over the summed squared edge lengths) plus the cosine between the
// normals of its two halves split along p1-p3. The triangle with the smaller index becomes the quad,
// the other is left as an empty polygon (0, 0, 0, 0) for the host clean-up to drop. The merged
// quad is stored with the shared edge as its diagonal a-c, so that its triangles (a, b, c) and
// (a, c, d), as it is drawn and measured, are the pair it came from; its UVW rows and corner-normal
// rows follow its corners.
#pragma once

#include <cstdint>

#include "mixkit/CandidateHeap.h"
#include "sources/HostInterface.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"
#include "sources/HostTag.h"
#include "sources/Stack.h"

// The edge of the first triangle that a candidate merges across. The edge c-a is numbered 3 since
// it is the edge d-a of a triangle (d == c).
enum : int32_t { QUAD_EDGE_AB = 0, QUAD_EDGE_BC = 1, QUAD_EDGE_CA = 3 };

// One possible merge, ordered in the candidate heap by its key (larger is better).
struct QuadCandidate : HeapItem {
    int32_t first = 0;   // the triangle that becomes the quad (the smaller index)
    int32_t second = 0;  // the neighbouring triangle that is emptied
    int32_t edge = 0;    // QUAD_EDGE_*: which edge of `first` is shared
};

// The per-polygon memberships of one polygon-selection tag.
struct SelectionTagFlags {
    HostTag tag;
    Stack<uint8_t> members;  // one byte per polygon, 1 for a member
    uint8_t flag = 0;        // 1 once `members` holds the tag's memberships
};

// The key of merging into the quad p0 p1 p2 p3 (corner order as it would be stored). False when the
// quad is not convex: the unit corner normals mk = (p(k+1) - pk) x (p(k-1) - pk) (zero vectors
// stay zero) must satisfy m0.m1 >= 0, m1.m2 >= 0 and m2.m3 >= 0. A unit square scores 2.
bool quadCandidateKey(const double quad[4][3], double* key);

class UnTriag3 {
public:
    UnTriag3() = default;
    ~UnTriag3() { release(); }
    UnTriag3(const UnTriag3&) = delete;
    UnTriag3& operator=(const UnTriag3&) = delete;

    // Merges triangle pairs of `object`. With a valid `polygonSet` only its members take part,
    // otherwise every polygon may. False when there is no polygon object or when the host refuses
    // memory for the bookkeeping; then no polygon has been changed. A candidate whose record cannot
    // be stored is skipped. The lists stay filled until release (or the destructor).
    bool run(HostPolygonObject target, HostSelection polygonSet = HostSelection());
    // Frees every list of the last run.
    void release();

    // Pairs merged by the last run.
    int32_t mergedCount() const { return merged; }

    // Allocation tag of the module's records.
    static constexpr const char* sourceTag = "UnTriag3";

    // The context of one run, as the lists were filled.
    HostPolygonObject object;
    const float* points = nullptr;  // three floats per point, read only
    int32_t pointCount = 0;
    HostPolygon* polygons = nullptr;  // edited in place
    int32_t polygonCount = 0;
    Stack<uint8_t> polygonFlags;                // non-zero: the polygon may take part
    Stack<SelectionTagFlags> selectionTagFlags;  // one per polygon-selection tag
    Stack<HostTag> uvwTags;                      // the object's UVW tags
    Stack<HostTag> normalTags;                   // the object's corner-normal tags
    CandidateHeap candidates;

private:
    bool fillFlags(HostSelection polygonSet);
    bool collectTags();
    bool buildNeighbours();
    // Frees the neighbour table and the candidate records (the run's scratch, not its results).
    void releaseNeighboursAndCandidates();
    // A merge found for triangle i, before it has a record in the heap.
    struct FoundPair {
        int32_t first, second, edge;
        double key;
    };
    // The merges of triangle i with its neighbours of higher index, in edge order; false when `out`
    // cannot grow. Reads only, so that blocks of triangles can be searched side by side.
    bool findPairs(int32_t i, Stack<FoundPair>& out) const;
    // Every triangle's merges into the heap, in triangle order: found by the host's workers in
    // blocks and inserted here block by block, so that the heap is the one a single pass makes.
    void collectCandidates();
    void addCandidate(const FoundPair& pair);
    QuadCandidate* makeCandidate();
    void merge(const QuadCandidate& c);

    bool isTriangle(int32_t i) const;
    // A proper triangle that may take part.
    bool mayMerge(int32_t i) const;
    bool isLive(int32_t i) const;
    // The polygon across the edge u -> v of polygon i, when exactly one other live polygon uses that
    // edge and runs it v -> u; -1 otherwise.
    int32_t neighbourAcross(int32_t i, int32_t u, int32_t v) const;
    bool sameSelections(int32_t i, int32_t j) const;
    bool sameUvw(int32_t i, int32_t slotI, int32_t j, int32_t slotJ) const;
    bool hasCornerRows(int32_t i) const;

    // Point-to-polygon lists (the neighbour table): the live polygons using point p are
    // cornerPolygons[cornerStart[p] .. cornerStart[p + 1]), in ascending order.
    Stack<int32_t> cornerStart;
    Stack<int32_t> cornerPolygons;

    // Candidate records, handed out from blocks of the host allocator and freed all together.
    Stack<QuadCandidate*> candidateBlocks;
    QuadCandidate* nextCandidate = nullptr;
    int32_t candidatesLeft = 0;

    int32_t merged = 0;
};
