// The reduction of one host polygon object: the part of the object to reduce (its reducible points
// and their polygons, taken from the user's selection in the point or polygon editing mode, else
// the whole object), the working mesh with its contraction history, and the operations the worker
// thread and the dialog run on it. Every operation works in place on the host object.
//
// Two roads lead to a reduced object:
//  - direct: reduceToCount / reduceToError contract to the target and finish;
//  - preview: prepare contracts everything while recording each contraction; seekToCount and
//    seekToError then move the object along that history; commit finishes it at a target, revert
//    puts it back as it was.
// Finishing splits bad quads, rebuilds quads from triangle pairs and has the host clean up.
//
// A preview level can also be finished for a look (finishLevel): the object is finished in place
// while a copy of its unfinished state is kept, and the next seek, commit or revert first puts that
// state back, so that the history goes on where it was.
#pragma once

#include <cstdint>

#include "mixkit/ReductionMesh.h"
#include "reduction/ReductionSettings.h"
#include "sources/HostInterface.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"

// The host's update messages sent to a changed object.
enum : int32_t { OBJECT_MSG_UPDATE = 5, OBJECT_MSG_POINTS_CHANGED = 7 };
// Document editing modes the item acts on.
enum : int32_t { EDIT_MODE_POINTS = 5, EDIT_MODE_POLYGONS = 7 };

// How long the steps of the last finish took, for tuning: kept only when a clock is given, in the
// clock's units.
struct FinishStatistics {
    int64_t (*clock)() = nullptr;
    int64_t split = 0;    // bad quads cut
    int64_t quads = 0;    // triangle pairs merged back into quads
    int64_t cleanup = 0;  // the host's clean-up
};

class ReductionItem {
public:
    ReductionItem() = default;
    ~ReductionItem() { release(); }
    ReductionItem(const ReductionItem&) = delete;
    ReductionItem& operator=(const ReductionItem&) = delete;

    // Takes the object in: in point mode (5) with more than 3 selected points only those points are
    // reduced, in polygon mode (7) with more than 2 selected polygons only the inner points of those
    // polygons; otherwise the whole object. The object's selections are left as they were. False
    // when there is no polygon object, a set cannot be made, the object's arrays cannot be read or
    // the mesh cannot be built.
    bool make(HostPolygonObject object, int32_t editingMode);

    // Direct pass: contract to `target` reducible points (or while the cost stays within `limit`),
    // then finish and notify. False on a failed initialise, a failed contraction or a stop; the
    // contractions made stay on the object.
    bool reduceToCount(int32_t target, const ReductionSettings& settings, bool showPercent);
    bool reduceToError(double limit, const ReductionSettings& settings, bool showPercent);

    // Preview: contracts every reducible point while recording the history, and leaves the object
    // at the fully reduced state (its smoothing tag taken off). False on a failure or a stop; the
    // recorded part of the history stays, so that revert can take it back.
    bool prepare(const ReductionSettings& settings, bool showPercent);
    void seekToCount(int32_t count, bool notify);
    void seekToError(double limit, bool notify);
    // The preview target of this item for the settings' mode.
    void seekToTarget(const ReductionSettings& settings, bool notify);
    // Finishes the object at a count or an error limit, its smoothing tag back on as the first tag;
    // the history is of no more use afterwards.
    void commitAtCount(int32_t count, bool notify);
    void commitAtError(double limit, bool notify);
    void commitAtTarget(const ReductionSettings& settings, bool notify);
    // Back to the object as it was made; the smoothing tag goes back where it was among the tags.
    void revert();
    // Finishes the object at the level it shows, keeping its unfinished state for the next seek.
    // False when the host could not copy the object (nothing changed then).
    bool finishLevel();
    bool levelFinished() const { return levelCopy != nullptr; }

    // Splits bad quads, rebuilds quads, cleans up; clears the selections of a whole-object item.
    void finish();
    // Frees the mesh and both sets; a detached smoothing tag goes back where it was.
    void release();

    // Reducible points now: at the history's cursor during a preview, else as made.
    int32_t currentCount() const { return mesh.history().currentCount; }
    double currentError() const { return mesh.history().currentError; }

    HostPolygonObject object;
    ReductionMesh mesh;
    int32_t selectionMode = 0;  // 1: only the user's selection is reduced
    int32_t startCount = 0;     // reducible points when made
    HostSelectionSet pointSet;
    HostSelectionSet polygonSet;
    HstTag* detachedTag = nullptr;  // the smoothing tag, off the object while a preview lasts
    int32_t detachedPlace = 0;      // its place among the object's tags when it was taken off
    FinishStatistics finishStatistics;

    // Allocation tag of the items.
    static constexpr const char* sourceTag = "ReductionItem";

private:
    bool selectPart(HstDocument* doc, int32_t editingMode);
    bool contract(bool toError, int32_t target, double limit, const ReductionSettings& settings, bool showPercent);
    // Gives the smoothing tag back at `place` among the object's tags (0: first).
    void reattachTag(int32_t place);
    void notifyObject();
    void clearSelections();
    // Puts the unfinished level back after finishLevel.
    void restoreLevel();
    // Points the mesh at the object's arrays again after they were resized.
    void followHostArrays();

    HstObject* levelCopy = nullptr;
};
