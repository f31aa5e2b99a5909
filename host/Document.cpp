#include "Document.h"

#include <algorithm>
#include <functional>

namespace host {

Document::Document() { setEditingMode(MODE_OBJECT); }
Document::~Document() = default;

Object* Document::insert(std::unique_ptr<Object> object, Object* parent) {
    if (parent) return parent->addChild(std::move(object));
    object->parent_ = nullptr;
    object->setDocument(this, &roots_);
    roots_.push_back(std::move(object));
    return roots_.back().get();
}

std::unique_ptr<Object> Document::remove(Object* object) {
    if (!object) return nullptr;
    // Snapshots of a removed object, or of any object below it, could never be restored into the
    // document again (and would point at an object the caller now owns or frees).
    std::vector<Object*> gone;
    std::function<void(Object*)> walk = [&](Object* o) {
        gone.push_back(o);
        for (const auto& c : o->children()) walk(c.get());
    };
    walk(object);
    for (auto& step : undo_)
        std::erase_if(step, [&](const Snapshot& s) {
            return std::find(gone.begin(), gone.end(), s.object) != gone.end();
        });
    if (object->parent()) return object->parent()->removeChild(object);
    for (auto it = roots_.begin(); it != roots_.end(); ++it) {
        if (it->get() == object) {
            std::unique_ptr<Object> out = std::move(*it);
            roots_.erase(it);
            out->setDocument(nullptr, nullptr);
            return out;
        }
    }
    return nullptr;
}

std::vector<Object*> Document::allObjects() const {
    std::vector<Object*> out;
    std::function<void(Object*)> walk = [&](Object* o) {
        out.push_back(o);
        for (const auto& c : o->children()) walk(c.get());
    };
    for (const auto& r : roots_) walk(r.get());
    return out;
}

Object* Document::find(const std::string& name) const {
    for (Object* o : allObjects())
        if (o->name() == name) return o;
    return nullptr;
}

std::vector<Object*> Document::activeObjects(bool topOnly) const {
    std::vector<Object*> out;
    std::function<void(Object*, bool)> walk = [&](Object* o, bool underActive) {
        const bool take = o->active && !(topOnly && underActive);
        if (take) out.push_back(o);
        for (const auto& c : o->children()) walk(c.get(), underActive || o->active);
    };
    for (const auto& r : roots_) walk(r.get(), false);
    return out;
}

Object* Document::activeObject() const {
    std::vector<Object*> a = activeObjects();
    return a.empty() ? nullptr : a.front();
}

void Document::setActive(Object* object, bool on) {
    if (object) object->active = on;
}

void Document::clearActive() {
    for (Object* o : allObjects()) o->active = false;
}

bool Document::startUndo() {
    if (openSteps_++ == 0) undo_.emplace_back();
    return true;
}

bool Document::addUndo(int32_t kind, Object* object) {
    if (kind != UNDO_OBJECT_CHANGE || !object || openSteps_ == 0) return false;
    if (!keepsUndo_) return true;
    auto& step = undo_.back();
    // The first snapshot of an object in a step is the state to go back to.
    for (const auto& s : step)
        if (s.object == object) return true;
    step.push_back({object, object->cloneAlone()});
    return true;
}

bool Document::endUndo() {
    if (openSteps_ == 0) return false;
    if (--openSteps_ == 0 && undo_.back().empty()) undo_.pop_back();
    return true;
}

bool Document::undoLast() {
    if (openSteps_ != 0 || undo_.empty()) return false;
    for (auto& s : undo_.back()) {
        s.object->copyStateFrom(*s.state);
        s.object->message(MSG_UPDATE);
    }
    undo_.pop_back();
    return true;
}

}  // namespace host
