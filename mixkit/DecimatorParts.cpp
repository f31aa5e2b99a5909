// The parted phase of a large reduction to a count. The reducible points are cut into spatial
// parts (MeshParts.h); a point is free when every corner of its polygons lies in its own part.
// Each part keeps the candidates whose two ends lie in it on a heap of its own and contracts them in
// key order, as the whole-mesh loop would, but only where both ends are free. Around a free point
// everything a contraction reads or writes belongs to its part, and what a key reads across the
// part's border (the corners beyond it) never moves during the phase, so the parts run side by side
// on the set-up workers and the result is the same for any number of them.
//
// A candidate that comes up while one of its ends is not free (it reaches the part's border, or a
// candidate held before touched it), or that the part cannot make (its list's arena is full), is
// held: it would have been contracted here, so its ends stop being free, and what comes up around
// them is held in turn. The regions the border affects are left as they are for the whole-mesh
// loop, instead of being reduced in another order.
//
// The parts go in rounds of a rising key limit, so that all of them take the cheap contractions
// before the dearer ones. The phase stops when it has gone its share of the way on the points still
// free (what is held waits, so the free regions do not run ahead of it), and each round shares what
// is left of that among the parts by their sizes, so the phase never goes further. The whole-mesh
// loop then takes every candidate left, keyed afresh where no part kept its key, and goes the rest
// of the way.
//
// Where enough is left, a second phase runs the same way in parts split in a turned frame
// (MeshParts.h) before that loop: their borders cross the first phase's instead of running along
// them, so the regions the first phase held at its borders now lie mostly inside parts.
#include <algorithm>

#include "mixkit/Decimator.h"
#include "mixkit/MeshParts.h"
#include "mixkit/StackHelpers.h"
#include "sources/HostWorkers.h"

namespace {

// The share of the contractions asked for that the parted phase makes at most.
constexpr double kPartedShare = 0.85;
// The round's key limit grows by this factor at least.
constexpr double kLimitGrowth = 1.25;
// The share of the lists' free room given to the parts' arenas (a list that finds its arena full
// holds its candidate back); the loop after the phase grows the lists as it needs.
constexpr double kArenaShare = 0.95;
// The calling thread's part asks the control whether to stop this often (contractions).
constexpr int32_t kStopPollInterval = 512;

// Visits the candidates listed at point p whose first end is p: over all points, each candidate
// once, in point order.
template <typename Visit>
void forEachFirstAt(const FlatLists<int32_t>& lists, const CandidatePool& pool, int32_t p, const Visit& visit) {
    const FlatLists<int32_t>::List ids = lists[p];
    for (int32_t i = 0; i < ids.count; ++i) {
        EdgeCandidate* c = pool.at(ids.items[i]);
        if (c->v1 == p) visit(ids.items[i], c);
    }
}

}  // namespace

struct Decimator::Part {
    EdgeHeap heap;
    int32_t points = 0;      // reducible points at the phase's start
    int32_t freePoints = 0;  // of them free at the start, less those that held candidates took
    // Keys that stood when taken, and of them those that differed from their fresh keys (counted
    // only with keepStandingKeys off).
    int64_t standingKeys = 0, standingKeysDiffering = 0;
    // Where the part's candidate and polygon lists move when they outgrow their runs.
    FlatLists<int32_t>::Arena candidateArena, polygonArena;
};

bool Decimator::wantsParts(Target mode, int32_t target) const {
    const int32_t n = mesh_->reducibleCount();
    // Not with repeated corners: their keys use the mesh's shared marks.
    return mode == Target::Count && settings.partPoints > 0 && !mesh_->recording() && !mesh_->hasRepeatedCorners() &&
           n / 4 >= settings.partPoints && target >= 0 && target < n;
}

