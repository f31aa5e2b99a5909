// The reduction command's settings as a fresh command holds them, handed to a decimator: what the
// core's tests and benchmarks reduce with unless they say otherwise.
#pragma once

#include "mixkit/Decimator.h"
#include "reduction/ReductionSettings.h"

namespace testsupport {

inline void commandSettings(Decimator& d) { ReductionSettings{}.applyTo(d); }

}  // namespace testsupport
