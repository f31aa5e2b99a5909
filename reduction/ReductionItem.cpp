#include "reduction/ReductionItem.h"

#include <cstring>

#include "mixkit/Decimator.h"
#include "mixkit/UnTriag3.h"
#include "reduction/HostReductionControl.h"
#include "reduction/QuadSplit.h"
#include "sources/HostSettings.h"
#include "sources/HostTag.h"
#include "sources/Module.h"

namespace {

// Selected elements above which the editing mode's selection limits the reduction.
constexpr int32_t kMinPointSelection = 3;
constexpr int32_t kMinPolygonSelection = 2;

// Bytes per element of the per-polygon and per-point tags whose data a finished level puts back.
constexpr int32_t kUvwRowBytes = 48;
constexpr int32_t kNormalRowBytes = 24;

bool runCommand(int32_t command, int32_t mode, HstDocument* doc, HostPolygonObject object, HstSettings* params) {
    return moduleApi()->modelingCommand(command, mode, doc, object.handle(), params) != 0;
}

int32_t rowBytes(int32_t tagType) {
    switch (tagType) {
        case TAG_UVW: return kUvwRowBytes;
        case TAG_NORMALS: return kNormalRowBytes;
        case TAG_FLOAT_MAP: return static_cast<int32_t>(sizeof(float));
        default: return 0;
    }
}

}  // namespace

bool ReductionItem::make(HostPolygonObject target, int32_t editingMode) {
    if (!target.valid() || !target.isPolygonObject()) return false;
    object = target;
    if (!pointSet.make() || !polygonSet.make()) return false;
    const int32_t points = object.pointCount(), polygons = object.polygonCount();
    if (points < 0 || polygons < 0 || (points > 0 && object.points() == nullptr) ||
        (polygons > 0 && object.polygons() == nullptr))
        return false;

    // The user's selections, given back once the part to reduce has been read off them.
    HostSelectionSet userPoints, userPolygons;
    if (!userPoints.make() || !userPolygons.make() || !userPoints.copyFrom(object.pointSelection()) ||
        !userPolygons.copyFrom(object.polygonSelection()))
        return false;
    const bool selected = selectPart(object.document(), editingMode);
    if (selected) {
        pointSet.copyFrom(object.pointSelection());
        polygonSet.copyFrom(object.polygonSelection());
    }
    object.pointSelection().copyFrom(userPoints);
    object.polygonSelection().copyFrom(userPolygons);
    if (!selected) return false;

    startCount = pointSet.count();
    if (!mesh.build(object, pointSet.view(), polygonSet.view())) return false;
    // Until a preview is recorded the object stands at its start.
    mesh.history().initialCount = mesh.history().currentCount = mesh.reducibleCount();
    return true;
}

bool ReductionItem::selectPart(HstDocument* doc, int32_t editingMode) {
    selectionMode = 0;
    if (editingMode == EDIT_MODE_POINTS && object.pointSelection().count() > kMinPointSelection) {
        selectionMode = 1;
        return runCommand(CMD_POINTS_TO_POLYGONS, SELECT_MODE_NONE, doc, object, nullptr) &&
               runCommand(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, object, nullptr);
    }
    if (editingMode == EDIT_MODE_POLYGONS && object.polygonSelection().count() > kMinPolygonSelection) {
        selectionMode = 1;
        return runCommand(CMD_POLYGONS_TO_POINTS, SELECT_MODE_NONE, doc, object, nullptr) &&
               runCommand(CMD_SHRINK_SELECTION, SELECT_MODE_POINTS, doc, object, nullptr);
    }
    const int32_t polygons = object.polygonCount();
    if (polygons == 0) return true;
    HostSelection all = object.polygonSelection();
    for (int32_t i = 0; i < polygons; ++i) all.select(i);
    return runCommand(CMD_POLYGONS_TO_POINTS, SELECT_MODE_NONE, doc, object, nullptr);
}

