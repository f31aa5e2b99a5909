// What the opaque handles of the host interface stand for on our side, and the conversions between
// them. Handles made for the module (strings, file names, bitmaps, settings, selections, random
// sources, object lists) are counted, so that tests can check that a module released all it made.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/SelectionSet.h"
#include "host/Services.h"
#include "host/Settings.h"
#include "sources/HostInterface.h"

struct HstString {
    std::string text;
};
struct HstFilename {
    std::string path;
};
struct HstBitmap {
    host::Bitmap bitmap;
};
struct HstSettings {
    host::Settings settings;
};
struct HstRandom {
    host::Random random;
};
struct HstObjectList {
    std::vector<host::Object*> objects;
};
// A selection set as the module sees it: either one of an object's own sets (sized with the object)
// or a free-standing one that grows as members are added.
struct HstSelection {
    host::SelectionSet* set = nullptr;  // points into an object, or at `own`
    host::SelectionSet own;
    bool freeStanding = false;
};

namespace host {

// Counts of handles made for modules and not yet destroyed.
size_t liveHandles();
void countHandle(int delta);

// Objects, tags and documents are the host's own records behind a cast.
inline HstObject* toHandle(Object* o) { return reinterpret_cast<HstObject*>(o); }
inline Object* fromHandle(HstObject* o) { return reinterpret_cast<Object*>(o); }
inline HstTag* toHandle(Tag* t) { return reinterpret_cast<HstTag*>(t); }
inline Tag* fromHandle(HstTag* t) { return reinterpret_cast<Tag*>(t); }
inline HstDocument* toHandle(Document* d) { return reinterpret_cast<HstDocument*>(d); }
inline Document* fromHandle(HstDocument* d) { return reinterpret_cast<Document*>(d); }

// Settings containers handed to the module without being made by it (document settings, messages,
// tool settings) are wrapped without counting.
inline HstSettings* wrapSettings(Settings& s) { return reinterpret_cast<HstSettings*>(&s); }
inline Settings& asSettings(HstSettings* s) { return *reinterpret_cast<Settings*>(s); }
inline const Settings& asSettings(const HstSettings* s) { return *reinterpret_cast<const Settings*>(s); }
static_assert(sizeof(HstSettings) == sizeof(Settings));

inline std::string& asString(HstString* s) { return s->text; }
inline const std::string& asString(const HstString* s) { return s->text; }
inline std::string& asFilename(HstFilename* f) { return f->path; }
inline const std::string& asFilename(const HstFilename* f) { return f->path; }
inline Bitmap& asBitmap(HstBitmap* b) { return b->bitmap; }

// Make counted handles (for results handed to the module, which destroys them).
HstString* makeString(std::string text);
HstFilename* makeFilename(std::string path);

}  // namespace host
