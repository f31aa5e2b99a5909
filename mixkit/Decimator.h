// Edge-contraction decimation by the quadric error metric (Garland and Heckbert, "Surface
// simplification using quadric error metrics", 1997), extended to quads, to a restricted set of
// movable points, to constraint planes along open borders and polygon-selection borders, and to
// penalties for valence, loss of compactness and flipped polygons.
//
// Every point carries a quadric, the sum of the squared distances to the planes of its polygons.
// One candidate per edge between reducible points sits in a heap keyed by its negated cost (the
// summed quadric at the merged position, less the penalties); the loops pop the cheapest, merge its
// two ends on the host object (UVWs, point selections, float maps and corner normals follow, see
// AttributeTransfer) and re-cost the candidates around the kept point. Stops and progress go
// through the ReductionControl handed in.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "mixkit/CandidatePool.h"
#include "mixkit/Contraction.h"
#include "mixkit/EdgeCandidate.h"
#include "mixkit/FlatLists.h"
#include "mixkit/PlacementPolicy.h"
#include "mixkit/Quadric.h"
#include "mixkit/ReductionControl.h"
#include "mixkit/ReductionMesh.h"
#include "mixkit/SetupScratch.h"
#include "mixkit/WeightingPolicy.h"
#include "sources/Stack.h"

// How long the build passes of initialise took, for tuning: kept only when a clock is given, in
// the clock's units.
struct DecimatorStatistics {
    int64_t (*clock)() = nullptr;
    int64_t quadrics = 0;
    // The walk over the edges: the seam constraints, and the candidates' ends.
    int64_t constraints = 0;
    // Making, listing and keying the candidates.
    int64_t candidates = 0;
    // Parted phases the last decimate ran (0 to 2).
    int32_t partedPhases = 0;
    // With keepStandingKeys off, the last decimate's candidates whose keys stood when a part took
    // them, and of them those whose fresh keys differed.
    int64_t standingKeys = 0;
    int64_t standingKeysDiffering = 0;
};

// What a decimator is told before initialise.
struct DecimatorSettings {
    int32_t placementPolicy = PLACEMENT_OPTIMAL;
    // Area, Angle and AreaAverage weight the planes; any other value adds them unweighted, and
    // RawNormals alone keeps their normals unnormalised.
    int32_t weightingPolicy = WEIGHTING_AREA;
    int32_t useChecks = 1;  // non-zero: candidates go through the penalties
    double boundaryWeight = 1000.0;
    double compactnessPenalty = 0.0;
    double flipPenalty = 0.0;
    double valencePenalty = 0.0;
    // Worker threads of initialise's passes: 0 takes the host's worker thread count. The quadrics,
    // candidates and heap are the same for any count.
    int32_t threads = 0;
    // Reducible points a part holds at most when a reduction to a count starts with a parted phase
    // (Decimator::runParts): from four parts' worth of points on, and again for a second phase in
    // turned parts while that many are left. 0: never parted.
    int32_t partPoints = 32768;
    // In the parted phases a candidate taken with no contraction near either end since its key was
    // made keeps that key, the one it would be given again; false keys every candidate taken
    // afresh and counts the standing keys that differ from their fresh ones (statistics).
    bool keepStandingKeys = true;
};

// The candidates that end at one point. The decimator's lists hold candidate numbers (4 bytes
// where an address takes 8, and a million-polygon mesh has several million entries); this reads
// them as candidates. Valid until the next contraction.
class CandidateList {
public:
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = EdgeCandidate*;
        using difference_type = std::ptrdiff_t;
        using pointer = EdgeCandidate* const*;
        using reference = EdgeCandidate*;

        Iterator(const int32_t* at, const CandidatePool* pool) : at_(at), pool_(pool) {}
        EdgeCandidate* operator*() const { return pool_->at(*at_); }
        Iterator& operator++() {
            ++at_;
            return *this;
        }
        Iterator operator++(int) {
            const Iterator before = *this;
            ++at_;
            return before;
        }
        bool operator==(const Iterator& o) const { return at_ == o.at_; }
        bool operator!=(const Iterator& o) const { return at_ != o.at_; }