bool ReductionItem::contract(bool toError, int32_t target, double limit, const ReductionSettings& settings,
                             bool showPercent) {
    if (!object.valid()) return false;
    Decimator decimator;
    settings.applyTo(decimator);
    HostReductionControl control(settings.thread);
    if (!decimator.initialise(&mesh, &control)) return false;
    const bool done = toError ? decimator.decimateToError(limit, &control)
                              : decimator.decimateToCount(target, showPercent, &control);
    return done;
}

bool ReductionItem::reduceToCount(int32_t target, const ReductionSettings& settings, bool showPercent) {
    if (!contract(false, target, 0.0, settings, showPercent)) return false;
    mesh.attributes().writeBackPointSets();
    finish();
    notifyObject();
    return true;
}

bool ReductionItem::reduceToError(double limit, const ReductionSettings& settings, bool showPercent) {
    if (!contract(true, 0, limit, settings, showPercent)) return false;
    mesh.attributes().writeBackPointSets();
    finish();
    notifyObject();
    return true;
}

bool ReductionItem::prepare(const ReductionSettings& settings, bool showPercent) {
    if (!object.valid()) return false;
    if (!mesh.startRecording()) return false;
    if (!contract(false, 1, 0.0, settings, showPercent)) return false;
    mesh.attributes().writeBackPointSets();
    mesh.history().makeMonotone();
    if (selectionMode == 0) clearSelections();
    const HostTag smoothing = object.tagOfType(TAG_SMOOTHING);
    if (smoothing.valid() && detachedTag == nullptr) {
        detachedPlace = 0;
        for (HostTag t = object.firstTag(); t.valid() && t.handle() != smoothing.handle(); t = t.next()) ++detachedPlace;
        detachedTag = moduleApi()->objDetachTag(object.handle(), smoothing.handle());
    }
    notifyObject();
    return true;
}

void ReductionItem::seekToCount(int32_t count, bool notify) {
    restoreLevel();
    mesh.history().seekToCount(count, object);
    if (notify) notifyObject();
}

void ReductionItem::seekToError(double limit, bool notify) {
    restoreLevel();
    mesh.history().seekToError(limit, object);
    if (notify) notifyObject();
}

void ReductionItem::seekToTarget(const ReductionSettings& settings, bool notify) {
    switch (settings.targetMode) {
        case TARGET_COUNT: seekToCount(settings.targetCount, notify); break;
        case TARGET_RATIO: seekToCount(settings.ratioTarget(startCount), notify); break;
        case TARGET_ERROR: seekToError(settings.errorLimit, notify); break;
        default: break;
    }
}

void ReductionItem::commitAtCount(int32_t count, bool notify) {
    seekToCount(count, true);
    reattachTag(0);
    finish();
    if (notify) notifyObject();
}

void ReductionItem::commitAtError(double limit, bool notify) {
    seekToError(limit, true);
    reattachTag(0);
    finish();
    if (notify) notifyObject();
}

void ReductionItem::commitAtTarget(const ReductionSettings& settings, bool notify) {
    switch (settings.targetMode) {
        case TARGET_COUNT: commitAtCount(settings.targetCount, notify); break;
        case TARGET_RATIO: commitAtCount(settings.ratioTarget(startCount), notify); break;
        case TARGET_ERROR: commitAtError(settings.errorLimit, notify); break;
        default: break;
    }
}

void ReductionItem::revert() {
    seekToCount(startCount, false);
    reattachTag(detachedPlace);
    notifyObject();
}

bool ReductionItem::finishLevel() {
    restoreLevel();
    if (!object.valid()) return false;
    levelCopy = moduleApi()->objCurrentStateCopy(object.document(), object.handle());
    if (levelCopy == nullptr) return false;
    finish();
    notifyObject();
    return true;
}

