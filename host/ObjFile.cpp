// OBJ mesh files, read and written exactly.
//
// Reading works on the whole file in memory: one read, then a single pass with pointers over the bytes
// (no per-line strings), numbers through fast_float and a hand-written integer scanner. Faces are
// gathered for the whole file with global point, texture and normal indices; each object (`o`) is a
// contiguous range of them and gets its own compact point array at the end. Nothing touches the
// document until the whole file has been understood.
//
// What a file means here:
// - `v x y z [...]`: one point, stored as float (extra values such as w or colours are ignored).
// - `vt u [v [w]]`: texture coordinate; missing v and w are 0.
// - `vn x y z`: corner normal, normalised and stored as int16 times 32000 (NormalTag).
// - `f c1 c2 c3 [...]`: corners `v`, `v/t`, `v//n` or `v/t/n`. Indices start at 1; negative ones count
//   back from the last element defined before the face. An index must name an element defined before
//   the face line (forward references are refused as out of range).
// - `g [names]`: the following faces are members of every named group; `g` alone or `g default` ends
//   membership. Groups become named polygon-selection tags (5673), in the order in which their names first
//   appear within the object. A name on a `g` line inside an object gives the object that tag even when
//   no face follows (the writer relies on this to keep empty groups and the tag order).
// - `o [name]`: starts a new object. Objects without faces are dropped. Faces before the first `o` make
//   an object named after the file without its suffix.
// - Comments, `s`, `usemtl`, `mtllib`, `l`, `p` and any other statement are skipped. A backslash at the
//   end of a line continues the statement on the next one.
//
// Writing gives each object an `o` line, all its points, its distinct texture coordinates and normals,
// then its faces (3 corners for a triangle, 4 for a quad) with a `g` line wherever group membership
// changes. Numbers are written as the shortest text that reads back to the same float, and normals as
// a text that the reader turns back into the very same stored row, so that reading what was written
// gives the same points, polygons, UVs, normals and groups. Points that no polygon uses, other tags and
// objects without polygons are not written (a file cannot say them).
#include "ObjFile.h"

#include <fast_float/fast_float.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>

namespace host {

namespace {

// ---------------------------------------------------------------------------------------------------
// Shared by reader and writer

using NormalKey = std::array<int16_t, 3>;

// The stored form of a normal: unit vector times 32000, rounded. A zero vector stays zero. The writer
// runs the very same function to find a `vn` text that reads back to a stored row exactly.
NormalKey quantizeNormal(float x, float y, float z) {
    const double dx = x, dy = y, dz = z;
    const double len = std::sqrt(dx * dx + dy * dy + dz * dz);
    NormalKey out{0, 0, 0};
    if (!(len > 0) || !std::isfinite(len)) return out;
    const double c[3] = {dx, dy, dz};
    for (int k = 0; k < 3; ++k) {
        long r = std::lround(c[k] / len * 32000.0);
        out[k] = static_cast<int16_t>(std::clamp(r, -32000L, 32000L));
    }
    return out;
}

std::string systemError(int err) { return std::strerror(err); }

// Big arrays are filled once, front to back; with the kernel's transparent huge pages a 2 MiB page
// costs one fault instead of 512. Only the 2 MiB-aligned interior of the block can be advised.
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

void preferHugePages(const void* data, size_t bytes) {
    if (bytes < 2 * kHugePage) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Reserves room for `count` elements before anything is written there, with huge pages where possible.
template <class T>
void reserveLarge(std::vector<T>& v, size_t count) {
    v.reserve(count);
    preferHugePages(v.data(), v.capacity() * sizeof(T));
}

// The file's text: a malloc'd block, 2 MiB-aligned when big so that it can take huge pages.
struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using TextBuffer = std::unique_ptr<char[], FreeDeleter>;

TextBuffer allocateText(size_t bytes) {
    if (bytes < 2 * kHugePage) return TextBuffer(static_cast<char*>(std::malloc(bytes)));
    const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    char* p = static_cast<char*>(std::aligned_alloc(kHugePage, rounded));
    if (p) ::madvise(p, rounded, MADV_HUGEPAGE);
    return TextBuffer(p);
}

// ---------------------------------------------------------------------------------------------------
// Reader

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
// A statement keyword ends at a blank or at the end of the line.
inline bool endsKeyword(char c) { return isBlank(c) || c == '\n'; }
inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The text buffer ends with four '\n' after the file's bytes, so that every scan stops at a line end
// without bounds checks and a look-ahead of two characters never leaves the buffer.
constexpr size_t kSentinels = 4;

struct Reader {
    std::string path;
    const char* p = nullptr;
    const char* end = nullptr;   // end of the file's bytes
    const char* limit = nullptr; // end of the buffer, sentinels included
    size_t line = 1;             // line of the scan position
    size_t stmtLine = 1;         // line where the current statement began
    std::string error;

    struct Corner {
        int v, t, n;
    };
    struct ObjectRange {
        std::string name;
        size_t polyBegin = 0, polyEnd = 0;
        bool hasTex = false, hasNormals = false;
        std::vector<int> groups;  // group ids in order of first appearance within the object
        int lastCombo = -1;       // the membership last registered, to skip repeated work per face
    };

    std::vector<Vec3f> points;
    std::vector<Vec3f> texcoords;
    std::vector<NormalKey> normals;

    // Per polygon of the whole file. The texture, normal and group arrays are created at the first
    // polygon that needs them and back-filled for the earlier ones.
    std::vector<Polygon> polys;
    std::vector<std::array<int, 4>> polyTex;
    std::vector<std::array<int, 4>> polyNormals;
    std::vector<uint32_t> polyCombo;
    bool haveTex = false, haveNormals = false, haveCombo = false;

    // Groups: names, and distinct memberships ("combos") as sorted-by-appearance id lists; combo 0 is none.
    std::vector<std::string> groupNames;
    std::unordered_map<std::string, int> groupIds;
    std::vector<std::vector<int>> combos{{}};
    std::map<std::vector<int>, uint32_t> comboIds;
    std::vector<int> groupStamp;  // object index + 1 that registered the group last
    uint32_t currentCombo = 0;

    std::vector<ObjectRange> objects;
    std::vector<Corner> corners;  // the face being read

    bool fail(const std::string& problem) {
        error = path + ":" + std::to_string(stmtLine) + ": " + problem;
        return false;
    }

    void skipBlanks() {
        for (;;) {
            const char c = *p;
            if (isBlank(c)) {
                ++p;
            } else if (c == '\\' && p[1] == '\n') {
                p += 2;
                ++line;
            } else if (c == '\\' && p[1] == '\r' && p[2] == '\n') {
                p += 3;
                ++line;
            } else {
                return;
            }
        }
    }

    // Past the '\n' that ends the statement, following continuation lines.
    void skipStatement() {
        for (;;) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(limit - p)));
            const bool continued = (nl > p && nl[-1] == '\\') || (nl - p >= 2 && nl[-1] == '\r' && nl[-2] == '\\');
            p = nl + 1;
            ++line;
            if (!continued) return;
        }
    }