    private:
        const int32_t* at_;
        const CandidatePool* pool_;
    };

    CandidateList(FlatLists<int32_t>::List ids, const CandidatePool* pool) : count(ids.count), ids_(ids), pool_(pool) {}
    bool empty() const { return count == 0; }
    EdgeCandidate* operator[](int32_t i) const { return pool_->at(ids_.items[i]); }
    Iterator begin() const { return Iterator(ids_.items, pool_); }
    Iterator end() const { return Iterator(ids_.items + ids_.count, pool_); }

    const int32_t count;

private:
    FlatLists<int32_t>::List ids_;
    const CandidatePool* pool_;
};

class Decimator {
public:
    Decimator();
    ~Decimator() { release(); }
    Decimator(const Decimator&) = delete;
    Decimator& operator=(const Decimator&) = delete;

    // Filled in before initialise.
    DecimatorSettings settings;

    // Quadrics, constraints, candidates and heap for a built mesh. False when the mesh is missing,
    // a list cannot be had or a stop is asked for; the host object is then unchanged. `control`
    // (null: never stop, show nothing) is asked and told while the passes run.
    bool initialise(ReductionMesh* mesh, ReductionControl* control);
    // Contracts until the reducible point count reaches the target (below it, only candidates of
    // key exactly 0 go on). False when stopped through the control; what was done stays done.
    bool decimateToCount(int32_t target, bool showPercent, ReductionControl* control);
    // Contracts while the cheapest candidate's error does not exceed the limit.
    bool decimateToError(double limit, ReductionControl* control);
    // Frees the candidates, every list and the quadrics.
    void release();

    // One step at a time, as the loops go: the cheapest candidate taken from the heap (false when
    // none is left), then contracted.
    bool takeCheapest(HeapEntry& top) {
        orderCandidates();
        return heap_.popTop(top.id, top.key);
    }
    // Contracts a candidate of this decimator at the cost its key tells, taking it out of the heap
    // when it is still there: plans it on the mesh and performs it. False, with nothing changed,
    // when the memory for it cannot be had; false also when its history record could not be
    // stored (the reduction must then stop).
    bool contract(const HeapEntry& c);
    // The unnormalised normals (polygonNormal) of one point's polygons as they stand, in the order
    // of its polygon list: the candidates refreshed after a contraction all end at the kept point,
    // whose polygons would otherwise each be measured again for every one of them.
    struct KnownNormals {
        int32_t point;
        const Vector* normals;
    };
    static constexpr KnownNormals kNoKnownNormals{-1, nullptr};
    // `key` (the negated error at the target) lowered by the penalties of the polygons the
    // candidate would leave around the target (valence, least compactness, flipped polygons),
    // weighed at the size of the polygons around its ends (PenaltyScale.h); each flipped polygon
    // also adds the flip penalty times that error. Nothing is written. Initialise runs it on
    // several workers at once: it writes no shared scratch, except the mesh's polygon marks on a
    // mesh with repeated corners (initialise then keeps it on one worker). The polygons of the
    // point that `known` names are weighed at the normals it holds for them.
    double penalizedKey(const EdgeCandidate& c, const Vector& target, double key,
                        const KnownNormals& known = kNoKnownNormals);
    // Where the candidate's merged point goes and the error there, by the placement policy from
    // its ends' quadrics and positions. These change only at a contraction of one of the ends,
    // which refreshes the candidate, so this is what its key was made from.
    Placement placement(const EdgeCandidate& c) const;
    // The placement of a candidate taken from a heap: the one its fresh key was made with, when it
    // was re-keyed at the top just now, else worked out.
    Placement placement(const HeapEntry& c) const { return c.placed ? c.at : placement(*pool_.at(c.id)); }