void ReductionItem::finish() {
    if (!object.valid()) return;
    FinishStatistics& stats = finishStatistics;
    auto now = [&stats] { return stats.clock != nullptr ? stats.clock() : 0; };
    const int64_t t0 = now();
    // Each step stands alone: one that the host refuses memory for is left out.
    splitBadQuads(object, polygonSet.view());
    const int64_t t1 = now();
    {
        UnTriag3 quads;
        quads.run(object, polygonSet.view());
    }
    const int64_t t2 = now();
    HostSettings cleanup;
    if (cleanup.make()) {
        cleanup.setInt(CLEANUP_TOLERANCE, 0);
        cleanup.setBool(CLEANUP_MERGE_POINTS, false);
        cleanup.setBool(CLEANUP_DROP_POLYGONS, true);
        cleanup.setBool(CLEANUP_DROP_POINTS, true);
        runCommand(CMD_CLEANUP, SELECT_MODE_NONE, object.document(), object, cleanup.handle());
    }
    stats.split = t1 - t0;
    stats.quads = t2 - t1;
    stats.cleanup = now() - t2;
    if (selectionMode == 0) clearSelections();
}

void ReductionItem::release() {
    if (levelCopy != nullptr) {
        moduleApi()->objDestroy(levelCopy);
        levelCopy = nullptr;
    }
    reattachTag(detachedPlace);
    mesh.release();
    pointSet.destroy();
    polygonSet.destroy();
}

void ReductionItem::reattachTag(int32_t place) {
    if (detachedTag == nullptr) return;
    moduleApi()->objInsertTag(object.handle(), detachedTag, place);
    detachedTag = nullptr;
}

void ReductionItem::notifyObject() {
    object.message(OBJECT_MSG_UPDATE);
    object.message(OBJECT_MSG_POINTS_CHANGED);
}

void ReductionItem::clearSelections() {
    object.pointSelection().deselectAll();
    object.polygonSelection().deselectAll();
}

void ReductionItem::restoreLevel() {
    if (levelCopy == nullptr) return;
    const HostPolygonObject copy(levelCopy);
    const int32_t points = copy.pointCount(), polygons = copy.polygonCount();
    if (!object.resize(points, polygons)) return;  // the level stays finished; the copy is kept
    if (points > 0) memcpy(object.points(), copy.points(), sizeof(float) * 3 * static_cast<size_t>(points));
    if (polygons > 0) memcpy(object.polygons(), copy.polygons(), sizeof(HostPolygon) * static_cast<size_t>(polygons));
    object.pointSelection().copyFrom(copy.pointSelection());
    object.polygonSelection().copyFrom(copy.polygonSelection());
    object.hiddenPoints().copyFrom(copy.hiddenPoints());
    object.hiddenPolygons().copyFrom(copy.hiddenPolygons());
    // The finish changes no tag list, so the copy's tags pair up with the object's in order.
    HostTag from = copy.firstTag();
    for (HostTag to = object.firstTag(); to.valid() && from.valid(); to = to.next(), from = from.next()) {
        if (to.type() != from.type()) break;
        const int32_t bytes = rowBytes(to.type());
        if (bytes > 0) {
            const int32_t n = to.dataCount() < from.dataCount() ? to.dataCount() : from.dataCount();
            if (n > 0 && to.data() != nullptr && from.data() != nullptr)
                memcpy(to.data(), from.data(), static_cast<size_t>(bytes) * static_cast<size_t>(n));
        } else if (to.type() == TAG_POINT_SELECTION || to.type() == TAG_POLYGON_SELECTION) {
            to.selection().copyFrom(from.selection());
        }
    }
    moduleApi()->objDestroy(levelCopy);
    levelCopy = nullptr;
    followHostArrays();
}

void ReductionItem::followHostArrays() {
    // The finish resized and compacted the object's arrays and tag data; the history finds them by
    // slot when it is applied, and the mesh is pointed at them here.
    mesh.followObjectArrays();
}
