// A set of element indices (points or polygons). Used for point and polygon selections, hidden sets
// and the selection tags.
//
// A set starts as a sorted list of runs of members, so that a file with thousands of groups over
// thousands of polygons costs memory in proportion to its members, not groups × polygons. Once the
// runs would cost more than a byte per element (scattered members) it turns into one membership byte
// per element; cleared, it goes back to runs. Reads never change the representation, so any number
// of threads may read a set at once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace host {

class SelectionSet {
public:
    SelectionSet() = default;
    explicit SelectionSet(int size) : size_(size > 0 ? size : 0) {}

    int size() const { return size_; }
    // Grows with unselected members or shrinks, dropping the members beyond the new size.
    void resize(int size);

    bool isSelected(int i) const;
    // Select, deselect and toggle outside the set's range are refused (false).
    bool select(int i);
    bool deselect(int i);
    bool toggle(int i);
    // Inclusive range [first, last], clipped to the set.
    void selectRange(int first, int last);
    void deselectRange(int first, int last);
    void selectAll();
    void deselectAll();

    int count() const;
    // Runs of selected members as inclusive [first, last] pairs, in increasing order.
    std::vector<std::pair<int, int>> ranges() const;

    // One byte per member, non-zero for a member; writable so that a caller can fill it at once.
    // The set keeps a byte per element from then on (until it is cleared).
    uint8_t* memberBytes();

    // Keeps the members whose index maps to a non-negative new index (remap[i] < 0 drops i).
    void compact(const std::vector<int>& remap, int newSize);

    bool operator==(const SelectionSet& o) const;

    // The bytes the set holds for its members (for checks that memory follows the members).
    size_t heldBytes() const { return bytes_.capacity() + runs_.capacity() * sizeof(Run); }

private:
    using Run = std::pair<int, int>;
    void setRange(int first, int last, bool on);
    void makeDenseIfScattered();
    void makeDense();

    int size_ = 0;
    bool dense_ = false;
    std::vector<uint8_t> bytes_;  // dense: one byte per element
    std::vector<Run> runs_;       // otherwise: sorted, disjoint runs with a gap between each two
};

}  // namespace host
