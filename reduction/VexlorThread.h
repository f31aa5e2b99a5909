// The working state of the reduction command and the host worker thread that runs its long passes:
// the items (one per collected polygon object), the settings, and the two passes, prepare (the
// preview's full recorded reduction) and direct (reduce and finish). The dialog drives it on the
// main thread; main runs on the worker thread and reports its end with the special event VEXLOR_ID,
// whose values say how the pass ended (REDUCTION_END_...) and how many objects it worked on.
//
// A direct pass is one undo step over every item's object; when it is stopped or an item fails the
// step is taken back, so the objects are as they were. A prepare pass that is stopped or fails puts
// back the objects it had already reduced, so that the dialog can collect them afresh.
#pragma once

#include <cstdint>

#include "reduction/ReductionItem.h"
#include "reduction/ReductionSettings.h"
#include "sources/HostInterface.h"
#include "sources/HostThread.h"
#include "sources/Stack.h"

class VexlorThread : public HostThread {
public:
    VexlorThread();
    ~VexlorThread() override;

    int32_t testBreak() override { return 0; }
    void main() override;

    // Releases every item; document, passes and the undo flag are reset.
    void clear();
    // Fills the items from the active document's selected objects (and, with wholeHierarchy, every
    // polygon object below them). Objects that cannot be taken in are left out.
    void collect();
    // Start a pass on the worker thread; false when the thread could not start (nothing requested
    // then).
    bool startPrepare();
    bool startDirect();
    // Preview: every item to its target; commit every item at its target in one undo step; every
    // item back to its start.
    void seekAll(bool notify = true);
    void commit();
    void revertAll();
    // Finishes every item at the level it shows, for a look or to be saved; the next seek carries on.
    void finishLevels();

    // The first item's reducible points at start and now (0 without items).
    int32_t startCount() const;
    int32_t currentCount() const;
    // Means over the items of 100 x current / start points and of the current error.
    double averagePercentage() const;
    double averageError() const;
    // True when the target is a share of each object's points rather than a count: without a
    // document, unless exactly one polygon object is selected, or when that one has polygon objects
    // below it that the whole hierarchy brings in.
    bool ratioMode() const;

    Stack<ReductionItem*> items;
    int32_t broken = 0;
    int32_t undoOpen = 0;
    HstDocument* document = nullptr;
    ReductionSettings settings;

private:
    void runPrepare();
    void runDirect();
    void collectBelow(HostPolygonObject parent);
    void append(HostPolygonObject object, int32_t editingMode);
};
