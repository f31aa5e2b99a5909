// The tag and selection set entries of the host table.
#include "host/HostServices.h"
#include "host/HostTableSections.h"

#include <memory>
#include <mutex>
#include <unordered_map>

#include "host/HostHandles.h"

namespace host {
namespace {

// ---- tags -----------------------------------------------------------------------------------
Object* tagOwner(Tag* t) { return t ? t->owner() : nullptr; }

HstTag* objFirstTag(HstObject* o) {
    Object* obj = fromHandle(o);
    return obj && !obj->tags().empty() ? toHandle(obj->tags().front().get()) : nullptr;
}
HstTag* tagNext(HstTag* t) {
    Tag* tag = fromHandle(t);
    Object* owner = tag ? tagOwner(tag) : nullptr;
    if (!owner) return nullptr;
    const auto& tags = owner->tags();
    for (size_t i = 0; i + 1 < tags.size(); ++i)
        if (tags[i].get() == tag) return toHandle(tags[i + 1].get());
    return nullptr;
}
HstTag* objTagOfType(HstObject* o, int32_t type, int32_t index) {
    Object* obj = fromHandle(o);
    return obj ? toHandle(obj->tag(type, index)) : nullptr;
}
int32_t tagType(HstTag* t) { return fromHandle(t) ? fromHandle(t)->type() : 0; }
HstObject* tagObject(HstTag* t) { return fromHandle(t) ? toHandle(tagOwner(fromHandle(t))) : nullptr; }
HstString* tagName(HstTag* t) { return makeString(fromHandle(t) ? fromHandle(t)->name() : ""); }
void* tagData(HstTag* t) {
    Tag* tag = fromHandle(t);
    if (auto* uvw = dynamic_cast<UVWTag*>(tag)) return uvw->data.empty() ? nullptr : uvw->data.data();
    if (auto* nrm = dynamic_cast<NormalTag*>(tag)) return nrm->data.empty() ? nullptr : nrm->data.data();
    if (auto* fm = dynamic_cast<FloatMapTag*>(tag)) return fm->data.empty() ? nullptr : fm->data.data();
    return nullptr;
}
int32_t tagDataCount(HstTag* t) { return fromHandle(t) ? fromHandle(t)->elementCount() : 0; }
HstSelection* tagSelection(HstTag* t) {
    auto* sel = dynamic_cast<SelectionTag*>(fromHandle(t));
    return sel ? objectSelection(&sel->set) : nullptr;
}
HstTag* objDetachTag(HstObject* o, HstTag* t) {
    Object* obj = fromHandle(o);
    Tag* tag = fromHandle(t);
    if (!obj || !tag) return nullptr;
    std::unique_ptr<Tag> detached = obj->takeTag(tag);
    if (!detached) return nullptr;
    countHandle(1);
    return toHandle(detached.release());
}
void objInsertTag(HstObject* o, HstTag* t, int32_t index) {
    Object* obj = fromHandle(o);
    if (!obj || !t) return;
    countHandle(-1);
    obj->insertTag(std::unique_ptr<Tag>(fromHandle(t)), index);
}
void objAttachTag(HstObject* o, HstTag* t) { objInsertTag(o, t, -1); }
void tagDestroy(HstTag* t) {
    if (!t) return;
    countHandle(-1);
    delete fromHandle(t);
}

// ---- selection sets -------------------------------------------------------------------------
HstSelection* selMake() {
    auto* s = makeCounted<HstSelection>();
    s->set = &s->own;
    s->freeStanding = true;
    return s;
}
void selDestroy(HstSelection* s) {
    if (s && s->freeStanding) destroyCounted(s);
}
int32_t selCopyFrom(HstSelection* dst, const HstSelection* src) {
    if (!dst || !src) return 0;
    if (dst->freeStanding) {
        *dst->set = *src->set;
    } else {
        // An object's set keeps its size: copy the members that fit.
        dst->set->deselectAll();
        for (const auto& [first, last] : src->set->ranges()) dst->set->selectRange(first, last);
    }
    return 1;
}
int32_t selIsSelected(const HstSelection* s, int32_t i) { return s && s->set->isSelected(i) ? 1 : 0; }
int32_t selSelect(HstSelection* s, int32_t i) {
    if (!s || i < 0) return 0;
    if (s->freeStanding && i >= s->set->size()) s->set->resize(i + 1);
    return s->set->select(i) ? 1 : 0;
}
int32_t selDeselect(HstSelection* s, int32_t i) { return s && s->set->deselect(i) ? 1 : 0; }
int32_t selToggle(HstSelection* s, int32_t i) {
    if (!s || i < 0) return 0;
    if (s->freeStanding && i >= s->set->size()) s->set->resize(i + 1);
    return s->set->toggle(i) ? 1 : 0;
}
void selDeselectAll(HstSelection* s) {
    if (s) s->set->deselectAll();
}
int32_t selCount(const HstSelection* s) { return s ? s->set->count() : 0; }
int32_t selRangeCount(const HstSelection* s) { return s ? static_cast<int32_t>(s->set->ranges().size()) : 0; }
int32_t selRange(const HstSelection* s, int32_t index, int32_t* first, int32_t* last) {
    if (!s) return 0;
    const auto ranges = s->set->ranges();
    if (index < 0 || index >= static_cast<int32_t>(ranges.size())) return 0;
    *first = ranges[index].first;
    *last = ranges[index].second;
    return 1;
}
void selMemberBytes(const HstSelection* s, uint8_t* out, int32_t count) {
    if (!out || count <= 0) return;
    // From the runs: one pass over the bytes whatever form the set is in.
    std::fill(out, out + count, uint8_t{0});
    if (!s) return;
    for (const auto& [first, last] : s->set->ranges())
        for (int32_t i = first; i <= last && i < count; ++i) out[i] = 1;
}
HstSettings* tagSettings(HstTag* t) {
    auto* smoothing = dynamic_cast<SmoothingTag*>(fromHandle(t));
    return smoothing ? wrapSettings(smoothing->data) : nullptr;
}

}  // namespace

void fillTagApi(HostApi& t) {
    t.objFirstTag = objFirstTag;
    t.tagNext = tagNext;
    t.objTagOfType = objTagOfType;
    t.tagType = tagType;
    t.tagObject = tagObject;
    t.tagName = tagName;
    t.tagData = tagData;
    t.tagDataCount = tagDataCount;
    t.tagSelection = tagSelection;
    t.objDetachTag = objDetachTag;
    t.objInsertTag = objInsertTag;
    t.objAttachTag = objAttachTag;
    t.tagDestroy = tagDestroy;
    t.selMake = selMake;
    t.selDestroy = selDestroy;
    t.selCopyFrom = selCopyFrom;
    t.selIsSelected = selIsSelected;
    t.selSelect = selSelect;
    t.selDeselect = selDeselect;
    t.selToggle = selToggle;
    t.selDeselectAll = selDeselectAll;
    t.selCount = selCount;
    t.selRangeCount = selRangeCount;
    t.selRange = selRange;
    t.selMemberBytes = selMemberBytes;
    t.tagSettings = tagSettings;
}

// An object's own selection sets are handed out as handles that live with the object; they are
// kept per set so that the same handle comes back for the same set.
HstSelection* objectSelection(SelectionSet* set) {
    std::lock_guard<std::mutex> lock(tableState().selectionsMutex);
    auto& slot = tableState().objectSelections[set];
    if (!slot) {
        slot = std::make_unique<HstSelection>();
        slot->set = set;
    }
    return slot.get();
}

}  // namespace host
