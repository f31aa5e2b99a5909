// The settings of the reduction command: the seven core settings handed to every Decimator, the
// target, and the pass bookkeeping that the worker thread and the dialog share. The worker thread
// owns the record; the dialog edits it only while no pass is requested.
#pragma once

#include <cstdint>

#include "mixkit/PlacementPolicy.h"
#include "mixkit/WeightingPolicy.h"

class Decimator;
class HostThreadBase;

// How the target of a reduction is given.
enum : int32_t { TARGET_COUNT = 0, TARGET_RATIO = 1, TARGET_ERROR = 2 };
// The passes of the worker thread (requestedPass, completedPass).
enum : int32_t { PASS_NONE = 0, PASS_PREPARE = 1, PASS_DIRECT = 2 };

struct ReductionSettings {
    int32_t wholeHierarchy = 0;  // 1: objects below the selected ones too, each reduced whole
    int32_t placementPolicy = PLACEMENT_OPTIMAL;
    double boundaryWeight = 1000.0;
    int32_t weightingPolicy = WEIGHTING_AREA;
    int32_t useChecks = 1;
    double compactnessPenalty = 100.0;
    double flipPenalty = 100.0;
    double valencePenalty = 10.0;
    int32_t targetMode = TARGET_COUNT;
    int32_t targetCount = 3;
    float targetRatio = 1.0f;  // the fraction of each object's points to keep (0.5 keeps half)
    double errorLimit = 0.0;
    int32_t completedPass = PASS_NONE;  // the last pass that ended without a break
    int32_t requestedPass = PASS_NONE;  // the pass running (or about to); PASS_NONE while idle
    HostThreadBase* thread = nullptr;   // whose break test the core polls (through HostReductionControl)

    // Copies the seven core settings into a decimator, in its order.
    void applyTo(Decimator& decimator) const;
    // startCount x targetRatio, truncated toward zero: the ratio target of one object.
    int32_t ratioTarget(int32_t startCount) const;
};
