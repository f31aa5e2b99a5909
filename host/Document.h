// A document: the object hierarchy, the active objects, document settings (editing mode 1019),
// its file path, and the undo history.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Object.h"
#include "Settings.h"

namespace host {

class Document {
public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    std::string path;  // the document's file ("" until it has one)
    Settings settings;

    int32_t editingMode() const { return settings.getInt(DOC_EDITING_MODE, MODE_OBJECT); }
    void setEditingMode(int32_t mode) { settings.setInt(DOC_EDITING_MODE, mode); }

    const std::vector<std::unique_ptr<Object>>& roots() const { return roots_; }
    Object* firstObject() const { return roots_.empty() ? nullptr : roots_.front().get(); }
    // Inserts a top-level object (under `parent` when given) and returns it.
    Object* insert(std::unique_ptr<Object> object, Object* parent = nullptr);
    std::unique_ptr<Object> remove(Object* object);

    // Every object, depth first in hierarchy order.
    std::vector<Object*> allObjects() const;
    // The first object of that name, depth first, or null.
    Object* find(const std::string& name) const;

    // Active objects: the selected ones, depth first. With `topOnly`, an active object below another
    // active one is left out (a command that works on hierarchies reaches it through its parent).
    std::vector<Object*> activeObjects(bool topOnly = false) const;
    Object* activeObject() const;  // the first active object, or null
    void setActive(Object* object, bool on = true);
    void clearActive();

    // Undo. A step gathers snapshots of the objects changed inside start/end; undoLast puts every
    // object of the last step back as it was, tags included.
    //
    // A document that keeps no undo history (for a run that writes its result and ends, where
    // nothing is ever taken back) takes the same calls but copies nothing: a snapshot of a large
    // object costs as much memory as the object. Its undoLast then finds nothing to take back.
    void keepUndoHistory(bool keep) { keepsUndo_ = keep; }
    bool startUndo();
    bool addUndo(int32_t kind, Object* object);
    bool endUndo();
    bool undoLast();
    int undoDepth() const { return static_cast<int>(undo_.size()); }

private:
    struct Snapshot {
        Object* object;
        std::unique_ptr<Object> state;
    };
    std::vector<std::unique_ptr<Object>> roots_;
    std::vector<std::vector<Snapshot>> undo_;
    bool keepsUndo_ = true;
    int openSteps_ = 0;
};

}  // namespace host
