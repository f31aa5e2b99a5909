#include "sources/HostTag.h"

#include "sources/Module.h"

int32_t HostTag::type() const { return handle_ != nullptr ? moduleApi()->tagType(handle_) : 0; }

HostTag HostTag::next() const { return HostTag(handle_ != nullptr ? moduleApi()->tagNext(handle_) : nullptr); }

HstObject* HostTag::object() const { return handle_ != nullptr ? moduleApi()->tagObject(handle_) : nullptr; }

HostString HostTag::name() const {
    return handle_ != nullptr ? HostString::adopt(moduleApi()->tagName(handle_)) : HostString();
}

void* HostTag::data() const { return handle_ != nullptr ? moduleApi()->tagData(handle_) : nullptr; }

int32_t HostTag::dataCount() const { return handle_ != nullptr ? moduleApi()->tagDataCount(handle_) : 0; }

HostSelection HostTag::selection() const {
    return HostSelection(handle_ != nullptr ? moduleApi()->tagSelection(handle_) : nullptr);
}
