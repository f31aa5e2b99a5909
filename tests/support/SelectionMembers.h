// The selected indices of a selection, in order, for comparing with a list in a test.
#pragma once

#include <vector>

#include "host/SelectionSet.h"

namespace testsupport {

inline std::vector<int> members(const host::SelectionSet& s) {
    std::vector<int> out;
    for (int i = 0; i < s.size(); ++i)
        if (s.isSelected(i)) out.push_back(i);
    return out;
}

}  // namespace testsupport
