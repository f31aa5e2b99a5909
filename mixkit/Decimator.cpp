#include "mixkit/Decimator.h"

#include "mixkit/StackHelpers.h"
#include "sources/HostString.h"
#include "sources/Module.h"

namespace {

// Room the heap starts with, before and after initialise.
constexpr int32_t kHeapSlotsAtConstruction = 8;
constexpr int32_t kHeapSlotsAtInitialise = 100;
// Progress and the stop test run at most this often during the loops.
constexpr int64_t kProgressIntervalMs = 50;

int64_t timer() { return moduleApi()->clockMs(); }

}  // namespace

Decimator::Decimator() { heap_.reserve(kHeapSlotsAtConstruction); }

bool Decimator::breakRequested() const {
    return testBreak_ != nullptr && moduleApi()->threadTestBreak(testBreak_) != 0;
}

bool Decimator::pollBuild(int32_t index) const {
    if (index % 1000 != 0) return false;
    moduleApi()->statusSpin();
    return breakRequested();
}

bool Decimator::initialise(ReductionMesh* m, HostThreadBase* t) {
    testBreak_ = t;
    if (m == nullptr) return false;
    mesh_ = m;
    // Whatever an earlier initialise left is dropped.
    heap_.clear();
    pool_.release();
    if (!heap_.reserve(kHeapSlotsAtInitialise)) return false;
    candidateLists_.clear();
    quadrics_.clear();
    quadrics_.resize(mesh_->pointCount());
    if (quadrics_.count != mesh_->pointCount() || !buildCandidateLists()) return false;

    auto now = [this] { return statistics_.clock != nullptr ? statistics_.clock() : 0; };
    const int64_t t0 = now();
    if (!buildQuadrics() || breakRequested()) return false;
    const int64_t t1 = now();
    if (!addSeamConstraints() || breakRequested()) return false;
    const int64_t t2 = now();
    // A stop asked for while the candidates are built fails here as well, before the loop could
    // touch the object.
    if (!buildCandidates() || breakRequested()) return false;
    statistics_.quadrics = t1 - t0;
    statistics_.constraints = t2 - t1;
    statistics_.candidates = now() - t2;
    return true;
}

bool Decimator::decimateToCount(int32_t target, bool showPercent, HostThreadBase* t) {
    return decimate(Target::Count, target, 0.0, showPercent, t);
}

bool Decimator::decimateToError(double limit, HostThreadBase* t) {
    return decimate(Target::Error, 0, limit, false, t);
}

bool Decimator::decimate(Target mode, int32_t target, double limit, bool showPercent, HostThreadBase* t) {
    testBreak_ = t;
    if (mesh_ == nullptr) return false;
    const HostApi* api = moduleApi();
    const int32_t initial = mesh_->reducibleCount();
    int64_t t0 = timer();
    bool ok = true;
    for (;;) {
        const int32_t n = mesh_->reducibleCount();
        if (timer() - t0 > kProgressIntervalMs) {
            if (mode == Target::Count && showPercent) {
                int32_t percent = 100;
                if (initial != target) {
                    const double done = static_cast<double>(initial - n) / static_cast<double>(initial - target) * 100.0;
                    percent = done <= 0.0 ? 0 : done >= 100.0 ? 100 : static_cast<int32_t>(done);
                }
                api->statusBar(percent);
                api->statusText(HostString::fromInt(n).handle());
            } else if (mode == Target::Error) {
                api->statusText(HostString::fromInt(n).handle());
            } else {
                api->statusSpin();
            }
            if (breakRequested()) {
                ok = false;
                break;
            }
            t0 = timer();
        }
        EdgeCandidate* top = takeCheapest();
        if (top == nullptr) break;
        if (mode == Target::Count) {
            if (n == target || (n < target && top->heapKey != 0.0)) break;
        } else if (top->rawError > limit) {
            break;
        }
        if (!contract(top)) {
            // Refused for lack of memory before anything changed: the candidate goes back, so
            // that the heap still holds every edge left.
            if (!mesh_->recordingFailed()) heap_.insert(top, top->heapKey);
            ok = false;
            break;
        }
    }
    api->statusClear();
    starPoints_.clear();
    neighbours_.clear();
    edgePolygons_.clear();
    return ok;
}