    // Past the '\n' of a comment line (no continuation inside comments).
    void skipComment() {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(limit - p)));
        p = nl + 1;
        ++line;
    }

    bool atTokenEnd(const char* q) const {
        return isBlank(*q) || *q == '\n' || (*q == '\\' && (q[1] == '\n' || (q[1] == '\r' && q[2] == '\n')));
    }
    bool atStatementEnd() const { return *p == '\n' || *p == '#'; }

    std::string tokenText(const char* from) const {
        const char* q = from;
        while (q < end && !isBlank(*q) && *q != '\n' && q - from < 40) ++q;
        std::string s(from, q);
        if (s.empty()) s = "end of line";
        else if (q < end && !isBlank(*q) && *q != '\n') s += "...";
        return s;
    }

    bool parseFloat(float& out) {
        const char* start = p;
        const char* q = p;
        if (*q == '+' && (isDigit(q[1]) || q[1] == '.')) ++q;  // fast_float takes no leading plus
        auto r = fast_float::from_chars(q, end, out);
        const bool outOfRange = r.ec == std::errc::result_out_of_range;
        if ((r.ec != std::errc() && !outOfRange) || r.ptr == q || !atTokenEnd(r.ptr))
            return fail("malformed number '" + tokenText(start) + "'");
        if (outOfRange || !std::isfinite(out)) {
            // "inf" and "nan" are written as such; anything else that ends up infinite is a finite
            // number too large for single precision.
            const char* digits = q + (*q == '-' || *q == '+');
            const bool spelled = *digits == 'i' || *digits == 'I' || *digits == 'n' || *digits == 'N';
            if (spelled) return fail("non-finite coordinate '" + tokenText(start) + "'");
            return fail("number '" + tokenText(start) + "' is out of single-precision range (largest about 3.4e38)");
        }
        p = r.ptr;
        return true;
    }

    // Reads `count` required numbers and then up to `optional` more (missing ones stay as given).
    bool parseNumbers(float* out, int required, int optional, const char* what) {
        for (int i = 0; i < required + optional; ++i) {
            skipBlanks();
            if (atStatementEnd()) {
                if (i < required) return fail(std::string("expected ") + what);
                return true;
            }
            if (!parseFloat(out[i])) return false;
        }
        return true;
    }

    bool readPoint() {
        if (points.size() >= static_cast<size_t>(INT_MAX)) return fail("too many points");
        float c[3];
        if (!parseNumbers(c, 3, 0, "3 coordinates")) return false;
        points.push_back({c[0], c[1], c[2]});
        skipStatement();  // w or colour values carry nothing we store
        return true;
    }

    bool readTexcoord() {
        if (texcoords.size() >= static_cast<size_t>(INT_MAX)) return fail("too many texture coordinates");
        float c[3] = {0, 0, 0};
        if (!parseNumbers(c, 1, 2, "a texture coordinate")) return false;
        texcoords.push_back({c[0], c[1], c[2]});
        skipStatement();
        return true;
    }

    bool readNormal() {
        if (normals.size() >= static_cast<size_t>(INT_MAX)) return fail("too many normals");
        float c[3];
        if (!parseNumbers(c, 3, 0, "3 normal components")) return false;
        normals.push_back(quantizeNormal(c[0], c[1], c[2]));
        skipStatement();
        return true;
    }

    // A signed decimal index; very long ones saturate (and then fail the range check). `text` is what
    // was read, for messages.
    bool scanIndex(long long& out, std::string_view& text) {
        const char* start = p;
        const bool negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        if (!isDigit(*p)) return false;
        constexpr long long kCap = 1'000'000'000'000LL;
        long long v = 0;
        while (isDigit(*p)) {
            v = std::min(v * 10 + (*p - '0'), kCap);
            ++p;
        }
        out = negative ? -v : v;
        text = std::string_view(start, static_cast<size_t>(p - start));
        return true;
    }

    // 1-based or negative-relative OBJ index to a 0-based one, or -1 when it names nothing defined yet.
    static int resolve(long long index, size_t count) {
        const long long n = static_cast<long long>(count);
        if (index > 0 && index <= n) return static_cast<int>(index - 1);
        if (index < 0 && -index <= n) return static_cast<int>(n + index);
        return -1;
    }

    bool badIndex(const char* kind, std::string_view index, size_t count, const char* plural) {
        return fail(std::string(kind) + " index " + std::string(index) + " out of range (" +
                    std::to_string(count) + " " + plural + " defined)");
    }

    bool readCorner(Corner& c) {
        const char* start = p;
        long long v = 0, t = 0, n = 0;
        std::string_view vText, tText, nText;
        bool hasT = false, hasN = false;
        bool ok = scanIndex(v, vText);
        if (ok && *p == '/') {
            ++p;
            if (*p == '/') {
                ++p;
                ok = scanIndex(n, nText);
                hasN = true;
            } else {
                ok = scanIndex(t, tText);
                hasT = true;
                if (ok && *p == '/') {
                    ++p;
                    ok = scanIndex(n, nText);
                    hasN = true;
                }
            }
        }
        if (!ok || !atTokenEnd(p)) return fail("unknown face corner '" + tokenText(start) + "'");
        c.v = resolve(v, points.size());
        if (c.v < 0) return badIndex("point", vText, points.size(), "points");
        c.t = -1;
        c.n = -1;
        if (hasT) {
            c.t = resolve(t, texcoords.size());
            if (c.t < 0) return badIndex("texture", tText, texcoords.size(), "texture coordinates");
        }
        if (hasN) {
            c.n = resolve(n, normals.size());
            if (c.n < 0) return badIndex("normal", nText, normals.size(), "normals");
        }
        return true;
    }

    void registerCombo(ObjectRange& obj, uint32_t combo) {
        const int stamp = static_cast<int>(objects.size());
        for (int g : combos[combo]) {
            if (groupStamp[g] != stamp) {
                groupStamp[g] = stamp;
                obj.groups.push_back(g);
            }
        }
        obj.lastCombo = static_cast<int>(combo);
    }

    void addPolygon(int i0, int i1, int i2, int i3) {
        const Corner* c = corners.data();
        polys.push_back({c[i0].v, c[i1].v, c[i2].v, c[i3].v});
        if (haveTex) polyTex.push_back({c[i0].t, c[i1].t, c[i2].t, c[i3].t});
        if (haveNormals) polyNormals.push_back({c[i0].n, c[i1].n, c[i2].n, c[i3].n});
        if (haveCombo) polyCombo.push_back(currentCombo);
    }

    bool readFace() {
        corners.clear();
        for (;;) {
            skipBlanks();
            if (atStatementEnd()) break;
            Corner c;
            if (!readCorner(c)) return false;
            corners.push_back(c);
        }
        if (corners.size() < 3) return fail("face with fewer than 3 corners");
        if (*p == '#') skipComment();
        else skipStatement();

        ObjectRange& obj = objects.back();
        bool anyTex = false, anyNormal = false;
        for (const Corner& c : corners) {
            anyTex |= c.t >= 0;
            anyNormal |= c.n >= 0;
        }
        if (anyTex) {
            obj.hasTex = true;
            if (!haveTex) {
                haveTex = true;
                reserveLarge(polyTex, polys.capacity());
                polyTex.assign(polys.size(), {-1, -1, -1, -1});
            }
        }
        if (anyNormal) {
            obj.hasNormals = true;
            if (!haveNormals) {
                haveNormals = true;
                reserveLarge(polyNormals, polys.capacity());
                polyNormals.assign(polys.size(), {-1, -1, -1, -1});
            }
        }
        if (currentCombo != 0) {
            if (!haveCombo) {
                haveCombo = true;
                polyCombo.reserve(polys.capacity());
                polyCombo.assign(polys.size(), 0);
            }
            if (obj.lastCombo != static_cast<int>(currentCombo)) registerCombo(obj, currentCombo);
        }

        // Triangles are kept as (a, b, c, c) and quads as they are. Larger polygons are cut into a fan
        // of quads around the first corner, ending in a triangle when a single corner is left over:
        // 5 corners -> (0 1 2 3) (0 3 4); 6 -> (0 1 2 3) (0 3 4 5); 7 -> (0 1 2 3) (0 3 4 5) (0 5 6).
        // Every piece keeps the original corners' texture coordinates and normals, so seams survive.
        const int n = static_cast<int>(corners.size());
        if (n == 3) {
            addPolygon(0, 1, 2, 2);
        } else {
            addPolygon(0, 1, 2, 3);
            int k = 3;
            while (k + 2 < n) {
                addPolygon(0, k, k + 1, k + 2);
                k += 2;
            }
            if (k + 1 < n) addPolygon(0, k, k + 1, k + 1);
        }
        return true;
    }

    void readGroup() {
        std::vector<int> ids;
        for (;;) {
            skipBlanks();
            if (atStatementEnd()) break;
            const char* start = p;
            while (!atTokenEnd(p)) ++p;
            std::string name(start, p);
            if (name == "default") continue;
            auto [it, inserted] = groupIds.try_emplace(name, static_cast<int>(groupNames.size()));
            if (inserted) {
                groupNames.push_back(name);
                groupStamp.push_back(0);
            }
            if (std::find(ids.begin(), ids.end(), it->second) == ids.end()) ids.push_back(it->second);
        }
        if (*p == '#') skipComment();
        else skipStatement();
        auto [it, inserted] = comboIds.try_emplace(ids, static_cast<uint32_t>(combos.size()));
        if (inserted) combos.push_back(ids);
        currentCombo = ids.empty() ? 0 : it->second;
        registerCombo(objects.back(), currentCombo);
    }

    void readObjectName(const std::string& fallback) {
        skipBlanks();
        const char* start = p;
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(limit - p)));
        const char* stop = nl;
        while (stop > start && isBlank(stop[-1])) --stop;
        std::string name(start, stop);
        p = nl + 1;
        ++line;
        objects.back().polyEnd = polys.size();
        ObjectRange next;
        next.name = name.empty() ? fallback : std::move(name);
        next.polyBegin = polys.size();
        objects.push_back(std::move(next));
    }

    // Rough counts of the statements, so that the big arrays are sized once.
    void reserveArrays() {
        size_t nv = 0, nvt = 0, nvn = 0, nf = 0;
        for (const char* q = p; q < end;) {
            if (q[0] == 'v') {
                if (q[1] == ' ' || q[1] == '\t') ++nv;
                else if (q[1] == 't') ++nvt;
                else if (q[1] == 'n') ++nvn;
            } else if (q[0] == 'f' && (q[1] == ' ' || q[1] == '\t')) {
                ++nf;
            }
            q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(limit - q))) + 1;
        }
        reserveLarge(points, nv);
        reserveLarge(texcoords, nvt);
        reserveLarge(normals, nvn);
        reserveLarge(polys, nf + nf / 8);
    }

    bool parse(const std::string& fallbackName) {
        reserveArrays();
        ObjectRange first;
        first.name = fallbackName;
        objects.push_back(std::move(first));
        while (p < end) {
            skipBlanks();
            stmtLine = line;
            const char c = *p;
            const char c1 = p[1];
            bool ok = true;
            if (c == '\n') {
                ++p;
                ++line;
                continue;
            }
            if (c == 'v' && endsKeyword(c1)) {
                p += 1;
                ok = readPoint();
            } else if (c == 'v' && c1 == 't' && endsKeyword(p[2])) {
                p += 2;
                ok = readTexcoord();
            } else if (c == 'v' && c1 == 'n' && endsKeyword(p[2])) {
                p += 2;
                ok = readNormal();
            } else if (c == 'f' && endsKeyword(c1)) {
                p += 1;
                ok = readFace();
            } else if (c == 'g' && (endsKeyword(c1) || c1 == '#')) {
                p += 1;
                readGroup();
            } else if (c == 'o' && endsKeyword(c1)) {
                p += 1;
                readObjectName(fallbackName);
            } else if (c == '#') {
                skipComment();
            } else {
                skipStatement();  // s, usemtl, mtllib, l, p and anything else we do not keep
            }
            if (!ok) return false;
        }
        objects.back().polyEnd = polys.size();
        if (polys.empty()) {
            error = path + ": no polygons";
            return false;
        }
        return true;
    }

    // One document object per object range with faces.
    std::vector<std::unique_ptr<PolygonObject>> build() {
        std::vector<std::unique_ptr<PolygonObject>> out;
        std::vector<int> stamp(points.size(), 0), local(points.size(), 0);
        std::vector<int> used;
        std::vector<int> groupTag(groupNames.size(), -1);
        int objectStamp = 0;
        for (const ObjectRange& range : objects) {
            if (range.polyBegin == range.polyEnd) continue;
            ++objectStamp;
            const size_t count = range.polyEnd - range.polyBegin;

            // The object's points in the order of their index in the file, so that a written object
            // (whose points are all used and contiguous) reads back in its own order.
            used.clear();
            int lo = INT_MAX, hi = -1;
            for (size_t i = range.polyBegin; i < range.polyEnd; ++i) {
                const Polygon& q = polys[i];
                for (int v : {q.a, q.b, q.c, q.d}) {
                    if (stamp[v] != objectStamp) {
                        stamp[v] = objectStamp;
                        used.push_back(v);
                        lo = std::min(lo, v);
                        hi = std::max(hi, v);
                    }
                }
            }
            const size_t span = static_cast<size_t>(hi - lo) + 1;
            if (span <= 4 * used.size()) {
                used.clear();
                for (int v = lo; v <= hi; ++v)
                    if (stamp[v] == objectStamp) used.push_back(v);
            } else {
                std::sort(used.begin(), used.end());
            }

            auto obj = std::make_unique<PolygonObject>(range.name);
            reserveLarge(obj->points, used.size());
            obj->points.resize(used.size());
            for (size_t i = 0; i < used.size(); ++i) {
                local[used[i]] = static_cast<int>(i);
                obj->points[i] = points[used[i]];
            }
            if (count == polys.size()) {
                obj->polygons = std::move(polys);  // the only object: renumber in place
                for (Polygon& q : obj->polygons) q = {local[q.a], local[q.b], local[q.c], local[q.d]};
            } else {
                reserveLarge(obj->polygons, count);
                for (size_t i = range.polyBegin; i < range.polyEnd; ++i) {
                    const Polygon& q = polys[i];
                    obj->polygons.push_back({local[q.a], local[q.b], local[q.c], local[q.d]});
                }
            }
            obj->resize(static_cast<int>(used.size()), static_cast<int>(count));

            if (range.hasTex) {
                auto tag = std::make_unique<UVWTag>();
                reserveLarge(tag->data, count);
                tag->data.resize(count);
                for (size_t i = 0; i < count; ++i) {
                    const auto& t = polyTex[range.polyBegin + i];
                    UVWRow& row = tag->data[i];
                    for (int k = 0; k < 4; ++k) row.corner(k) = t[k] >= 0 ? texcoords[t[k]] : Vec3f{};
                }
                obj->addTag(std::move(tag));
            }
            if (range.hasNormals) {
                auto tag = std::make_unique<NormalTag>();
                reserveLarge(tag->data, count);
                tag->data.resize(count);
                for (size_t i = 0; i < count; ++i) {
                    const auto& nn = polyNormals[range.polyBegin + i];
                    NormalRow& row = tag->data[i];
                    for (int k = 0; k < 4; ++k) {
                        if (nn[k] < 0) continue;
                        const NormalKey& v = normals[nn[k]];
                        row.v[3 * k] = v[0];
                        row.v[3 * k + 1] = v[1];
                        row.v[3 * k + 2] = v[2];
                    }
                }
                obj->addTag(std::move(tag));
            }
            if (!range.groups.empty()) {
                std::vector<SelectionTag*> tags;
                for (size_t k = 0; k < range.groups.size(); ++k) {
                    groupTag[range.groups[k]] = static_cast<int>(k);
                    auto tag = std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, groupNames[range.groups[k]],
                                                              static_cast<int>(count));
                    tags.push_back(static_cast<SelectionTag*>(obj->addTag(std::move(tag))));
                }
                if (haveCombo) {
                    for (size_t i = 0; i < count; ++i)
                        for (int g : combos[polyCombo[range.polyBegin + i]])
                            tags[groupTag[g]]->set.select(static_cast<int>(i));
                }
            }
            out.push_back(std::move(obj));
        }
        return out;
    }
};

