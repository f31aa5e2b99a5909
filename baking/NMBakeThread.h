// The baker's stop test: the host's break test of the baking thread, never true without a thread.
#pragma once

#include "sources/HostInterface.h"
#include "sources/Module.h"

inline bool bakeStopRequested(HostThreadBase* thread) {
    return thread != nullptr && moduleApi()->threadTestBreak(thread) != 0;
}
