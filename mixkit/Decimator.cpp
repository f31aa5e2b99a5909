#include "mixkit/Decimator.h"

#include "mixkit/PolygonMeasures.h"
#include "mixkit/PrefetchOnly.h"
#include "mixkit/StackHelpers.h"
#include "sources/HostWorkers.h"

namespace {

// Room the heap starts with, before and after initialise.
constexpr int32_t kHeapSlotsAtConstruction = 8;
constexpr int32_t kHeapSlotsAtInitialise = 100;
// Progress and the stop test run at most this often during the loops.
constexpr int64_t kProgressIntervalMs = 50;
// Every cache line of a point's quadric. A quadric takes 88 bytes, so a quarter of them (those that
// start in the last 24 bytes of a line) span three lines: the first and the last byte alone would
// leave the middle line to a wait in the placement.
void prefetchQuadric(const Quadric* q) {
    const char* at = reinterpret_cast<const char*>(q);
    static_assert(sizeof(Quadric) <= 2 * 64 + 1, "three lines at most");
    __builtin_prefetch(at);
    __builtin_prefetch(at + 64);
    __builtin_prefetch(at + sizeof(Quadric) - 1);
}

// Two levels of what re-keying reads around a point, each asked for over all the points before the
// next: the polygons of a list, then their corners' positions.
void prefetchFaces(const ReductionMesh& m, const FlatLists<int32_t>::List& polys) {
    const HostPolygon* polygons = m.polygonArray();
    for (int32_t j = 0; j < polys.count; ++j) __builtin_prefetch(polygons + polys.items[j]);
}
void prefetchCorners(const ReductionMesh& m, const FlatLists<int32_t>::List& polys) {
    const HostPolygon* polygons = m.polygonArray();
    const Vector* positions = m.positionArray();
    for (int32_t j = 0; j < polys.count; ++j) {
        const HostPolygon& f = polygons[polys.items[j]];
        __builtin_prefetch(positions + f.a);
        __builtin_prefetch(positions + f.b);
        __builtin_prefetch(positions + f.c);
        __builtin_prefetch(positions + f.d);
    }
}

}  // namespace

Decimator::Decimator() {
    heap_.setPositions(CandidatePositions{&pool_});
    heap_.reserve(kHeapSlotsAtConstruction);
}

bool Decimator::breakRequested() const { return control_ != nullptr && control_->stopRequested(); }

bool Decimator::pollBuild(int32_t index) const {
    if (index % 1000 != 0 || control_ == nullptr) return false;
    control_->busy();
    return control_->stopRequested();
}

bool Decimator::stopAt(int32_t i, std::atomic<bool>& stopped) const {
    if (i % 1000 != 0) return false;
    if (stopped.load(std::memory_order_relaxed)) return true;
    if (!pollBuild(i)) return false;
    stopped = true;
    return true;
}

bool Decimator::initialise(ReductionMesh* m, ReductionControl* control) {
    control_ = control;
    keysAsBuilt_ = false;
    if (m == nullptr) return false;
    // The passes run on the set-up workers; their scratch goes when initialise returns.
    workers_ = workerCount(settings.threads);
    struct DropScratch {
        Stack<SetupScratch>& scratch;
        ~DropScratch() { scratch.clear(); }
    } dropScratch{scratch_};
    scratch_.clear();
    if (!scratch_.resize(workers_)) return false;
    mesh_ = m;
    // Whatever an earlier initialise left is dropped.
    heap_.clear();
    pool_.release();
    candidateLists_.clear();
    // The quadrics are left unset here: each worker of buildQuadrics zeroes its own points, so that
    // the first touch of the array is shared too.
    quadrics_.clear();
    if (mesh_->pointCount() < 0 || !quadrics_.reserve(mesh_->pointCount()) || !buildCandidateLists()) return false;
    quadrics_.count = mesh_->pointCount();
    // Room in the heap for every candidate at once (each is in two lists, and the lists' room
    // bounds them): a heap that grew while the candidates are made would hold its old and its new
    // array together, at the set-up's peak. Room that no candidate takes is never touched.
    int64_t room = 0;
    for (int32_t p = 0; p < mesh_->pointCount(); ++p) room += candidateLists_.capacity(p);
    room /= 2;
    if (room > INT32_MAX || !heap_.reserve(room > kHeapSlotsAtInitialise ? static_cast<int32_t>(room)
                                                                         : kHeapSlotsAtInitialise))
        return false;

    auto now = [this] { return statistics_.clock != nullptr ? statistics_.clock() : 0; };
    const int64_t t0 = now();
    if (!buildQuadrics() || breakRequested()) return false;
    const int64_t t1 = now();
    FoundEnds found;
    if (!walkEdges(found) || breakRequested()) return false;
    const int64_t t2 = now();
    // A stop asked for while the candidates are built fails here as well, before the loop could
    // touch the object.
    if (!buildCandidates(found) || breakRequested()) return false;
    keysAsBuilt_ = true;
    statistics_.quadrics = t1 - t0;
    statistics_.constraints = t2 - t1;
    statistics_.candidates = now() - t2;
    return true;
}