// The most read from a pipe, whose end may never come.
constexpr size_t kPipeLimit = size_t(1) << 30;

// Reads the whole file into a buffer followed by the sentinels.
bool loadBytes(const std::string& path, TextBuffer& buffer, size_t& size, std::string* error) {
    auto setError = [&](const std::string& what) {
        if (error) *error = path + ": " + what;
        return false;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT) return setError("no such file");
        return setError("cannot read: " + systemError(err));
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return setError("cannot read: " + systemError(errno));
    if (S_ISDIR(st.st_mode)) return setError("cannot read: it is a folder");
    // A device may never end (/dev/zero): files and pipes are read, and a pipe only up to a limit.
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
        return setError("cannot read: it is a device or socket, not a file");
    // One byte more than the file, so that the read that finds its end needs no bigger buffer.
    size_t capacity = S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) + 1 : 0;
    if (capacity < 4096) capacity = 4096;
    buffer = allocateText(capacity + kSentinels);
    if (!buffer) return setError("cannot read: out of memory");
    size = 0;
    for (;;) {
        if (size == capacity) {
            if (!S_ISREG(st.st_mode) && capacity >= kPipeLimit)
                return setError("cannot read: the pipe gave more than " + std::to_string(kPipeLimit >> 20) +
                                " MiB; save the mesh to a file first");
            const size_t grown = capacity * 2;
            TextBuffer bigger = allocateText(grown + kSentinels);
            if (!bigger) return setError("cannot read: out of memory");
            std::memcpy(bigger.get(), buffer.get(), size);
            buffer = std::move(bigger);
            capacity = grown;
        }
        const ssize_t n = ::read(fd, buffer.get() + size, capacity - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return setError("cannot read: " + systemError(errno));
        }
        if (n == 0) break;
        size += static_cast<size_t>(n);
    }
    if (size == 0) return setError("file is empty");
    std::memset(buffer.get() + size, '\n', kSentinels);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Writer

