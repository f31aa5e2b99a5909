#include "sources/HostSelection.h"

#include "sources/Module.h"

bool HostSelection::isSelected(int32_t i) const {
    return handle_ != nullptr && moduleApi()->selIsSelected(handle_, i) != 0;
}

bool HostSelection::select(int32_t i) { return handle_ != nullptr && moduleApi()->selSelect(handle_, i) != 0; }

bool HostSelection::deselect(int32_t i) { return handle_ != nullptr && moduleApi()->selDeselect(handle_, i) != 0; }

bool HostSelection::toggle(int32_t i) { return handle_ != nullptr && moduleApi()->selToggle(handle_, i) != 0; }

void HostSelection::deselectAll() {
    if (handle_ != nullptr) moduleApi()->selDeselectAll(handle_);
}

int32_t HostSelection::count() const { return handle_ != nullptr ? moduleApi()->selCount(handle_) : 0; }

int32_t HostSelection::rangeCount() const { return handle_ != nullptr ? moduleApi()->selRangeCount(handle_) : 0; }

bool HostSelection::range(int32_t index, int32_t* first, int32_t* last) const {
    return handle_ != nullptr && moduleApi()->selRange(handle_, index, first, last) != 0;
}

void HostSelection::memberBytes(uint8_t* out, int32_t n) const {
    if (handle_ != nullptr) {
        moduleApi()->selMemberBytes(handle_, out, n);
    } else {
        for (int32_t i = 0; i < n; ++i) out[i] = 0;
    }
}

bool HostSelection::copyFrom(const HostSelection& source) {
    if (handle_ == nullptr) return false;
    if (source.handle_ == nullptr) {
        moduleApi()->selDeselectAll(handle_);
        return true;
    }
    return moduleApi()->selCopyFrom(handle_, source.handle_) != 0;
}

HostSelectionSet::HostSelectionSet(const HostSelectionSet& other) : HostSelection() {
    if (other.handle_ != nullptr && make()) copyFrom(other);
}

HostSelectionSet& HostSelectionSet::operator=(const HostSelectionSet& other) {
    if (this == &other) return *this;
    if (other.handle_ == nullptr) {
        destroy();
        return *this;
    }
    if (handle_ == nullptr && !make()) return *this;
    copyFrom(other);
    return *this;
}

HostSelectionSet& HostSelectionSet::operator=(HostSelectionSet&& other) noexcept {
    if (this != &other) {
        destroy();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

bool HostSelectionSet::make() {
    destroy();
    handle_ = moduleApi()->selMake();
    return handle_ != nullptr;
}

void HostSelectionSet::destroy() {
    if (handle_ != nullptr) {
        moduleApi()->selDestroy(handle_);
        handle_ = nullptr;
    }
}
