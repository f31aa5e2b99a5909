#include "reduction/VexlorThread.h"

#include "sources/HostMemory.h"
#include "sources/HostSettings.h"
#include "sources/Module.h"
#include "sources/HostContract.h"

namespace {

// Editing mode handed to items that are reduced whole.
constexpr int32_t kWholeObject = 0;

// The document's active objects; `topOnly` leaves out those below another active one.
class ActiveObjects {
public:
    ActiveObjects(HstDocument* doc, bool topOnly)
        : list_(doc != nullptr ? moduleApi()->docActiveObjects(doc, topOnly ? 1 : 0) : nullptr) {}
    ~ActiveObjects() {
        if (list_ != nullptr) moduleApi()->listDestroy(list_);
    }
    ActiveObjects(const ActiveObjects&) = delete;
    ActiveObjects& operator=(const ActiveObjects&) = delete;

    int32_t count() const { return list_ != nullptr ? moduleApi()->listCount(list_) : 0; }
    HostPolygonObject at(int32_t i) const { return HostPolygonObject(moduleApi()->listAt(list_, i)); }

private:
    HstObjectList* list_;
};

bool hasPolygonObjectBelow(HostPolygonObject parent) {
    for (HostPolygonObject child = parent.firstChild(); child.valid(); child = child.next())
        if (child.isPolygonObject() || hasPolygonObjectBelow(child)) return true;
    return false;
}

}  // namespace

VexlorThread::VexlorThread() { settings.thread = this; }

VexlorThread::~VexlorThread() {
    // main uses the items and the settings: it must have ended before they go.
    stop();
    clear();
}

void VexlorThread::clear() {
    for (ReductionItem* item : items) hostDelete(item);
    items.clear();
    document = nullptr;
    settings.completedPass = PASS_NONE;
    settings.requestedPass = PASS_NONE;
    undoOpen = 0;
}

void VexlorThread::collect() {
    const HostApi* api = moduleApi();
    document = api->activeDocument();
    if (document == nullptr) return;
    const bool whole = settings.wholeHierarchy != 0;
    const int32_t mode = whole ? kWholeObject : HostSettings(api->docSettings(document)).getInt(DOC_EDITING_MODE, 0);
    // With the whole hierarchy an active object below another one is reached through its parent,
    // so that no object gets two items.
    const ActiveObjects active(document, whole);
    for (int32_t i = 0; i < active.count(); ++i) {
        const HostPolygonObject object = active.at(i);
        if (object.isPolygonObject()) append(object, mode);
        if (whole) collectBelow(object);
    }
}

void VexlorThread::collectBelow(HostPolygonObject parent) {
    for (HostPolygonObject child = parent.firstChild(); child.valid(); child = child.next()) {
        if (child.isPolygonObject()) append(child, kWholeObject);
        collectBelow(child);
    }
}

void VexlorThread::append(HostPolygonObject object, int32_t editingMode) {
    ReductionItem* item = hostNew<ReductionItem>(ReductionItem::sourceTag, __LINE__);
    if (item == nullptr) return;
    const int32_t before = items.count;
    if (item->make(object, editingMode)) items.push(item);
    if (items.count == before) hostDelete(item);
}

bool VexlorThread::startPrepare() {
    settings.requestedPass = PASS_PREPARE;
    if (start()) return true;
    settings.requestedPass = PASS_NONE;
    return false;
}

bool VexlorThread::startDirect() {
    settings.requestedPass = PASS_DIRECT;
    if (start()) return true;
    settings.requestedPass = PASS_NONE;
    return false;
}

void VexlorThread::main() {
    broken = 0;
    const HostApi* api = moduleApi();
    int32_t outcome = REDUCTION_END_NOTHING;
    if (items.count > 0) {
        if (settings.requestedPass == PASS_PREPARE)
            runPrepare();
        else if (settings.requestedPass == PASS_DIRECT)
            runDirect();
        // A pass broken while a stop was asked was stopped; any other break failed.
        outcome = broken == 0                          ? REDUCTION_END_DONE
                  : api->threadTestBreak(this) != 0 ? REDUCTION_END_STOPPED
                                                    : REDUCTION_END_FAILED;
    }
    settings.requestedPass = PASS_NONE;
    api->statusClear();
    api->specialEvent(VEXLOR_ID, outcome, items.count);
}