bool Decimator::runParts(int32_t target, bool showPercent, bool turned) {
    ReductionMesh& m = *mesh_;
    const int32_t points = m.pointCount();
    const int32_t initial = m.reducibleCount();
    // Everything the phase needs is had before the heap is touched; refused, the whole-mesh loop
    // does all the work instead.
    Stack<int32_t> partOf;
    const int32_t count = splitIntoParts(m, settings.partPoints, partOf, turned, workers_);
    Stack<Part> parts;
    Stack<Lane> lanes;
    Stack<int32_t> perPart;  // each part's candidates, then its size, then what it made in a round
    Stack<int32_t> order;    // the parts in the order the round hands them out
    Stack<FlatLists<int32_t>::Arena> arenas;
    // The blocks of points hand their candidates over side by side: block b's candidates of part i
    // take the part's slots from firstSlot[b * count + i] on, in the lists' order, so that each
    // part's heap is filled exactly as one pass over the points in order would fill it.
    const int32_t blocks = points > 0 ? (points - 1) / SETUP_POINT_BLOCK + 1 : 0;
    Stack<int32_t> firstSlot;
    // Per worker, where its block's next candidate of each part goes (or how many its block has),
    // each worker's row a cache line apart from the next.
    Stack<int32_t> cursors;
    const int32_t cursorRow = count + WORKER_LINE_BYTES / static_cast<int32_t>(sizeof(int32_t));
    if (count <= 0 || static_cast<int64_t>(blocks) * count > INT32_MAX ||
        static_cast<int64_t>(workers_) * cursorRow > INT32_MAX || !parts.resize(count) || !lanes.resize(workers_) ||
        !freeFlags_.resize(points) || !perPart.resize(count) || !arenas.resize(2 * count) ||
        !firstSlot.resize(blocks * count) || !cursors.resize(workers_ * cursorRow) || !order.resize(count))
        return true;
    const HostPolygon* polygons = m.polygonArray();
    forBlocks(points, SETUP_POINT_BLOCK, workers_, nullptr, [&](int32_t from, int32_t to) {
        for (int32_t p = from; p < to; ++p) {
            const int32_t part = partOf.items[p];
            bool free = part >= 0;
            const FlatLists<int32_t>::List around = m.polygonsOf(p);
            for (int32_t i = 0; free && i < around.count; ++i) {
                const HostPolygon& q = polygons[around.items[i]];
                free = partOf.items[q.a] == part && partOf.items[q.b] == part && partOf.items[q.c] == part &&
                       partOf.items[q.d] == part;
            }
            // The touched mark stays from the phase before.
            freeFlags_.items[p] = static_cast<uint8_t>((freeFlags_.items[p] & kTouchedPoint) | (free ? kFreePoint : 0));
        }
        return true;
    });
    for (int32_t p = 0; p < points; ++p) {
        const int32_t part = partOf.items[p];
        if (part < 0) continue;
        ++parts.items[part].points;
        parts.items[part].freePoints += freeFlags_.items[p] & kFreePoint;
    }
    auto partOfCandidate = [&](const EdgeCandidate& c) {
        const int32_t part = partOf.items[c.v1];
        return part == partOf.items[c.v2] ? part : -1;
    };
    // Counted in the worker's row and stored once: the blocks' rows lie side by side.
    forBlocks(points, SETUP_POINT_BLOCK, workers_, nullptr, [&](int32_t from, int32_t to, int32_t worker) {
        int32_t* counts = cursors.items + static_cast<int64_t>(worker) * cursorRow;
        for (int32_t i = 0; i < count; ++i) counts[i] = 0;
        for (int32_t p = from; p < to; ++p)
            forEachFirstAt(candidateLists_, pool_, p, [&](int32_t, EdgeCandidate* c) {
                if (const int32_t part = partOfCandidate(*c); part >= 0) ++counts[part];
            });
        int32_t* inBlock = firstSlot.items + static_cast<int64_t>(from / SETUP_POINT_BLOCK) * count;
        for (int32_t i = 0; i < count; ++i) inBlock[i] = counts[i];
        return true;
    });
    for (int32_t i = 0; i < count; ++i) {
        int32_t slot = 0;
        for (int32_t b = 0; b < blocks; ++b) {
            int32_t& at = firstSlot.items[static_cast<int64_t>(b) * count + i];
            const int32_t inBlock = at;
            at = slot;
            slot += inBlock;
        }
        perPart.items[i] = slot;
    }
    for (int32_t i = 0; i < count; ++i) {
        parts.items[i].heap.setPositions(CandidatePositions{&pool_});
        if (!parts.items[i].heap.resizeForBuild(perPart.items[i])) return true;
    }
    // Visits every candidate once, by blocks of points on the workers, with the slot that the next
    // candidate of each part takes.
    auto handOver = [&](const auto& visit) {
        forBlocks(points, SETUP_POINT_BLOCK, workers_, nullptr, [&](int32_t from, int32_t to, int32_t worker) {
            int32_t* next = cursors.items + static_cast<int64_t>(worker) * cursorRow;
            const int32_t* first = firstSlot.items + static_cast<int64_t>(from / SETUP_POINT_BLOCK) * count;
            for (int32_t i = 0; i < count; ++i) next[i] = first[i];
            for (int32_t p = from; p < to; ++p)
                forEachFirstAt(candidateLists_, pool_, p, [&](int32_t id, EdgeCandidate* c) { visit(id, c, next); });
            return true;
        });
    };

    // The whole-mesh heap gives its candidates up to the parts, in the point lists' order, at the
    // keys it holds. At the set-up's end it holds every candidate, so it is never in memory whole
    // together with the parts' heaps: its numbers go first, the keys are copied into the parts'
    // heaps and its keys go, and then the parts' heaps take their numbers and put them in order.
    // Each candidate is visited at its first end only, by one worker, and each part's heap is
    // ordered by one worker.
    heap_.keepKeysOnly();
    handOver([&](int32_t, EdgeCandidate* c, int32_t* next) {
        // One that an earlier loop could not put back into the heap (refused its room) has no key
        // there: it is keyed afresh.
        if (const int32_t part = partOfCandidate(*c); part >= 0) {
            const double key = c->heapPosition >= 0 ? heap_.keyAt(c->heapPosition) : keyOf(*c);
            parts.items[part].heap.setPendingKey(next[part]++, key);
        }
        c->heapPosition = HEAP_ABSENT;
    });
    heap_.clear();
    handOver([&](int32_t id, EdgeCandidate* c, int32_t* next) {
        if (const int32_t part = partOfCandidate(*c); part >= 0) parts.items[part].heap.setPendingRef(next[part]++, id);
    });
    forBlocks(count, 1, workers_, nullptr, [&](int32_t from, int32_t to) {
        for (int32_t i = from; i < to; ++i) parts.items[i].heap.insertPending();
        return true;
    });
    // The lists' arenas, by the parts' sizes, each kind placing its runs through one pool (closed
    // when the rounds end: what it took stays taken).
    for (int32_t i = 0; i < count; ++i) perPart.items[i] = parts.items[i].points;
    FlatLists<int32_t>::Pool candidatePool, polygonPool;
    candidateLists_.makeArenas(kArenaShare, perPart.items, count, arenas.items, &candidatePool);
    m.makePolygonListArenas(kArenaShare, perPart.items, count, arenas.items + count, &polygonPool);
    for (int32_t i = 0; i < count; ++i) {
        parts.items[i].candidateArena = arenas.items[i];
        parts.items[i].polygonArena = arenas.items[count + i];
    }

    auto cheapestLeft = [&](double& cost) {
        bool any = false;
        for (int32_t i = 0; i < count; ++i) {
            const EdgeHeap& h = parts.items[i].heap;
            if (h.size() == 0) continue;
            const double c = -h.keyAt(0);
            if (!any || c < cost) cost = c;
            any = true;
        }
        return any;
    };
    const double way = kPartedShare * (1.0 - static_cast<double>(target) / initial);
    const int64_t share = static_cast<int64_t>(kPartedShare * (static_cast<double>(initial) - target));
    int64_t done = 0;
    double limit = -1.0;
    double cheapest = 0.0;
    bool stopped = false;
    std::atomic<bool> stop{false};
    // The phase goes its share of the way on the points still free: what is held waits, so the
    // free regions do not run ahead of it.
    auto goal = [&] {
        int64_t free = 0;
        for (int32_t i = 0; i < count; ++i) free += parts.items[i].freePoints;
        const auto onFree = static_cast<int64_t>(way * static_cast<double>(free));
        return onFree < share ? onFree : share;
    };
    while (done < goal() && cheapestLeft(cheapest)) {
        limit = limit < 0.0 ? cheapest : limit * kLimitGrowth > cheapest ? limit * kLimitGrowth : cheapest;
        // What is left of the phase's goal, shared by the parts' sizes: the round can never
        // overshoot it, whichever parts find the work.
        const int64_t left = goal() - done;
        bool anyRoom = false;
        for (int32_t i = 0; i < count; ++i) anyRoom = anyRoom || left * parts.items[i].points / initial > 0;
        if (!anyRoom) break;
        // The parts go to the workers largest first, by what each made in the round before (by
        // its size at first), so that no long part is left to run alone at the round's end. Which
        // worker runs a part, and when, changes nothing in it.
        for (int32_t i = 0; i < count; ++i) order.items[i] = i;
        std::sort(order.items, order.items + count, [&](int32_t a, int32_t b) {
            return perPart.items[a] != perPart.items[b] ? perPart.items[a] > perPart.items[b] : a < b;
        });
        forBlocks(count, 1, workers_, nullptr, [&](int32_t from, int32_t to, int32_t worker) {
            for (int32_t k = from; k < to; ++k) {
                const int32_t i = order.items[k];
                Part& part = parts.items[i];
                Lane& lane = lanes.items[worker];
                lane.heap = &part.heap;
                lane.candidateArena = &part.candidateArena;
                lane.mesh.polygonArena = &part.polygonArena;
                const int64_t most = left * part.points / initial;
                perPart.items[i] = most > 0 ? runPart(part, lane, limit, static_cast<int32_t>(most), worker, stop) : 0;
            }
            return true;
        });
        for (int32_t i = 0; i < count; ++i) done += perPart.items[i];
        for (int32_t w = 0; w < workers_; ++w) m.addRetired(lanes.items[w].mesh);
        if (stop.load()) {
            stopped = true;
            break;
        }
        if (control_ != nullptr) {
            showProgress(Target::Count, startCount_, target, showPercent);
            if (control_->stopRequested()) {
                stopped = true;
                break;
            }
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        statistics_.standingKeys += parts.items[i].standingKeys;
        statistics_.standingKeysDiffering += parts.items[i].standingKeysDiffering;
    }
    candidateLists_.closeArenas(candidatePool);
    m.closePolygonListArenas(polygonPool);
    return gatherCandidates(parts, partOf) && !stopped;
}

int32_t Decimator::runPart(Part& part, Lane& lane, double limit, int32_t most, int32_t worker,
                           std::atomic<bool>& stop) {
    int32_t made = 0;
    int32_t steps = 0;
    while (made < most) {
        // The control is asked on the calling thread only.
        if (worker == 0 && control_ != nullptr && ++steps % kStopPollInterval == 0 && control_->stopRequested())
            stop = true;
        if (stop.load(std::memory_order_relaxed)) break;
        HeapEntry top;
        if (!part.heap.popTop(top.id, top.key)) break;
        // What is not free is held or put back, never contracted here.
        const EdgeCandidate& popped = *pool_.at(top.id);
        if (isFree(popped)) prefetchContraction(popped);
        // A key that stands is taken as it is (keepStandingKeys off: made afresh, and compared).
        if (settings.useChecks != 0) {
            const bool stands = keyStands(popped);
            if (!stands || !settings.keepStandingKeys) {
                const double stored = top.key;
                const bool dearer = rekeyDearer(top, part.heap);
                if (stands) {
                    ++part.standingKeys;
                    part.standingKeysDiffering += dearer || top.key != stored;
                }
                if (dearer) continue;
            }
        }
        if (-top.key > limit) {
            part.heap.insert(top.id, top.key);
            break;
        }
        // Held, when it reaches beyond the free points or cannot be made here (a list whose arena
        // lacks the room, or scratch memory): out of the heap until the phase ends, its ends no
        // longer free.
        if (isFree(popped) && contractIn(top, lane)) {
            ++made;
            continue;
        }
        for (const int32_t end : {popped.v1, popped.v2}) {
            if ((freeFlags_.items[end] & kFreePoint) == 0) continue;
            freeFlags_.items[end] &= static_cast<uint8_t>(~kFreePoint);
            --part.freePoints;
        }
    }
    return made;
}

bool Decimator::gatherCandidates(Stack<Part>& parts, const Stack<int32_t>& partOf) {
    const int32_t points = mesh_->pointCount();
    auto forEachAt = [&](int32_t p, const auto& visit) { forEachFirstAt(candidateLists_, pool_, p, visit); };
    auto dropParts = [&] {
        for (int32_t i = 0; i < parts.count; ++i) parts.items[i].heap.clear();
    };
    // Refused memory, the heap stays empty: the loops find nothing to take, and nothing points
    // anywhere.
    auto fail = [&] {
        dropParts();
        for (int32_t p = 0; p < points; ++p)
            forEachAt(p, [](int32_t, EdgeCandidate* c) { c->heapPosition = HEAP_ABSENT; });
        return false;
    };
    // What the parts' heaps still hold is a small share of what they took: it moves into arrays of
    // its size, so that the whole-mesh heap is not made on top of the phase's whole room.
    for (int32_t i = 0; i < parts.count; ++i) parts.items[i].heap.shrinkToFit();
    // The candidates left, counted by blocks of points: each block's run of the heap's slots
    // starts where the blocks before it end, so that the workers can fill them side by side.
    const int32_t blocks = points > 0 ? (points - 1) / SETUP_POINT_BLOCK + 1 : 0;
    Stack<int32_t> start;
    if (!start.resize(blocks + 1)) return fail();
    forBlocks(points, SETUP_POINT_BLOCK, workers_, nullptr, [&](int32_t from, int32_t to) {
        int32_t inBlock = 0;
        for (int32_t p = from; p < to; ++p) forEachAt(p, [&](int32_t, EdgeCandidate*) { ++inBlock; });
        start.items[from / SETUP_POINT_BLOCK] = inBlock;
        return true;
    });
    int64_t live = 0;  // candidates are numbered in 32 bits
    for (int32_t b = 0; b < blocks; ++b) {
        const int32_t inBlock = start.items[b];
        start.items[b] = static_cast<int32_t>(live);
        live += inBlock;
    }
    start.items[blocks] = static_cast<int32_t>(live);
    if (live > INT32_MAX || !heap_.resizeForBuild(static_cast<int32_t>(live))) return fail();
    // A candidate still in its part's heap (both its ends lie in that part) keeps the key it has
    // there; any other (reaching across a border, held, or one that a contraction could not make
    // room for) is keyed afresh. The keys read the mesh and the parts' heaps and write only their
    // own slot.
    forBlocks(points, SETUP_POINT_BLOCK, workers_, nullptr, [&](int32_t from, int32_t to) {
        int32_t slot = start.items[from / SETUP_POINT_BLOCK];
        for (int32_t p = from; p < to; ++p)
            forEachAt(p, [&](int32_t id, EdgeCandidate* c) {
                const double key = c->heapPosition >= 0 ? parts.items[partOf.items[c->v1]].heap.keyAt(c->heapPosition)
                                                        : keyOf(*c);
                heap_.setPendingPlaced(slot++, id, key);
            });
        return true;
    });
    dropParts();
    // Put in order when the loop first takes from it (orderCandidates): a second phase reads only
    // the keys.
    return true;
}