bool Decimator::decimateToCount(int32_t target, bool showPercent, ReductionControl* control) {
    return decimate(Target::Count, target, 0.0, showPercent, control);
}

bool Decimator::decimateToError(double limit, ReductionControl* control) {
    return decimate(Target::Error, 0, limit, false, control);
}

void Decimator::showProgress(Target mode, int32_t initial, int32_t target, bool showPercent) const {
    const int32_t n = mesh_->reducibleCount();
    if (mode == Target::Count && showPercent) {
        int32_t percent = 100;
        if (initial != target) {
            const double done = static_cast<double>(initial - n) / static_cast<double>(initial - target) * 100.0;
            percent = done <= 0.0 ? 0 : done >= 100.0 ? 100 : static_cast<int32_t>(done);
        }
        control_->pointsLeft(n, percent);
    } else if (mode == Target::Error) {
        control_->pointsLeft(n, -1);
    } else {
        control_->busy();
    }
}

bool Decimator::decimate(Target mode, int32_t target, double limit, bool showPercent, ReductionControl* control) {
    control_ = control;
    if (mesh_ == nullptr) return false;
    // The progress counts from here, across the parted phase and the loop.
    startCount_ = mesh_->reducibleCount();
    statistics_.partedPhases = 0;
    statistics_.standingKeys = 0;
    statistics_.standingKeysDiffering = 0;
    // Whatever this call contracts, the keys are not all as built after it.
    const bool asBuilt = keysAsBuilt_;
    keysAsBuilt_ = false;
    if (wantsParts(mode, target)) {
        // The flags last through both phases: the second skips the keys that stand since the first.
        struct EndPhases {
            Decimator& d;
            void now() {
                d.freeFlags_.clear();
                d.trackTouched_ = false;
            }
            ~EndPhases() { now(); }
        } endPhases{*this};
        trackTouched_ = asBuilt;
        mesh_->deferCornerNormals();
        // A second phase in turned parts takes the regions the first one held at its borders.
        for (const bool turned : {false, true}) {
            if (turned && !wantsParts(mode, target)) break;
            ++statistics_.partedPhases;
            if (!runParts(target, showPercent, turned)) {
                orderCandidates();
                mesh_->settleCornerNormals();
                if (control_ != nullptr) control_->finished();
                return false;
            }
        }
        // The flags go before the lists are copied (the copies are made while the old arrays are held).
        endPhases.now();
        // The phases leave the lists' arrays mostly dead runs and full arenas: copied into arrays of
        // the room the lists need now, before the loop's first moved list would double them all.
        // Refused, the loop goes on with the arrays as they are.
        candidateLists_.repack(workers_);
        mesh_->repackPolygonLists(workers_);
    }
    return runLoop(mode, target, limit, showPercent);
}

bool Decimator::runLoop(Target mode, int32_t target, double limit, bool showPercent) {
    const int32_t initial = startCount_;
    int64_t t0 = control_ != nullptr ? control_->nowMs() : 0;
    bool ok = true;
    mesh_->deferCornerNormals();
    for (;;) {
        const int32_t n = mesh_->reducibleCount();
        if (control_ != nullptr && control_->nowMs() - t0 > kProgressIntervalMs) {
            showProgress(mode, initial, target, showPercent);
            if (control_->stopRequested()) {
                ok = false;
                break;
            }
            t0 = control_->nowMs();
        }
        HeapEntry top;
        if (!takeCheapest(top)) break;
        prefetchContraction(*pool_.at(top.id));
        if (settings.useChecks != 0 && rekeyDearer(top, heap_)) continue;
        // At the goal the candidate taken goes back: the heap keeps every edge left, for a
        // later call.
        const bool reached = mode == Target::Count ? n == target || (n < target && top.key != 0.0)
                                                   : placement(top).rawError > limit;
        if (reached) {
            heap_.insert(top.id, top.key);
            break;
        }
        if (!contract(top)) {
            // Refused for lack of memory before anything changed: the candidate goes back, so
            // that the heap still holds every edge left.
            if (!mesh_->recordingFailed()) heap_.insert(top.id, top.key);
            ok = false;
            break;
        }
    }
    mesh_->settleCornerNormals();
    if (control_ != nullptr) control_->finished();
    lane_.starPoints.clear();
    return ok;
}

