// Host selection sets.
//
// HostSelection is a view of a set that someone else owns (an object's point or polygon selection,
// a selection tag's set, or a HostSelectionSet): copying it copies the view. HostSelectionSet owns a
// free-standing set that grows as members are added, with value semantics (a copy is a new set with
// the same members).
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"

class HostSelection {
public:
    HostSelection() = default;
    explicit HostSelection(HstSelection* handle) : handle_(handle) {}

    bool isSelected(int32_t i) const;
    bool select(int32_t i);
    bool deselect(int32_t i);
    bool toggle(int32_t i);
    void deselectAll();
    int32_t count() const;
    // Members as ranges of consecutive indices.
    int32_t rangeCount() const;
    bool range(int32_t index, int32_t* first, int32_t* last) const;
    // One byte per element 0..n-1: 1 for a member, 0 otherwise.
    void memberBytes(uint8_t* out, int32_t n) const;
    // Makes this set hold the members of `source`.
    bool copyFrom(const HostSelection& source);

    bool valid() const { return handle_ != nullptr; }
    HstSelection* handle() const { return handle_; }

protected:
    HstSelection* handle_ = nullptr;
};

class HostSelectionSet : public HostSelection {
public:
    HostSelectionSet() = default;
    HostSelectionSet(const HostSelectionSet& other);
    HostSelectionSet(HostSelectionSet&& other) noexcept : HostSelection(other.handle_) { other.handle_ = nullptr; }
    HostSelectionSet& operator=(const HostSelectionSet& other);
    HostSelectionSet& operator=(HostSelectionSet&& other) noexcept;
    ~HostSelectionSet() { destroy(); }

    // A new, empty set (dropping any held one); false when the host cannot make one.
    bool make();
    void destroy();
    // A view of this set.
    HostSelection view() const { return HostSelection(handle_); }
};