// Output through a fixed buffer into a file descriptor; remembers the first write error.
class Output {
public:
    explicit Output(int fd) : fd_(fd), buf_(kSize) {}

    // Room for at least n more bytes; commit the new end afterwards.
    char* room(size_t n) {
        if (used_ + n > buf_.size()) {
            flush();
            if (n > buf_.size()) buf_.resize(n);
        }
        return buf_.data() + used_;
    }
    void commit(char* newEnd) { used_ = static_cast<size_t>(newEnd - buf_.data()); }
    void put(std::string_view s) {
        char* q = room(s.size());
        std::memcpy(q, s.data(), s.size());
        commit(q + s.size());
    }
    bool flush() {
        size_t done = 0;
        while (done < used_ && err_ == 0) {
            const ssize_t n = ::write(fd_, buf_.data() + done, used_ - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                err_ = errno;
            } else {
                done += static_cast<size_t>(n);
            }
        }
        used_ = 0;
        return err_ == 0;
    }
    int error() const { return err_; }

private:
    static constexpr size_t kSize = 1 << 20;
    int fd_;
    std::vector<char> buf_;
    size_t used_ = 0;
    int err_ = 0;
};

inline char* putFloat(char* q, float v) { return std::to_chars(q, q + 32, v).ptr; }
inline char* putInt(char* q, long long v) { return std::to_chars(q, q + 24, v).ptr; }

