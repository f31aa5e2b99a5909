#include "reduction/ReductionSettings.h"

#include "mixkit/Decimator.h"

void ReductionSettings::applyTo(Decimator& decimator) const {
    decimator.settings.placementPolicy = placementPolicy;
    decimator.settings.weightingPolicy = weightingPolicy;
    decimator.settings.useChecks = useChecks;
    decimator.settings.boundaryWeight = boundaryWeight;
    decimator.settings.compactnessPenalty = compactnessPenalty;
    decimator.settings.flipPenalty = flipPenalty;
    decimator.settings.valencePenalty = valencePenalty;
}

int32_t ReductionSettings::ratioTarget(int32_t startCount) const {
    // In single precision, as the ratio is held: 0.7f x 1000 rounds to 700 there, where the double
    // product of the stored 0.69999999 would truncate to 699.
    const float product = static_cast<float>(startCount) * targetRatio;
    if (!(product > 0.0f)) return 0;
    if (product >= 2147483647.0f) return 2147483647;
    return static_cast<int32_t>(product);
}
