// The table of host operations handed to modules: each entry adapts one host service (document
// model, memory, strings, threads, events, bitmaps, modelling commands) to the C interface.
#include "host/HostTable.h"
#include "host/viewport/Viewport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "host/EventQueue.h"
#include "host/HostHandles.h"
#include "host/Memory.h"
#include "host/ModelingCommands.h"
#include "host/StatusBar.h"
#include "host/Threads.h"
#include "host/Dialogs.h"
#include "host/Resources.h"
#include "host/SafeOutput.h"

namespace host {
namespace {

std::atomic<long> gLiveHandles{0};
std::atomic<Document*> gActiveDocument{nullptr};
std::mutex gRedrawMutex;
std::vector<int32_t> gRedraws;

template <class T, class... Args>
T* makeCounted(Args&&... args) {
    countHandle(1);
    return new T{std::forward<Args>(args)...};
}
template <class T>
void destroyCounted(T* p) {
    if (!p) return;
    countHandle(-1);
    delete p;
}

PolygonObject* polygonObject(HstObject* o) {
    Object* obj = fromHandle(o);
    return obj && obj->isPolygonObject() ? static_cast<PolygonObject*>(obj) : nullptr;
}

// ---- memory ---------------------------------------------------------------------------------
void* memAlloc(int64_t size, int32_t line, const char* tag) {
    if (size < 0) return nullptr;
    return memory::allocate(static_cast<size_t>(size), line, tag);
}
void memFree(void* block) { memory::release(block); }

// ---- strings and file names -----------------------------------------------------------------
HstString* strMake(const char* text) { return makeString(text ? text : ""); }
HstString* strCopy(const HstString* s) { return makeString(s ? s->text : ""); }
void strDestroy(HstString* s) { destroyCounted(s); }
HstString* strConcat(const HstString* a, const HstString* b) {
    return makeString((a ? a->text : "") + (b ? b->text : ""));
}
int32_t strLength(const HstString* s) { return s ? static_cast<int32_t>(s->text.size()) : 0; }
const char* strChars(const HstString* s) { return s ? s->text.c_str() : ""; }
HstString* strFromInt(int64_t v) { return makeString(numberText(static_cast<long long>(v))); }
HstString* strFromReal(double v, int32_t decimals) { return makeString(numberText(v, decimals)); }
void strAssign(HstString* s, const char* text) {
    if (s) s->text = text ? text : "";
}

HstFilename* fnMake(const char* path) { return makeFilename(path ? path : ""); }
HstFilename* fnCopy(const HstFilename* f) { return makeFilename(f ? f->path : ""); }
void fnDestroy(HstFilename* f) { destroyCounted(f); }
HstFilename* fnJoin(const HstFilename* folder, const char* name) {
    return makeFilename(filename::join(folder ? folder->path : "", name ? name : ""));
}
void fnSetSuffix(HstFilename* f, const char* suffix) {
    if (f && !f->path.empty()) f->path = filename::setSuffix(f->path, suffix ? suffix : "");
}
int32_t fnIsEmpty(const HstFilename* f) { return !f || f->path.empty(); }
const char* fnChars(const HstFilename* f) { return f ? f->path.c_str() : ""; }
void fnAssign(HstFilename* f, const char* path) {
    if (f) f->path = path ? path : "";
}

// ---- console, resources, status bar, views --------------------------------------------------
void consolePrint(const HstString* line) { Console::main().print(line ? line->text : ""); }

HstResource* resOpen(const HstFilename* folder) {
    if (!folder) return nullptr;
    std::unique_ptr<ResourceSet> set = ResourceSet::open(folder->path);
    if (!set) return nullptr;
    countHandle(1);
    ResourceSet* raw = set.release();
    DialogHost::main().setResources(raw);
    return reinterpret_cast<HstResource*>(raw);
}
void resClose(HstResource* r) {
    if (!r) return;
    auto* set = reinterpret_cast<ResourceSet*>(r);
    if (DialogHost::main().resources() == set) DialogHost::main().setResources(nullptr);
    countHandle(-1);
    delete set;
}
HstString* resString(HstResource* r, int32_t id) {
    return makeString(r ? reinterpret_cast<ResourceSet*>(r)->string(id) : std::string());
}
int32_t resRegisterDescription(HstResource* r, const char* name) {
    if (!r || !name || !*name) return 0;
    PluginRegistry::main().descriptions.emplace_back(name);
    return 1;
}

void statusBarPercent(int32_t percent) { StatusBar::main().bar(percent); }
void statusText(const HstString* t) { StatusBar::main().text(t ? t->text : ""); }
void statusSpin() { StatusBar::main().spin(); }
void statusClear() { StatusBar::main().clear(); }
void viewsRedraw(int32_t flags) {
    std::lock_guard<std::mutex> lock(gRedrawMutex);
    gRedraws.push_back(flags);
}

// ---- clock and random -----------------------------------------------------------------------
int64_t clock() { return clockMs(); }
HstRandom* randomMake(uint32_t seed) { return makeCounted<HstRandom>(Random(seed)); }
void randomDestroy(HstRandom* r) { destroyCounted(r); }
double randomReal(HstRandom* r) { return r ? r->random.nextReal() : 0.0; }

// ---- threads --------------------------------------------------------------------------------
// Each module thread object gets a host thread that runs its main and asks its own break test.
std::mutex gThreadsMutex;
std::unordered_map<HostThreadBase*, std::unique_ptr<Thread>>& threads() {
    static auto* map = new std::unordered_map<HostThreadBase*, std::unique_ptr<Thread>>();
    return *map;
}
Thread* hostThread(HostThreadBase* t) {
    std::lock_guard<std::mutex> lock(gThreadsMutex);
    auto it = threads().find(t);
    return it == threads().end() ? nullptr : it->second.get();
}

void threadCreate(HostThreadBase* t) {
    if (!t) return;
    auto thread = std::make_unique<Thread>([t](Thread&) { t->main(); }, [t] { return t->testBreak() != 0; });
    std::lock_guard<std::mutex> lock(gThreadsMutex);
    threads()[t] = std::move(thread);
}
void threadDestroy(HostThreadBase* t) {
    std::unique_ptr<Thread> thread;
    {
        std::lock_guard<std::mutex> lock(gThreadsMutex);
        auto it = threads().find(t);
        if (it == threads().end()) return;
        thread = std::move(it->second);
        threads().erase(it);
    }
    thread->end(true);
}
int32_t threadStart(HostThreadBase* t) {
    Thread* h = hostThread(t);
    return h && h->start() ? 1 : 0;
}
int32_t threadIsRunning(HostThreadBase* t) {
    Thread* h = hostThread(t);
    return h && h->isRunning() ? 1 : 0;
}
void threadEnd(HostThreadBase* t, int32_t wait) {
    if (Thread* h = hostThread(t)) h->end(wait != 0);
}
void threadWait(HostThreadBase* t) {
    if (Thread* h = hostThread(t)) h->wait();
}
int32_t threadTestBreak(HostThreadBase* t) {
    Thread* h = hostThread(t);
    return h && h->testBreak() ? 1 : 0;
}

// ---- events ---------------------------------------------------------------------------------
void specialEvent(int32_t id, int32_t v1, int32_t v2) {
    EventQueue::main().post({Event::Kind::Special, id, v1, v2, nullptr});
}
void postMessage(int32_t pluginId, int32_t value) {
    EventQueue::main().post({Event::Kind::DialogMessage, pluginId, value, 0, nullptr});
}

// ---- documents and undo ---------------------------------------------------------------------
HstDocument* activeDoc() { return toHandle(gActiveDocument.load()); }
HstObjectList* docActiveObjects(HstDocument* d, int32_t topOnly) {
    Document* doc = fromHandle(d);
    auto* list = makeCounted<HstObjectList>();
    if (doc) list->objects = doc->activeObjects(topOnly != 0);
    return list;
}
HstObject* docActiveObject(HstDocument* d) {
    Document* doc = fromHandle(d);
    return doc ? toHandle(doc->activeObject()) : nullptr;
}
HstSettings* docSettings(HstDocument* d) {
    Document* doc = fromHandle(d);
    return doc ? wrapSettings(doc->settings) : nullptr;
}
// The document's folder: where files that belong with it are proposed.
HstFilename* docPath(HstDocument* d) {
    Document* doc = fromHandle(d);
    return makeFilename(doc ? filename::directory(doc->path) : "");
}
int32_t listCount(const HstObjectList* l) { return l ? static_cast<int32_t>(l->objects.size()) : 0; }
HstObject* listAt(const HstObjectList* l, int32_t i) {
    if (!l || i < 0 || i >= static_cast<int32_t>(l->objects.size())) return nullptr;
    return toHandle(l->objects[i]);
}
void listDestroy(HstObjectList* l) { destroyCounted(l); }

int32_t undoStart(HstDocument* d) { return fromHandle(d) && fromHandle(d)->startUndo() ? 1 : 0; }
int32_t undoAdd(HstDocument* d, int32_t kind, HstObject* o) {
    return fromHandle(d) && fromHandle(d)->addUndo(kind, fromHandle(o)) ? 1 : 0;
}
int32_t undoEnd(HstDocument* d) { return fromHandle(d) && fromHandle(d)->endUndo() ? 1 : 0; }
int32_t undoLast(HstDocument* d) { return fromHandle(d) && fromHandle(d)->undoLast() ? 1 : 0; }

// ---- objects --------------------------------------------------------------------------------
int32_t objType(HstObject* o) { return fromHandle(o) ? fromHandle(o)->type() : 0; }
HstObject* objFirstChild(HstObject* o) { return fromHandle(o) ? toHandle(fromHandle(o)->firstChild()) : nullptr; }
HstObject* objNext(HstObject* o) { return fromHandle(o) ? toHandle(fromHandle(o)->next()) : nullptr; }
HstString* objName(HstObject* o) { return makeString(fromHandle(o) ? fromHandle(o)->name() : ""); }
void objMessage(HstObject* o, int32_t id) {
    if (fromHandle(o)) fromHandle(o)->message(id);
}
void objGlobalMatrix(HstObject* o, double out[12]) {
    const Matrix m = fromHandle(o) ? fromHandle(o)->globalMatrix() : Matrix{};
    const Vec3* parts[4] = {&m.off, &m.v1, &m.v2, &m.v3};
    for (int i = 0; i < 4; ++i) {
        out[3 * i] = parts[i]->x;
        out[3 * i + 1] = parts[i]->y;
        out[3 * i + 2] = parts[i]->z;
    }
}
HstDocument* objDocument(HstObject* o) { return fromHandle(o) ? toHandle(fromHandle(o)->document()) : nullptr; }

int32_t polyPointCount(HstObject* o) { return polygonObject(o) ? polygonObject(o)->pointCount() : 0; }
int32_t polyPolygonCount(HstObject* o) { return polygonObject(o) ? polygonObject(o)->polygonCount() : 0; }
float* polyPoints(HstObject* o) {
    PolygonObject* p = polygonObject(o);
    static_assert(sizeof(Vec3f) == 3 * sizeof(float));
    return p && !p->points.empty() ? &p->points.front().x : nullptr;
}
HostPolygon* polyPolygons(HstObject* o) {
    PolygonObject* p = polygonObject(o);
    static_assert(sizeof(Polygon) == sizeof(HostPolygon));
    return p && !p->polygons.empty() ? reinterpret_cast<HostPolygon*>(p->polygons.data()) : nullptr;
}
int32_t polyResize(HstObject* o, int32_t points, int32_t polygons) {
    PolygonObject* p = polygonObject(o);
    return p && p->resize(points, polygons) ? 1 : 0;
}

// An object's own selection sets are handed out as handles that live with the object; they are
// kept per set so that the same handle comes back for the same set.
std::mutex gSelMutex;
std::unordered_map<SelectionSet*, std::unique_ptr<HstSelection>>& objectSelections() {
    static auto* map = new std::unordered_map<SelectionSet*, std::unique_ptr<HstSelection>>();
    return *map;
}
HstSelection* objectSelection(SelectionSet* set) {
    std::lock_guard<std::mutex> lock(gSelMutex);
    auto& slot = objectSelections()[set];
    if (!slot) {
        slot = std::make_unique<HstSelection>();
        slot->set = set;
    }
    return slot.get();
}
HstSelection* polyPointSelection(HstObject* o) {
    return polygonObject(o) ? objectSelection(&polygonObject(o)->pointSelection) : nullptr;
}
HstSelection* polyPolygonSelection(HstObject* o) {
    return polygonObject(o) ? objectSelection(&polygonObject(o)->polygonSelection) : nullptr;
}
HstSelection* polyHiddenPoints(HstObject* o) {
    return polygonObject(o) ? objectSelection(&polygonObject(o)->hiddenPoints) : nullptr;
}
HstSelection* polyHiddenPolygons(HstObject* o) {
    return polygonObject(o) ? objectSelection(&polygonObject(o)->hiddenPolygons) : nullptr;
}

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

// ---- settings -------------------------------------------------------------------------------
HstSettings* setsMake() {
    countHandle(1);
    return reinterpret_cast<HstSettings*>(new HstSettings());
}
void setsDestroy(HstSettings* s) { destroyCounted(s); }
int32_t setsGetInt(const HstSettings* s, int32_t key, int32_t def) { return s ? asSettings(s).getInt(key, def) : def; }
double setsGetReal(const HstSettings* s, int32_t key, double def) { return s ? asSettings(s).getReal(key, def) : def; }
void setsGetVector(const HstSettings* s, int32_t key, const double def[3], double out[3]) {
    const Vec3 d = def ? Vec3{def[0], def[1], def[2]} : Vec3{};
    const Vec3 v = s ? asSettings(s).getVector(key, d) : d;
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}
HstString* setsGetString(const HstSettings* s, int32_t key) { return makeString(s ? asSettings(s).getString(key) : ""); }
int32_t setsGetBool(const HstSettings* s, int32_t key, int32_t def) {
    return s ? (asSettings(s).getBool(key, def != 0) ? 1 : 0) : def;
}
void* setsGetLink(const HstSettings* s, int32_t key) { return s ? asSettings(s).getLink(key) : nullptr; }
void setsSetInt(HstSettings* s, int32_t key, int32_t v) {
    if (s) asSettings(s).setInt(key, v);
}
void setsSetReal(HstSettings* s, int32_t key, double v) {
    if (s) asSettings(s).setReal(key, v);
}
void setsSetVector(HstSettings* s, int32_t key, const double v[3]) {
    if (s && v) asSettings(s).setVector(key, {v[0], v[1], v[2]});
}
void setsSetString(HstSettings* s, int32_t key, const HstString* v) {
    if (s) asSettings(s).setString(key, v ? v->text : "");
}
void setsSetBool(HstSettings* s, int32_t key, int32_t v) {
    if (s) asSettings(s).setBool(key, v != 0);
}
void setsSetLink(HstSettings* s, int32_t key, void* target) {
    if (s) asSettings(s).setLink(key, target);
}
int32_t setsHas(const HstSettings* s, int32_t key) { return s && asSettings(s).has(key) ? 1 : 0; }

// ---- modelling commands ---------------------------------------------------------------------
int32_t modelingCommand(int32_t command, int32_t mode, HstDocument* d, HstObject* o, HstSettings* params) {
    Object* obj = fromHandle(o);
    if (!obj) return 0;
    static const Settings kNoParams;
    return runModelingCommand(command, mode, fromHandle(d), {obj}, params ? asSettings(params) : kNoParams) ? 1 : 0;
}
HstObject* objCurrentStateCopy(HstDocument* d, HstObject* o) {
    Object* obj = fromHandle(o);
    if (!obj) return nullptr;
    std::vector<std::unique_ptr<Object>> results;
    if (!runModelingCommand(CMD_CURRENT_STATE_TO_OBJECT, 0, fromHandle(d), {obj}, Settings{}, &results) ||
        results.empty())
        return nullptr;
    countHandle(1);
    return toHandle(results.front().release());
}
void objDestroy(HstObject* o) {
    if (!o) return;
    countHandle(-1);
    delete fromHandle(o);
}

// ---- bitmaps --------------------------------------------------------------------------------
HstBitmap* bmpMake() { return makeCounted<HstBitmap>(); }
void bmpDestroy(HstBitmap* b) { destroyCounted(b); }
int32_t bmpInit(HstBitmap* b, int32_t w, int32_t h, int32_t bitsPerPixel) {
    if (!b) return 0;
    int channels = 3, bits = 8;
    switch (bitsPerPixel) {
        case 8: channels = 1; break;
        case 16: channels = 1; bits = 16; break;
        case 24: break;
        case 32: channels = 4; break;
        case 48: bits = 16; break;
        case 64: channels = 4; bits = 16; break;
        default: return 0;
    }
    return b->bitmap.init(w, h, channels, bits) ? 1 : 0;
}
int32_t bmpLoad(HstBitmap* b, const HstFilename* path) {
    return b && path && b->bitmap.load(path->path, nullptr) ? 1 : 0;
}
int32_t bmpSave(HstBitmap* b, const HstFilename* path, int32_t format) {
    if (!b || !path) return 0;
    std::string error;
    if (b->bitmap.save(path->path, format, &error)) return 1;
    Console::main().print(error);
    return 0;
}
int32_t bmpWidth(const HstBitmap* b) { return b ? b->bitmap.width() : 0; }
int32_t bmpHeight(const HstBitmap* b) { return b ? b->bitmap.height() : 0; }
int32_t bmpBitsPerPixel(const HstBitmap* b) {
    return b ? b->bitmap.channels() * b->bitmap.bitsPerChannel() : 0;
}
uint8_t clamp8(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
uint16_t clamp16(int32_t v) { return static_cast<uint16_t>(v < 0 ? 0 : (v > 65535 ? 65535 : v)); }
void bmpSetPixel(HstBitmap* b, int32_t x, int32_t y, int32_t r, int32_t g, int32_t bl) {
    if (b) b->bitmap.setPixel(x, y, clamp8(r), clamp8(g), clamp8(bl));
}
void bmpGetPixel(const HstBitmap* b, int32_t x, int32_t y, int32_t* r, int32_t* g, int32_t* bl) {
    if (!b) {
        *r = *g = *bl = 0;
        return;
    }
    const Bitmap& bm = b->bitmap;
    const bool grey = bm.channels() == 1;
    *r = bm.get8(x, y, 0);
    *g = bm.get8(x, y, grey ? 0 : 1);
    *bl = bm.get8(x, y, grey ? 0 : 2);
}
void bmpSetPixel16(HstBitmap* b, int32_t x, int32_t y, int32_t r, int32_t g, int32_t bl) {
    if (!b) return;
    Bitmap& bm = b->bitmap;
    if (bm.channels() == 1) {
        bm.set16(x, y, 0, clamp16((r + g + bl) / 3));
        return;
    }
    bm.set16(x, y, 0, clamp16(r));
    bm.set16(x, y, 1, clamp16(g));
    bm.set16(x, y, 2, clamp16(bl));
}
int32_t bmpInitFloat(HstBitmap* b, int32_t w, int32_t h, int32_t channels) {
    if (!b || (channels != 1 && channels != 3)) return 0;
    return b->bitmap.init(w, h, channels, 32) ? 1 : 0;
}
void bmpSetPixelFloat(HstBitmap* b, int32_t x, int32_t y, float r, float g, float bl) {
    if (!b) return;
    Bitmap& bm = b->bitmap;
    if (bm.channels() == 1) {
        // Grey maps send three equal channels: their value goes in untouched.
        bm.setFloat(x, y, 0, r == g && g == bl ? r : (r + g + bl) / 3.0f);
        return;
    }
    bm.setFloat(x, y, 0, r);
    bm.setFloat(x, y, 1, g);
    bm.setFloat(x, y, 2, bl);
}
void bmpGetPixelFloat(const HstBitmap* b, int32_t x, int32_t y, float* r, float* g, float* bl) {
    if (!b) {
        *r = *g = *bl = 0.0f;
        return;
    }
    const Bitmap& bm = b->bitmap;
    const bool grey = bm.channels() == 1;
    *r = bm.getFloat(x, y, 0);
    *g = bm.getFloat(x, y, grey ? 0 : 1);
    *bl = bm.getFloat(x, y, grey ? 0 : 2);
}

// ---- registration ---------------------------------------------------------------------------
int32_t registerPlugin(int32_t kind, int32_t id, const HstString* name, int32_t info, HstBitmap* icon,
                       const HstString* help, void* object, HostShaderAllocator shaderAlloc, int32_t version) {
    RegisteredPlugin p;
    p.kind = kind;
    p.id = id;
    p.name = name ? name->text : "";
    p.help = help ? help->text : "";
    p.info = info;
    if (icon) {
        p.iconWidth = icon->bitmap.width();
        p.iconHeight = icon->bitmap.height();
    }
    p.object = object;
    p.shaderAllocator = shaderAlloc;
    p.version = version;
    return PluginRegistry::main().add(p) ? 1 : 0;
}

// ---- text files, tag settings, visibility, document objects ---------------------------------
// Writes the whole text through a SafeOutput: the old file stays until the new one is complete.
int32_t fileWriteText(const HstFilename* path, const char* text) {
    if (!path || path->path.empty() || !text) return 0;
    return writeTextFile(path->path, text, nullptr) ? 1 : 0;
}
HstSettings* tagSettings(HstTag* t) {
    auto* smoothing = dynamic_cast<SmoothingTag*>(fromHandle(t));
    return smoothing ? wrapSettings(smoothing->data) : nullptr;
}
int32_t objVisibility(HstObject* o) { return fromHandle(o) && !fromHandle(o)->visible ? 1 : 0; }
HstObject* docFirstObject(HstDocument* d) {
    return fromHandle(d) ? toHandle(fromHandle(d)->firstObject()) : nullptr;
}

int32_t workerThreads() { return workerThreadCount(); }
int64_t memPeakBytes(int32_t restart) {
    const size_t peak = memory::peakBytes();
    if (restart) memory::resetPeak();
    return static_cast<int64_t>(peak);
}

HostApi buildTable(int32_t version) {
    HostApi t{};
    t.version = version;
    t.size = sizeof(HostApi);
    t.memAlloc = memAlloc;
    t.memFree = memFree;
    t.strMake = strMake;
    t.strCopy = strCopy;
    t.strDestroy = strDestroy;
    t.strConcat = strConcat;
    t.strLength = strLength;
    t.strChars = strChars;
    t.strFromInt = strFromInt;
    t.strFromReal = strFromReal;
    t.strAssign = strAssign;
    t.fnMake = fnMake;
    t.fnCopy = fnCopy;
    t.fnDestroy = fnDestroy;
    t.fnJoin = fnJoin;
    t.fnSetSuffix = fnSetSuffix;
    t.fnIsEmpty = fnIsEmpty;
    t.fnChars = fnChars;
    t.fnAssign = fnAssign;
    t.consolePrint = consolePrint;
    t.resOpen = resOpen;
    t.resClose = resClose;
    t.resString = resString;
    t.resRegisterDescription = resRegisterDescription;
    t.statusBar = statusBarPercent;
    t.statusText = statusText;
    t.statusSpin = statusSpin;
    t.statusClear = statusClear;
    t.viewsRedraw = viewsRedraw;
    t.clockMs = clock;
    t.randomMake = randomMake;
    t.randomDestroy = randomDestroy;
    t.randomReal = randomReal;
    t.threadCreate = threadCreate;
    t.threadDestroy = threadDestroy;
    t.threadStart = threadStart;
    t.threadIsRunning = threadIsRunning;
    t.threadEnd = threadEnd;
    t.threadWait = threadWait;
    t.threadTestBreak = threadTestBreak;
    t.specialEvent = specialEvent;
    t.postMessage = postMessage;
    t.activeDocument = activeDoc;
    t.docActiveObjects = docActiveObjects;
    t.docActiveObject = docActiveObject;
    t.docSettings = docSettings;
    t.docPath = docPath;
    t.listCount = listCount;
    t.listAt = listAt;
    t.listDestroy = listDestroy;
    t.undoStart = undoStart;
    t.undoAdd = undoAdd;
    t.undoEnd = undoEnd;
    t.undoLast = undoLast;
    t.objType = objType;
    t.objFirstChild = objFirstChild;
    t.objNext = objNext;
    t.objName = objName;
    t.objMessage = objMessage;
    t.objGlobalMatrix = objGlobalMatrix;
    t.objDocument = objDocument;
    t.polyPointCount = polyPointCount;
    t.polyPolygonCount = polyPolygonCount;
    t.polyPoints = polyPoints;
    t.polyPolygons = polyPolygons;
    t.polyResize = polyResize;
    t.polyPointSelection = polyPointSelection;
    t.polyPolygonSelection = polyPolygonSelection;
    t.polyHiddenPoints = polyHiddenPoints;
    t.polyHiddenPolygons = polyHiddenPolygons;
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
    t.setsMake = setsMake;
    t.setsDestroy = setsDestroy;
    t.setsGetInt = setsGetInt;
    t.setsGetReal = setsGetReal;
    t.setsGetVector = setsGetVector;
    t.setsGetString = setsGetString;
    t.setsGetBool = setsGetBool;
    t.setsGetLink = setsGetLink;
    t.setsSetInt = setsSetInt;
    t.setsSetReal = setsSetReal;
    t.setsSetVector = setsSetVector;
    t.setsSetString = setsSetString;
    t.setsSetBool = setsSetBool;
    t.setsSetLink = setsSetLink;
    t.setsHas = setsHas;
    t.modelingCommand = modelingCommand;
    t.objCurrentStateCopy = objCurrentStateCopy;
    t.objDestroy = objDestroy;
    t.bmpMake = bmpMake;
    t.bmpDestroy = bmpDestroy;
    t.bmpInit = bmpInit;
    t.bmpLoad = bmpLoad;
    t.bmpSave = bmpSave;
    t.bmpWidth = bmpWidth;
    t.bmpHeight = bmpHeight;
    t.bmpBitsPerPixel = bmpBitsPerPixel;
    t.bmpSetPixel = bmpSetPixel;
    t.bmpGetPixel = bmpGetPixel;
    t.bmpSetPixel16 = bmpSetPixel16;
    t.bmpInitFloat = bmpInitFloat;
    t.bmpSetPixelFloat = bmpSetPixelFloat;
    t.bmpGetPixelFloat = bmpGetPixelFloat;
    t.registerPlugin = registerPlugin;
    t.fileWriteText = fileWriteText;
    t.tagSettings = tagSettings;
    t.objVisibility = objVisibility;
    t.docFirstObject = docFirstObject;
    t.objInsertTag = objInsertTag;
    t.workerThreadCount = workerThreads;
    t.memPeakBytes = memPeakBytes;
    fillDialogApi(t);
    fillViewportApi(t);
    fillRenderApi(t);
    return t;
}

}  // namespace

size_t liveHandles() { return static_cast<size_t>(gLiveHandles.load()); }
void countHandle(int delta) { gLiveHandles.fetch_add(delta); }

HstString* makeString(std::string text) { return makeCounted<HstString>(std::move(text)); }
HstFilename* makeFilename(std::string path) { return makeCounted<HstFilename>(std::move(path)); }

const HostApi* hostApi() {
    static const HostApi table = buildTable(HOST_INTERFACE_VERSION);
    return &table;
}

HostApi makeHostApi(int32_t version) { return buildTable(version); }

PluginRegistry& PluginRegistry::main() {
    static PluginRegistry registry;
    return registry;
}

const RegisteredPlugin* PluginRegistry::find(int32_t id) const {
    for (const auto& p : plugins_)
        if (p.id == id) return &p;
    return nullptr;
}

bool PluginRegistry::add(const RegisteredPlugin& p) {
    // Commands and tools must come with their object, shaders with their allocator.
    if (p.kind == HOST_PLUGIN_SHADER ? !p.shaderAllocator : !p.object) return false;
    if (p.name.empty() || find(p.id)) return false;
    plugins_.push_back(p);
    return true;
}

HostShaderBase* PluginRegistry::makeShader(int32_t id) {
    const RegisteredPlugin* p = find(id);
    if (!p || p->kind != HOST_PLUGIN_SHADER || !p->shaderAllocator) return nullptr;
    HostShaderBase* s = p->shaderAllocator();
    if (s) shaders_.push_back(s);
    return s;
}

void PluginRegistry::destroyShader(HostShaderBase* shader) {
    const auto it = std::find(shaders_.begin(), shaders_.end(), shader);
    if (it == shaders_.end()) return;
    shaders_.erase(it);
    // Made in host memory by the module's allocator: destroy, then give the block back.
    shader->~HostShaderBase();
    memory::release(shader);
}

size_t PluginRegistry::liveShaders() const { return shaders_.size(); }

void PluginRegistry::clear() {
    // Shader instances hold module code too; they go first.
    while (!shaders_.empty()) destroyShader(shaders_.back());
    // Registered objects were made in host memory by the module: destroy, then give the block back.
    for (auto& p : plugins_) {
        if (p.kind == HOST_PLUGIN_COMMAND) static_cast<HostCommandBase*>(p.object)->~HostCommandBase();
        if (p.kind == HOST_PLUGIN_TOOL) static_cast<HostToolBase*>(p.object)->~HostToolBase();
        if (p.object) memory::release(p.object);
    }
    plugins_.clear();
    descriptions.clear();
}

void setActiveDocument(Document* doc) { gActiveDocument = doc; }
Document* activeDocument() { return gActiveDocument.load(); }

std::vector<int32_t> takeRedrawRequests() {
    std::lock_guard<std::mutex> lock(gRedrawMutex);
    std::vector<int32_t> out;
    out.swap(gRedraws);
    return out;
}

}  // namespace host