    // What initialise built, to look at.
    const ReductionMesh* mesh() const { return mesh_; }
    const Quadric& quadric(int32_t p) const { return quadrics_.items[p]; }
    // The candidates that end at point p.
    CandidateList candidatesAt(int32_t p) const { return CandidateList(candidateLists_[p], &pool_); }
    // The heap of every candidate left (their numbers), cheapest on top.
    const EdgeHeap& candidates() {
        orderCandidates();
        return heap_;
    }
    // The candidate numbered id.
    const EdgeCandidate& candidate(int32_t id) const { return *pool_.at(id); }
    // Times of the build passes, taken with `clock` (null: none taken).
    void timeBuildWith(int64_t (*clock)()) { statistics_.clock = clock; }
    const DecimatorStatistics& statistics() const { return statistics_; }

private:
    enum class Target { Count, Error };
    // The set-up and the parted phases leave the whole-mesh heap's slots waiting, each candidate
    // placed in its own slot: put in order here, before anything but a key is read from it.
    void orderCandidates() {
        if (heap_.hasPending()) heap_.insertPending();
    }
    // What one thread's contractions work with: the heap they take from and put re-keyed candidates
    // into, their scratch, and in a parted phase the part's arena for its candidate lists (none: the
    // whole mesh, the heap every candidate is in).
    struct Lane {
        Lane() = default;
        explicit Lane(EdgeHeap* h) : heap(h) {}
        EdgeHeap* heap = nullptr;
        Contraction contraction;
        Stack<int32_t> starPoints;
        Stack<Vector> keptNormals;  // KnownNormals of the kept point, while its candidates are refreshed
        ReductionMesh::Lane mesh;
        FlatLists<int32_t>::Arena* candidateArena = nullptr;
        bool inPart() const { return candidateArena != nullptr; }
    };
    struct Part;
    // The parted phase of a reduction to `target` points: whether it runs, and the phase itself.
    // False when stopped through the control (what was done stays done, every candidate left is
    // back in the whole-mesh heap) or refused memory before anything changed.
    bool wantsParts(Target mode, int32_t target) const;
    bool runParts(int32_t target, bool showPercent, bool turned);
    // One round of one part: contractions in key order while the key stays within `limit` and
    // fewer than `most` were made; candidates that are not free are held. Answers how many were
    // made.
    int32_t runPart(Part& part, Lane& lane, double limit, int32_t most, int32_t worker, std::atomic<bool>& stop);
    // At the parted phase's end: every candidate left, in the point lists' order, into the
    // whole-mesh heap, at the key its part's heap holds, or keyed afresh (on the set-up workers)
    // where no part kept it; the parts' heaps are freed. False, with the heap left empty, when its
    // room is refused.
    bool gatherCandidates(Stack<Part>& parts, const Stack<int32_t>& partOf);
    // In a parted phase: whether a part may contract the candidate (both ends free).
    bool isFree(const EdgeCandidate& c) const {
        return (freeFlags_.items[c.v1] & freeFlags_.items[c.v2] & kFreePoint) != 0;
    }
    // In a parted phase that tracks them: whether the key the candidate's heap holds is the one it
    // would be given now, with no contraction near either end since it was made.
    bool keyStands(const EdgeCandidate& c) const {
        return trackTouched_ && ((freeFlags_.items[c.v1] | freeFlags_.items[c.v2]) & kTouchedPoint) == 0;
    }
    // Marks the corners of the polygons around a planned contraction's ends (keyStands).
    void markTouched(const Contraction& k);
    bool decimate(Target mode, int32_t targetCount, double limit, bool showPercent, ReductionControl* control);
    // The loop of decimate, on the calling thread.
    bool runLoop(Target mode, int32_t target, double limit, bool showPercent);
    // Shows the loop's progress: points left, with the percentage of the way when asked for.
    void showProgress(Target mode, int32_t initial, int32_t target, bool showPercent) const;
    // The build passes of initialise, each on the set-up workers (host worker threads with no
    // owner: they ask the control whether to stop, not a thread).
    bool buildQuadrics();
    // What the walk over the edges finds for the candidates: per block of points, the far ends of
    // its points' candidates (their reducible neighbours above them) in point order, and per point
    // how many are its own.
    struct FoundEnds {
        Stack<Stack<int32_t>> ends;
        Stack<int32_t> first;
    };
    // The set-up's one walk over every edge: the seam constraints' planes into the quadrics, and
    // the candidates' ends into `found`.
    bool walkEdges(FoundEnds& found);
    bool buildCandidates(FoundEnds& found);
    // The polygon planes summed into the quadrics of the points in [from, to), in polygon order;
    // the range that `polls` shows progress and asks for a stop, the others follow `stopped`.
    bool sumPlanes(int32_t from, int32_t to, bool polls, std::atomic<bool>& stopped);
    // True when the pass should stop at item i: at every 1000th item a stop seen by another worker,
    // or the poll (which then tells the others).
    bool stopAt(int32_t i, std::atomic<bool>& stopped) const;
    // The candidate's key from its placement's error and the penalties.
    double keyOf(const EdgeCandidate& c, const KnownNormals& known = kNoKnownNormals, Placement* placed = nullptr);
    // Keys a candidate taken from the heap afresh; when that makes it dearer it goes back into the
    // heap (true), else it stays out to be contracted at its fresh key (false, top.key and the
    // placement it was made with set).
    bool rekeyDearer(HeapEntry& top, EdgeHeap& heap);
    // Keys the candidate afresh and puts it into the heap at that key, or moves it there.
    void refreshCandidate(int32_t id, EdgeHeap& heap, const KnownNormals& known = kNoKnownNormals);
    // contract in a lane; in a part's lane false also when a list lacks the room (nothing changed).
    bool contractIn(const HeapEntry& c, Lane& lane);
    void performContraction(Lane& lane);
    void relinkCandidates(Lane& lane);
    // Fetches ahead what refreshing the candidates around p reads.
    void prefetchAround(int32_t p, const EdgeHeap& heap) const;
    // Fetches ahead what contracting c writes besides what its key reads, when it comes to the top
    // of a heap: the memory arrives while the key is made afresh.
    void prefetchContraction(const EdgeCandidate& c) const;
    // Tells whether the build passes or the loops should stop.
    bool breakRequested() const;
    // Shown every 1000 items of the build passes; true when a stop was asked for.
    bool pollBuild(int32_t index) const;
    // The candidate lists, each reducible point's with room for all of its edges.
    bool buildCandidateLists();
    // Room for everything the planned contraction will store, so that a contraction is either
    // made whole or not begun; false (reported on the console) when the host refuses the memory.
    bool reserveContraction(Lane& lane);
    // Adds one prospective face to the running penalty terms.
    struct PenaltyTerms {
        int32_t faces = 0;
        double leastCompactness = 1.0;
        int32_t flipped = 0;
    };
    // `before` is the face as it is, `corners` as the contraction would leave it; `normal`, when
    // given, is before's normal (else it is measured).
    void assessFace(const HostPolygon& before, const int32_t (&corners)[4], int32_t v1, const Vector& target,
                    PenaltyTerms& terms, const Vector* normal) const;