inline uint64_t mix64(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb3fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

// Deduplicates keys into 0-based indices in order of first insertion. Open addressing with the keys
// kept in the slots, so that a lookup touches one place in memory; in front of it a small direct-mapped
// table of recent keys, which catches most lookups of a mesh (a corner's value comes back within a
// row or two of polygons) without leaving the processor's cache.
template <class Key, class Hash>
class IndexTable {
public:
    std::vector<Key> keys;

    // Empties the table, sized for about `expected` keys so that it rarely has to grow.
    void clear(size_t expected) {
        keys.clear();
        reserveLarge(keys, expected);
        size_t size = 1024;
        while (size < 2 * expected) size *= 2;
        slots_ = {};
        reserveLarge(slots_, size);
        slots_.assign(size, Slot{});
        recent_.assign(kRecent, Slot{});
    }
    int insert(const Key& key) {
        const size_t h = Hash{}(key);
        Slot& r = recent_[(h >> 20) & (kRecent - 1)];
        if (r.index != 0 && r.key == key) return static_cast<int>(r.index - 1);
        if ((keys.size() + 1) * 2 > slots_.size()) grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (s.index == 0) {
                keys.push_back(key);
                s = {key, static_cast<uint32_t>(keys.size())};
                r = s;
                return static_cast<int>(keys.size() - 1);
            }
            if (s.key == key) {
                r = s;
                return static_cast<int>(s.index - 1);
            }
        }
    }

private:
    struct Slot {
        Key key{};
        uint32_t index = 0;  // 1-based; 0 is empty
    };
    static constexpr size_t kRecent = 1 << 14;
    std::vector<Slot> slots_ = std::vector<Slot>(1024);
    std::vector<Slot> recent_ = std::vector<Slot>(kRecent);

    void grow() {
        slots_.assign(slots_.size() * 2, Slot{});
        const size_t mask = slots_.size() - 1;
        for (size_t k = 0; k < keys.size(); ++k) {
            size_t i = Hash{}(keys[k]) & mask;
            while (slots_[i].index != 0) i = (i + 1) & mask;
            slots_[i] = {keys[k], static_cast<uint32_t>(k + 1)};
        }
    }
};