bool Decimator::contract(const HeapEntry& c) {
    keysAsBuilt_ = false;
    orderCandidates();
    return contractIn(c, lane_);
}

bool Decimator::contractIn(const HeapEntry& c, Lane& lane) {
    // Out of memory: stop before the object is touched. Planning changes nothing but scratch.
    Contraction& k = lane.contraction;
    const EdgeCandidate& e = *pool_.at(c.id);
    // Relinking reads every candidate around both ends; their lists were asked for with the
    // contraction's other memory (prefetchContraction).
    for (const int32_t end : {e.v1, e.v2}) {
        const FlatLists<int32_t>::List ids = candidateLists_[end];
        for (int32_t i = 0; i < ids.count; ++i) __builtin_prefetch(pool_.at(ids.items[i]));
    }
    const int32_t polygons = mesh_->polygonsOf(e.v1).count + mesh_->polygonsOf(e.v2).count;
    if (!k.changedPolygons.reserve(polygons) || !k.dyingPolygons.reserve(polygons)) return false;
    const Placement at = placement(c);
    mesh_->planContraction(e.v1, e.v2, at.target, -c.key, k);
    k.rawError = at.rawError > 0.0 ? at.rawError : 0.0;
    if (!reserveContraction(lane)) return false;
    lane.heap->remove(c.id);  // a candidate taken with takeCheapest is no longer there
    if (lane.inPart() && trackTouched_) markTouched(k);
    performContraction(lane);
    // The candidate has left every list; its pool slot is simply not used again.
    return !mesh_->recordingFailed();
}

bool Decimator::reserveContraction(Lane& lane) {
    ReductionMesh& m = *mesh_;
    const Contraction& k = lane.contraction;
    const int32_t kept = candidateLists_.count(k.v1);
    const int32_t room = kept + candidateLists_.count(k.v2);
    if (!m.reserveContraction(k, lane.mesh) || !lane.starPoints.reserve(kept)) return false;
    // A part's lane moves a list only into the part's own arena: the shared array may not grow
    // while other parts use it.
    if (lane.inPart()) return candidateLists_.reserveIn(k.v1, room, *lane.candidateArena);
    bool ok = candidateLists_.reserve(k.v1, room);
    if (ok && m.recording()) ok = m.reserveRecord(k.v1, k.v2);
    return ok;
}

void Decimator::performContraction(Lane& lane) {
    const Contraction& k = lane.contraction;
    quadrics_[k.v1].add(quadrics_[k.v2]);
    relinkCandidates(lane);
    // The mesh's normal refresh walks the same lists and polygons as the candidates' refresh below.
    prefetchAround(k.v1, *lane.heap);
    mesh_->contract(k, lane.mesh);
    // Every candidate refreshed here ends at the kept point: its polygons' normals are measured
    // once for all of them (the same values each refresh would measure). Without the room, each
    // refresh measures them itself.
    KnownNormals known = kNoKnownNormals;
    if (settings.useChecks != 0 && settings.flipPenalty > 0.0) {
        const FlatLists<int32_t>::List polys = mesh_->polygonsOf(k.v1);
        if (lane.keptNormals.reserve(polys.count)) {
            const HostPolygon* polygons = mesh_->polygonArray();
            const Vector* positions = mesh_->positionArray();
            auto at = [positions](int32_t p) -> const Vector& { return positions[p]; };
            for (int32_t i = 0; i < polys.count; ++i)
                lane.keptNormals.items[i] = polygonNormal(polygons[polys.items[i]], at);
            known = KnownNormals{k.v1, lane.keptNormals.items};
        }
    }
    // In a part's lane the kept point was free, so every candidate around it lies in the part.
    const FlatLists<int32_t>::List around = candidateLists_[k.v1];
    for (int32_t i = 0; i < around.count; ++i) refreshCandidate(around.items[i], *lane.heap, known);
}

