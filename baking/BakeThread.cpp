#include "baking/BakeThread.h"

#include "baking/NMBakeThread.h"
#include "sources/Module.h"
#include "sources/HostContract.h"
#include "sources/ResourceHolder.h"

namespace {
// Seed of the occlusion directions' generator: the same settings bake the same maps in every run.
constexpr uint32_t kRandomSeed = 1;
}  // namespace

BakeThread::BakeThread() {
    settings.thread = this;
    settings.width = 600;
    settings.height = 600;
    settings.supersampling = 2;
    settings.normalOn = 1;
    settings.border = 2;
    settings.tangentSpace = 1;
    settings.edgeFill = 1;
    settings.dilationPasses = 10;
    settings.occlusionGrid = 6;
    settings.occlusionExponent = 1.0f;
    settings.random = moduleApi()->randomMake(kRandomSeed);
}

BakeThread::~BakeThread() {
    stop();
    if (settings.random != nullptr) moduleApi()->randomDestroy(settings.random);
    settings.random = nullptr;
}

void BakeThread::main() {
    const bool ok = mapper_.bake(settings);
    // A bake that ends short while a stop was asked was stopped; any other short end failed.
    const int32_t outcome = ok ? BAKE_END_DONE : bakeStopRequested(this) ? BAKE_END_STOPPED : BAKE_END_FAILED;
    lastResult_.store(outcome);
    settings.statusText.set(resourceString(ok ? BAKE_TEXT_DONE : BAKE_TEXT_FAILED));
    moduleApi()->postMessage(OMBRIN_ID, outcome);
}
