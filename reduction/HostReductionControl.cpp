#include "reduction/HostReductionControl.h"

#include "sources/HostString.h"
#include "sources/Module.h"

bool HostReductionControl::stopRequested() {
    return thread_ != nullptr && moduleApi()->threadTestBreak(thread_) != 0;
}

void HostReductionControl::busy() { moduleApi()->statusSpin(); }

void HostReductionControl::pointsLeft(int32_t count, int32_t percent) {
    const HostApi* api = moduleApi();
    if (percent >= 0) api->statusBar(percent);
    api->statusText(HostString::fromInt(count).handle());
}

void HostReductionControl::finished() { moduleApi()->statusClear(); }

int64_t HostReductionControl::nowMs() { return moduleApi()->clockMs(); }
