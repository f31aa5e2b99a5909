#include "SelectionSet.h"

#include <algorithm>

namespace host {

bool SelectionSet::select(int i) {
    if (i < 0 || i >= size()) return false;
    bytes_[i] = 1;
    return true;
}

bool SelectionSet::deselect(int i) {
    if (i < 0 || i >= size()) return false;
    bytes_[i] = 0;
    return true;
}

bool SelectionSet::toggle(int i) {
    if (i < 0 || i >= size()) return false;
    bytes_[i] = bytes_[i] ? 0 : 1;
    return true;
}

void SelectionSet::selectRange(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, size() - 1);
    for (int i = first; i <= last; ++i) bytes_[i] = 1;
}

void SelectionSet::deselectRange(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, size() - 1);
    for (int i = first; i <= last; ++i) bytes_[i] = 0;
}

int SelectionSet::count() const {
    int n = 0;
    for (uint8_t b : bytes_) n += b != 0;
    return n;
}

std::vector<std::pair<int, int>> SelectionSet::ranges() const {
    std::vector<std::pair<int, int>> out;
    const int n = size();
    for (int i = 0; i < n;) {
        if (!bytes_[i]) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < n && bytes_[j + 1]) ++j;
        out.emplace_back(i, j);
        i = j + 1;
    }
    return out;
}

void SelectionSet::compact(const std::vector<int>& remap, int newSize) {
    std::vector<uint8_t> next(newSize > 0 ? newSize : 0, 0);
    const int n = std::min(size(), static_cast<int>(remap.size()));
    for (int i = 0; i < n; ++i) {
        const int to = remap[i];
        if (to >= 0 && to < newSize && bytes_[i]) next[to] = 1;
    }
    bytes_ = std::move(next);
}

bool SelectionSet::operator==(const SelectionSet& o) const {
    if (size() != o.size()) return false;
    for (int i = 0; i < size(); ++i)
        if ((bytes_[i] != 0) != (o.bytes_[i] != 0)) return false;
    return true;
}

}  // namespace host