void Decimator::prefetchAround(int32_t p, const EdgeHeap& heap) const {
    // Refreshing the candidates at p reads, for each other end, its quadric and polygon list, the
    // polygons with their unit normals and the corners' positions: mostly memory that the
    // contraction itself did not touch. Asked for breadth first, level by level, the waits
    // overlap instead of following one another; nothing here changes any value (and so the call
    // is kept explicitly: PrefetchOnly.h).
    keepPrefetchCall();
    const ReductionMesh& m = *mesh_;
    const FlatLists<int32_t>::List around = candidateLists_[p];
    for (int32_t i = 0; i < around.count; ++i) {
        const EdgeCandidate& c = *pool_.at(around.items[i]);
        // The candidate's slot and its parent's, which re-keying it reads first.
        if (c.heapPosition >= 0 && c.heapPosition < heap.size()) {
            heap.prefetchSlot(c.heapPosition);
            heap.prefetchSlot((c.heapPosition - 1) / 2);
        }
        const int32_t u = otherEnd(c, p);
        prefetchQuadric(quadrics_.items + u);
        m.prefetchPolygonsOf(u);
    }
    if (settings.useChecks == 0 && !m.attributes().hasNormals()) return;
    for (int32_t i = 0; i < around.count; ++i) {
        const FlatLists<int32_t>::List polys = m.polygonsOf(otherEnd(*pool_.at(around.items[i]), p));
        for (int32_t j = 0; j < polys.count; j += 16) __builtin_prefetch(polys.items + j);
    }
    for (int32_t i = 0; i < around.count; ++i)
        prefetchFaces(m, m.polygonsOf(otherEnd(*pool_.at(around.items[i]), p)));
    for (int32_t i = 0; i < around.count; ++i)
        prefetchCorners(m, m.polygonsOf(otherEnd(*pool_.at(around.items[i]), p)));
}

void Decimator::prefetchContraction(const EdgeCandidate& c) const {
    candidateLists_.prefetchSpan(c.v1);
    candidateLists_.prefetchSpan(c.v2);
    mesh_->prefetchContraction(c.v1, c.v2);
}

void Decimator::markTouched(const Contraction& k) {
    // The polygons around both ends, as they are before the contraction: the ones it changes or
    // retires. Their corners are the points whose keys read them (the ends included).
    const HostPolygon* polygons = mesh_->polygonArray();
    uint8_t* flags = freeFlags_.items;
    for (const Stack<int32_t>* list : {&k.changedPolygons, &k.dyingPolygons}) {
        for (int32_t i = 0; i < list->count; ++i) {
            const HostPolygon& q = polygons[list->items[i]];
            flags[q.a] |= kTouchedPoint;
            flags[q.b] |= kTouchedPoint;
            flags[q.c] |= kTouchedPoint;
            flags[q.d] |= kTouchedPoint;
        }
    }
    flags[k.v1] |= kTouchedPoint;
    flags[k.v2] |= kTouchedPoint;
}

void Decimator::relinkCandidates(Lane& lane) {
    const Contraction& k = lane.contraction;
    Stack<int32_t>& starPoints = lane.starPoints;
    const int32_t v1 = k.v1;
    const int32_t v2 = k.v2;
    const FlatLists<int32_t>::List kept = candidateLists_[v1];
    // v1's list has room for v2's candidates (reserved with the contraction), so it does not move
    // while they are added and `gone` stays valid.
    const FlatLists<int32_t>::List gone = candidateLists_[v2];
    emptyKeepingStorage(starPoints);
    for (int32_t i = 0; i < kept.count; ++i) starPoints.push(otherEnd(*pool_.at(kept.items[i]), v1));
    for (int32_t i = 0; i < gone.count; ++i) {
        const int32_t id = gone.items[i];
        EdgeCandidate* e = pool_.at(id);
        const int32_t u = otherEnd(*e, v2);
        if (u != v1 && !contains(starPoints, u)) {
            e->v1 = v1;
            e->v2 = u;
            if (candidateLists_.push(v1, id)) continue;
            // No room in v1's list: the edge is dropped rather than left half linked.
        }
        candidateLists_.removeFirst(u, id);
        lane.heap->remove(id);
        // Candidates live in the pool until release; one that is dropped here is no longer in
        // any list or in a heap.
    }
    candidateLists_.empty(v2);
}

void Decimator::release() {
    heap_.clear();
    candidateLists_.clear();
    quadrics_.clear();
    pool_.release();
    lane_.starPoints.clear();
    lane_.contraction.changedPolygons.clear();
    lane_.contraction.dyingPolygons.clear();
    lane_.mesh.transfer.clear();
    freeFlags_.clear();
    scratch_.clear();
    mesh_ = nullptr;
}