// Texture coordinates are compared by their bits, so that -0 and 0 stay apart and nothing is merged
// that would not read back identically.
struct UVKey {
    uint32_t u, v, w;
    bool operator==(const UVKey&) const = default;
};
struct UVKeyHash {
    size_t operator()(const UVKey& k) const {
        return mix64((static_cast<uint64_t>(k.u) << 32 | k.v) ^ mix64(k.w + 0x9e3779b97f4a7c15ULL));
    }
};
struct NormalKeyHash {
    size_t operator()(const NormalKey& k) const {
        return mix64(static_cast<uint64_t>(static_cast<uint16_t>(k[0])) |
                     static_cast<uint64_t>(static_cast<uint16_t>(k[1])) << 16 |
                     static_cast<uint64_t>(static_cast<uint16_t>(k[2])) << 32);
    }
};

UVKey uvKey(const Vec3f& t) {
    UVKey k;
    std::memcpy(&k.u, &t.x, 4);
    std::memcpy(&k.v, &t.y, 4);
    std::memcpy(&k.w, &t.z, 4);
    return k;
}

// A `vn` value that the reader turns back into exactly this stored row. The row divided by 32000 is
// right for most rows, but the reader renormalises, and for about one row in fifty that moves a
// component by one step. Then we look for a point of the sphere of radius 32000 inside the box of
// vectors that round to the row, shrunk by a margin m: the box corner nearest to the origin lies
// inside the sphere and the farthest one outside (otherwise there is no such point for that m), so
// bisection along the diagonal between them finds one. Small margins come first, as they leave the
// most room for the float rounding of the text. Rows that are no rounded unit vector at all (which
// the reader never makes) are written as they are, divided by 32000.
std::array<float, 3> normalText(const NormalKey& row) {
    std::array<float, 3> out;
    for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(row[k] / 32000.0);
    if (quantizeNormal(out[0], out[1], out[2]) == row) return out;
    const double r2 = 32000.0 * 32000.0;
    for (double m : {0.1, 0.2, 0.3, 0.4, 0.45, 0.49, 0.499, 0.4999}) {
        double inner[3], outer[3];
        for (int k = 0; k < 3; ++k) {
            const double away = row[k] < 0 ? -m : m;
            inner[k] = row[k] == 0 ? 0.0 : row[k] - away;
            outer[k] = row[k] + away;
        }
        auto norm2 = [&](double t) {
            double s = 0;
            for (int k = 0; k < 3; ++k) {
                const double x = inner[k] + t * (outer[k] - inner[k]);
                s += x * x;
            }
            return s;
        };
        if (norm2(0) > r2 || norm2(1) < r2) continue;
        double lo = 0, hi = 1;
        for (int step = 0; step < 60; ++step) {
            const double mid = 0.5 * (lo + hi);
            (norm2(mid) < r2 ? lo : hi) = mid;
        }
        std::array<float, 3> f;
        for (int k = 0; k < 3; ++k) f[k] = static_cast<float>((inner[k] + lo * (outer[k] - inner[k])) / 32000.0);
        if (quantizeNormal(f[0], f[1], f[2]) == row) return f;
    }
    return out;
}

// The polygon-selection tags of an object as OBJ groups: whitespace in names, and a leading '#' (which
// would start a comment), become '_'; tags without a name or named "default" (which ends membership in
// OBJ) cannot be written and are left out; tags of the same name are written as one group.
struct GroupSet {
    std::vector<std::string> names;
    // Memberships per polygon (group ids in tag order), as offsets into `members`.
    std::vector<uint32_t> offsets;
    std::vector<int> members;