void VexlorThread::runPrepare() {
    int32_t reached = 0;
    for (; reached < items.count; ++reached) {
        if (!items.items[reached]->prepare(settings, true)) {
            broken = 1;
            break;
        }
    }
    if (broken == 0) {
        settings.completedPass = PASS_PREPARE;
        return;
    }
    // The dialog collects the objects again after a broken pass, which drops the histories: take
    // every recorded contraction back first, the broken item's part included.
    for (int32_t i = 0; i <= reached && i < items.count; ++i) items.items[i]->revert();
}

void VexlorThread::runDirect() {
    const HostApi* api = moduleApi();
    if (document != nullptr) {
        api->undoStart(document);
        undoOpen = 1;
        for (ReductionItem* item : items) api->undoAdd(document, UNDO_OBJECT_CHANGE, item->object.handle());
        api->undoEnd(document);
    }
    for (int32_t i = 0; i < items.count && broken == 0; ++i) {
        ReductionItem* item = items.items[i];
        bool ok = true;
        switch (settings.targetMode) {
            case TARGET_COUNT: ok = item->reduceToCount(settings.targetCount, settings, true); break;
            // Each object keeps its own share of its points.
            case TARGET_RATIO: ok = item->reduceToCount(settings.ratioTarget(item->startCount), settings, true); break;
            case TARGET_ERROR: ok = item->reduceToError(settings.errorLimit, settings, true); break;
            default: break;
        }
        if (!ok) broken = 1;
    }
    if (broken == 0) {
        settings.completedPass = PASS_DIRECT;
        return;
    }
    if (document != nullptr && undoOpen != 0) {
        api->undoLast(document);
        undoOpen = 0;
    }
}

void VexlorThread::seekAll(bool notify) {
    for (ReductionItem* item : items) item->seekToTarget(settings, notify);
}

void VexlorThread::commit() {
    const HostApi* api = moduleApi();
    if (document != nullptr) api->undoStart(document);
    for (ReductionItem* item : items) {
        // The undo step holds each object as it was before the preview, smoothing tag included.
        item->revert();
        if (document != nullptr) api->undoAdd(document, UNDO_OBJECT_CHANGE, item->object.handle());
    }
    if (document != nullptr) api->undoEnd(document);
    for (ReductionItem* item : items) item->commitAtTarget(settings, true);
    settings.requestedPass = PASS_NONE;
}

void VexlorThread::revertAll() {
    for (ReductionItem* item : items) item->revert();
}

void VexlorThread::finishLevels() {
    for (ReductionItem* item : items) item->finishLevel();
}

int32_t VexlorThread::startCount() const { return items.count > 0 ? items.items[0]->startCount : 0; }

int32_t VexlorThread::currentCount() const { return items.count > 0 ? items.items[0]->currentCount() : 0; }

double VexlorThread::averagePercentage() const {
    if (items.count == 0) return 100.0;
    double sum = 0.0;
    for (const ReductionItem* item : items)
        sum += item->startCount > 0 ? 100.0 * item->currentCount() / item->startCount : 100.0;
    return sum / items.count;
}

double VexlorThread::averageError() const {
    if (items.count == 0) return 0.0;
    double sum = 0.0;
    for (const ReductionItem* item : items) sum += item->currentError();
    return sum / items.count;
}

bool VexlorThread::ratioMode() const {
    HstDocument* doc = moduleApi()->activeDocument();
    if (doc == nullptr) return true;
    const ActiveObjects active(doc, false);
    int32_t polygonObjects = 0;
    bool below = false;
    for (int32_t i = 0; i < active.count(); ++i) {
        const HostPolygonObject object = active.at(i);
        if (object.isPolygonObject()) ++polygonObjects;
        if (settings.wholeHierarchy != 0 && !below) below = hasPolygonObjectBelow(object);
    }
    if (polygonObjects != 1) return true;
    return below;
}