bool Decimator::contract(EdgeCandidate* c) {
    // Out of memory: stop before the object is touched. Planning changes nothing but scratch.
    const int32_t polygons = mesh_->pointPolygons.count(c->v1) + mesh_->pointPolygons.count(c->v2);
    if (!contraction_.changedPolygons.reserve(polygons) || !contraction_.dyingPolygons.reserve(polygons)) return false;
    mesh_->planContraction(c->v1, c->v2, c->target, -c->heapKey, contraction_);
    contraction_.rawError = c->rawError > 0.0 ? c->rawError : 0.0;
    if (!reserveContraction(contraction_)) return false;
    heap_.remove(c);  // a candidate taken with takeCheapest is no longer there
    performContraction(contraction_);
    // The candidate has left every list; its pool slot is simply not used again.
    return !mesh_->recordingFailed();
}

bool Decimator::reserveAround(int32_t p) {
    const int32_t polys = mesh_->pointPolygons.count(p);
    return neighbours_.reserve(4 * polys) && edgePolygons_.reserve(polys);
}

bool Decimator::reserveContraction(const Contraction& k) {
    ReductionMesh& m = *mesh_;
    const int32_t kept = candidateLists_.count(k.v1);
    bool ok = m.reserveContraction(k) && starPoints_.reserve(kept) &&
              candidateLists_.reserve(k.v1, kept + candidateLists_.count(k.v2));
    if (ok && m.recording()) ok = m.reserveRecord(k.v1, k.v2);
    return ok;
}

void Decimator::performContraction(const Contraction& k) {
    quadrics_[k.v1].add(quadrics_[k.v2]);
    // The UVWs move first, while the polygons still name both ends (this also begins the record).
    mesh_->transferUvw(k);
    relinkCandidates(k);
    mesh_->moveCorners(k);
    mesh_->blendPointData(k);
    const FlatLists<EdgeCandidate*>::List around = candidateLists_[k.v1];
    for (int32_t i = 0; i < around.count; ++i) refreshCandidate(around.items[i]);
}

void Decimator::relinkCandidates(const Contraction& k) {
    const int32_t v1 = k.v1;
    const int32_t v2 = k.v2;
    const FlatLists<EdgeCandidate*>::List kept = candidateLists_[v1];
    // v1's list has room for v2's candidates (reserved with the contraction), so it does not move
    // while they are added and `gone` stays valid.
    const FlatLists<EdgeCandidate*>::List gone = candidateLists_[v2];
    emptyKeepingStorage(starPoints_);
    for (int32_t i = 0; i < kept.count; ++i) starPoints_.push(otherEnd(*kept.items[i], v1));
    for (int32_t i = 0; i < gone.count; ++i) {
        EdgeCandidate* e = gone.items[i];
        const int32_t u = otherEnd(*e, v2);
        if (u != v1 && !contains(starPoints_, u)) {
            e->v1 = v1;
            e->v2 = u;
            if (candidateLists_.push(v1, e)) continue;
            // No room in v1's list: the edge is dropped rather than left half linked.
        }
        candidateLists_.removeFirst(u, e);
        heap_.remove(e);
        // Candidates live in the pool until release; one that is dropped here is no longer in
        // any list or in the heap_.
    }
    candidateLists_.empty(v2);
}

void Decimator::release() {
    heap_.clear();
    candidateLists_.clear();
    quadrics_.clear();
    pool_.release();
    starPoints_.clear();
    contraction_.changedPolygons.clear();
    contraction_.dyingPolygons.clear();
    neighbours_.clear();
    edgePolygons_.clear();
    mesh_ = nullptr;
}
