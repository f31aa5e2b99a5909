// The memory, string, file name, console, clock, random number and settings entries of the host
// table, and the text files written for the module.
#include "host/HostServices.h"
#include "host/HostTableSections.h"

#include "host/HostHandles.h"
#include "host/Memory.h"
#include "host/SafeOutput.h"

namespace host {
namespace {

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

// ---- console --------------------------------------------------------------------------------
void consolePrint(const HstString* line) { hostServices().console.print(line ? line->text : ""); }

// ---- clock and random -----------------------------------------------------------------------
int64_t clock() { return clockMs(); }
HstRandom* randomMake(uint32_t seed) { return makeCounted<HstRandom>(Random(seed)); }
void randomDestroy(HstRandom* r) { destroyCounted(r); }
double randomReal(HstRandom* r) { return r ? r->random.nextReal() : 0.0; }

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

// ---- text files and memory use --------------------------------------------------------------
// Writes the whole text through a SafeOutput: the old file stays until the new one is complete.
int32_t fileWriteText(const HstFilename* path, const char* text) {
    if (!path || path->path.empty() || !text) return 0;
    return writeTextFile(path->path, text, nullptr) ? 1 : 0;
}
int64_t memPeakBytes(int32_t restart) {
    const size_t peak = memory::peakBytes();
    if (restart) memory::resetPeak();
    return static_cast<int64_t>(peak);
}

}  // namespace

void fillValueApi(HostApi& t) {
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
    t.clockMs = clock;
    t.randomMake = randomMake;
    t.randomDestroy = randomDestroy;
    t.randomReal = randomReal;
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
    t.fileWriteText = fileWriteText;
    t.memPeakBytes = memPeakBytes;
}

}  // namespace host