    void build(const PolygonObject& obj) {
        std::vector<std::vector<const SelectionSet*>> sets;
        for (const auto& t : obj.tags()) {
            if (t->type() != TAG_POLYGON_SELECTION) continue;
            auto* sel = dynamic_cast<const SelectionTag*>(t.get());
            if (!sel || sel->name().empty() || sel->name() == "default") continue;
            std::string name = sel->name();
            for (char& c : name)
                if (isBlank(c) || c == '\n' || static_cast<unsigned char>(c) < 32) c = '_';
            if (name[0] == '#') name[0] = '_';
            auto it = std::find(names.begin(), names.end(), name);
            if (it == names.end()) {
                names.push_back(name);
                sets.emplace_back();
                it = names.end() - 1;
            }
            sets[static_cast<size_t>(it - names.begin())].push_back(&sel->set);
        }
        const size_t count = obj.polygons.size();
        offsets.assign(count + 1, 0);
        if (names.empty()) return;
        std::vector<std::vector<uint8_t>> bytes(names.size(), std::vector<uint8_t>(count, 0));
        for (size_t g = 0; g < names.size(); ++g) {
            for (const SelectionSet* s : sets[g]) {
                const size_t n = std::min(count, static_cast<size_t>(s->size()));
                const uint8_t* b = s->memberBytes();
                for (size_t i = 0; i < n; ++i) bytes[g][i] |= b[i] != 0;
            }
        }
        for (size_t i = 0; i < count; ++i) {
            offsets[i] = static_cast<uint32_t>(members.size());
            for (size_t g = 0; g < names.size(); ++g)
                if (bytes[g][i]) members.push_back(static_cast<int>(g));
        }
        offsets[count] = static_cast<uint32_t>(members.size());
    }
    std::span<const int> of(size_t polygon) const {
        return {members.data() + offsets[polygon], members.data() + offsets[polygon + 1]};
    }
};

struct Writer {
    std::string path;
    Output& out;
    std::string error;
    std::vector<std::string> lastGroupLine;  // names of the `g` line in force, carried across objects
    size_t pointBase = 0, texBase = 0, normalBase = 0;
    IndexTable<UVKey, UVKeyHash> uvs;
    IndexTable<NormalKey, NormalKeyHash> nrms;
    std::vector<int> cornerTex, cornerNormal;

    bool fail(const std::string& problem) {
        error = path + ": " + problem;
        return false;
    }

    void putGroupLine(const std::vector<std::string>& names) {
        out.put("g");
        for (const std::string& n : names) {
            out.put(" ");
            out.put(n);
        }
        out.put("\n");
        lastGroupLine = names;
    }

    bool writeObject(const PolygonObject& obj) {
        const std::string& name = obj.name();
        const size_t np = obj.points.size(), count = obj.polygons.size();
        std::string oname = name;
        for (char& c : oname)
            if (c == '\n' || c == '\r') c = '_';
        out.put(oname.empty() ? "o\n" : "o " + oname + "\n");

        for (size_t i = 0; i < np; ++i) {
            const Vec3f& v = obj.points[i];
            if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
                return fail("object '" + name + "': point " + std::to_string(i) + " is not finite");
            char* q = out.room(128);
            *q++ = 'v';
            *q++ = ' ';
            q = putFloat(q, v.x);
            *q++ = ' ';
            q = putFloat(q, v.y);
            *q++ = ' ';
            q = putFloat(q, v.z);
            *q++ = '\n';
            out.commit(q);
        }

        auto* uvTag = dynamic_cast<const UVWTag*>(obj.tag(TAG_UVW));
        auto* nTag = dynamic_cast<const NormalTag*>(obj.tag(TAG_NORMALS));
        const Vec3f zero{};
        if (uvTag) {
            uvs.clear(np);  // mostly one texture coordinate per point, more along seams
            reserveLarge(cornerTex, 4 * count);
            cornerTex.resize(4 * count);
            for (size_t i = 0; i < count; ++i) {
                const UVWRow* row = i < uvTag->data.size() ? &uvTag->data[i] : nullptr;
                for (int k = 0; k < 4; ++k) {
                    const Vec3f& t = row ? row->corner(k) : zero;
                    if (!std::isfinite(t.x) || !std::isfinite(t.y) || !std::isfinite(t.z))
                        return fail("object '" + name + "': texture coordinate of polygon " + std::to_string(i) +
                                    " is not finite");
                    cornerTex[4 * i + k] = uvs.insert(uvKey(t));
                }
            }
            const UVKey zeroBits{};
            for (const UVKey& key : uvs.keys) {
                Vec3f t;
                std::memcpy(&t.x, &key.u, 4);
                std::memcpy(&t.y, &key.v, 4);
                std::memcpy(&t.z, &key.w, 4);
                char* q = out.room(128);
                *q++ = 'v';
                *q++ = 't';
                *q++ = ' ';
                q = putFloat(q, t.x);
                *q++ = ' ';
                q = putFloat(q, t.y);
                if (key.w != zeroBits.w) {
                    *q++ = ' ';
                    q = putFloat(q, t.z);
                }
                *q++ = '\n';
                out.commit(q);
            }
        }
        if (nTag) {
            nrms.clear(np);
            reserveLarge(cornerNormal, 4 * count);
            cornerNormal.resize(4 * count);
            for (size_t i = 0; i < count; ++i) {
                const NormalRow* row = i < nTag->data.size() ? &nTag->data[i] : nullptr;
                for (int k = 0; k < 4; ++k) {
                    NormalKey key{0, 0, 0};
                    if (row) key = {row->v[3 * k], row->v[3 * k + 1], row->v[3 * k + 2]};
                    cornerNormal[4 * i + k] = nrms.insert(key);
                }
            }
            for (const NormalKey& key : nrms.keys) {
                const std::array<float, 3> v = normalText(key);
                char* q = out.room(128);
                *q++ = 'v';
                *q++ = 'n';
                for (int k = 0; k < 3; ++k) {
                    *q++ = ' ';
                    q = putFloat(q, v[k]);
                }
                *q++ = '\n';
                out.commit(q);
            }
        }

        // Groups. The reader gives an object its group tags in the order in which the names first appear
        // on `g` lines within it. When the faces alone would give another order (or leave out an empty
        // group), one `g` line naming every group in tag order goes first.
        GroupSet groups;
        groups.build(obj);
        std::vector<int> current;  // ids of the membership in force; valid once `known`
        bool known = false;
        if (!groups.names.empty()) {
            std::vector<int> order;
            std::vector<uint8_t> seen(groups.names.size(), 0);
            for (size_t i = 0; i < count; ++i)
                for (int g : groups.of(i))
                    if (!seen[g]) {
                        seen[g] = 1;
                        order.push_back(g);
                    }
            bool natural = order.size() == groups.names.size();
            for (size_t k = 0; natural && k < order.size(); ++k) natural = order[k] == static_cast<int>(k);
            if (!natural) {
                putGroupLine(groups.names);
                current.resize(groups.names.size());
                for (size_t k = 0; k < current.size(); ++k) current[k] = static_cast<int>(k);
                known = true;
            }
        }

        std::vector<std::string> lineNames;
        for (size_t i = 0; i < count; ++i) {
            const Polygon& poly = obj.polygons[i];
            const std::span<const int> member = groups.of(i);
            const bool same = known && std::equal(member.begin(), member.end(), current.begin(), current.end());
            if (!same) {
                lineNames.clear();
                for (int g : member) lineNames.push_back(groups.names[g]);
                if (lineNames != lastGroupLine) putGroupLine(lineNames);
                current.assign(member.begin(), member.end());
                known = true;
            }
            const int corners = poly.c == poly.d ? 3 : 4;
            const int idx[4] = {poly.a, poly.b, poly.c, poly.d};
            char* q = out.room(256);
            *q++ = 'f';
            for (int k = 0; k < corners; ++k) {
                if (idx[k] < 0 || static_cast<size_t>(idx[k]) >= np)
                    return fail("object '" + name + "': polygon " + std::to_string(i) + " refers to point " +
                                std::to_string(idx[k]) + " of " + std::to_string(np));
                *q++ = ' ';
                q = putInt(q, static_cast<long long>(pointBase + idx[k] + 1));
                if (uvTag || nTag) {
                    *q++ = '/';
                    if (uvTag) q = putInt(q, static_cast<long long>(texBase + cornerTex[4 * i + k] + 1));
                    if (nTag) {
                        *q++ = '/';
                        q = putInt(q, static_cast<long long>(normalBase + cornerNormal[4 * i + k] + 1));
                    }
                }
            }
            *q++ = '\n';
            out.commit(q);
        }
        pointBase += np;
        if (uvTag) texBase += uvs.keys.size();
        if (nTag) normalBase += nrms.keys.size();
        return true;
    }
};

}  // namespace

