// A set of element indices (points or polygons), stored as one membership byte per element.
// Used for point and polygon selections, hidden sets and the selection tags.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace host {

class SelectionSet {
public:
    SelectionSet() = default;
    explicit SelectionSet(int size) : bytes_(size > 0 ? size : 0, 0) {}

    int size() const { return static_cast<int>(bytes_.size()); }
    // Grows with unselected members or shrinks, dropping the members beyond the new size.
    void resize(int size) { bytes_.resize(size > 0 ? size : 0, 0); }

    bool isSelected(int i) const { return i >= 0 && i < size() && bytes_[i] != 0; }
    // Select, deselect and toggle outside the set's range are refused (false).
    bool select(int i);
    bool deselect(int i);
    bool toggle(int i);
    // Inclusive range [first, last], clipped to the set.
    void selectRange(int first, int last);
    void deselectRange(int first, int last);
    void selectAll() { std::fill(bytes_.begin(), bytes_.end(), 1); }
    void deselectAll() { std::fill(bytes_.begin(), bytes_.end(), 0); }

    int count() const;
    // Runs of selected members as inclusive [first, last] pairs, in increasing order.
    std::vector<std::pair<int, int>> ranges() const;

    // One byte per member, non-zero for a member; writable so that a caller can fill it at once.
    uint8_t* memberBytes() { return bytes_.data(); }
    const uint8_t* memberBytes() const { return bytes_.data(); }

    // Keeps the members whose index maps to a non-negative new index (remap[i] < 0 drops i).
    void compact(const std::vector<int>& remap, int newSize);

    bool operator==(const SelectionSet& o) const;

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace host