    ReductionMesh* mesh_ = nullptr;  // not owned
    Stack<Quadric> quadrics_;        // one per point
    FlatLists<int32_t> candidateLists_;  // per point, the numbers of the candidates that end there
    EdgeHeap heap_;
    ReductionControl* control_ = nullptr;  // asked whether to stop, told the progress; none: never stop
    DecimatorStatistics statistics_;
    CandidatePool pool_;
    Lane lane_{&heap_};  // the whole-mesh loop's
    // While the parted phases run: per point, kFreePoint while it is free (DecimatorParts.cpp), and
    // kTouchedPoint from the first contraction that changes a polygon around it. Every key and
    // penalty of a candidate is made from its ends' quadrics and positions and the polygons around
    // them, so a candidate neither of whose ends was touched still has the key it was given:
    // exactly the key it would be given now, when the keys were all made from the mesh as it was
    // at the first phase's start (trackTouched_).
    static constexpr uint8_t kFreePoint = 1;
    static constexpr uint8_t kTouchedPoint = 2;
    Stack<uint8_t> freeFlags_;
    // Whether every candidate in the heap has the key made from the mesh as it is: from initialise
    // until a decimate or a contract begins.
    bool keysAsBuilt_ = false;
    // Whether the parted phases running now track the touched points (they began with keysAsBuilt_).
    bool trackTouched_ = false;
    // Scratch of each set-up worker, while initialise runs.
    Stack<SetupScratch> scratch_;
    int32_t workers_ = 1;
    // Reducible points when the running decimate began.
    int32_t startCount_ = 0;
};