bool readObj(const std::string& path, Document& doc, std::vector<Object*>* loaded, std::string* error) {
    if (loaded) loaded->clear();
    TextBuffer buffer;
    size_t size = 0;
    if (!loadBytes(path, buffer, size, error)) return false;

    Reader reader;
    reader.path = path;
    reader.p = buffer.get();
    // A UTF-8 byte-order mark is not part of the first statement.
    if (size >= 3 && std::memcmp(buffer.get(), "\xEF\xBB\xBF", 3) == 0) reader.p += 3;
    reader.end = buffer.get() + size;
    reader.limit = reader.end + kSentinels;
    if (!reader.parse(std::filesystem::path(path).stem().string())) {
        if (error) *error = reader.error;
        return false;
    }
    buffer.reset();
    std::vector<std::unique_ptr<PolygonObject>> objects = reader.build();
    for (auto& obj : objects) {
        Object* inserted = doc.insert(std::move(obj));
        if (loaded) loaded->push_back(inserted);
    }
    return true;
}

bool writeObj(SafeOutput& file, const std::vector<const Object*>& objects, std::string* error) {
    const std::string& path = file.path();
    auto setError = [&](const std::string& what) {
        if (error) *error = path + ": " + what;
        file.abandon();
        return false;
    };
    // Objects without polygons are left out: their points would come back as no object at all.
    std::vector<const PolygonObject*> polygonObjects;
    for (const Object* o : objects)
        if (auto* p = dynamic_cast<const PolygonObject*>(o); p && !p->polygons.empty()) polygonObjects.push_back(p);
    if (polygonObjects.empty()) return setError("no polygon objects to write");
    if (file.fd() < 0) return setError("the file is not open for writing");

    Output out(file.fd());
    Writer writer{path, out, {}, {}, 0, 0, 0, {}, {}, {}, {}};
    out.put("# vexlor OBJ\n");
    for (const PolygonObject* obj : polygonObjects) {
        if (!writer.writeObject(*obj)) {
            if (error) *error = writer.error;
            file.abandon();
            return false;
        }
        if (out.error()) break;
    }
    if (!out.flush()) file.failed(out.error());
    return file.finish(error);
}

bool writeObj(const std::string& path, const std::vector<const Object*>& objects, std::string* error) {
    SafeOutput file;
    if (!file.open(path, error)) return false;
    return writeObj(file, objects, error) && file.commit(error);
}

}  // namespace host
