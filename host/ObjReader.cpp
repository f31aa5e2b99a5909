// OBJ files read.
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
#include "ObjFile.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "host/LargeFile.h"
#include "host/ObjSyntax.h"
#include "host/Threads.h"

namespace host {

namespace {

// A statement keyword ends at a blank or at the end of the line.
inline bool endsKeyword(char c) { return isBlank(c) || c == '\n'; }
inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The text buffer ends with four '\n' after the file's bytes, so that every scan stops at a line end
// without bounds checks and a look-ahead of two characters never leaves the buffer.
constexpr size_t kSentinels = 4;

// The statements the reader keeps, told apart by their first characters (a look-ahead of two,
// which the sentinels allow); anything else is a comment or a statement that is skipped.
enum class Statement { Point, Texcoord, Normal, Face, Group, ObjectName, Other };

inline Statement statementAt(const char* q) {
    const char c0 = q[0], c1 = q[1];
    if (c0 == 'v' && endsKeyword(c1)) return Statement::Point;
    if (c0 == 'v' && c1 == 't' && endsKeyword(q[2])) return Statement::Texcoord;
    if (c0 == 'v' && c1 == 'n' && endsKeyword(q[2])) return Statement::Normal;
    if (c0 == 'f' && endsKeyword(c1)) return Statement::Face;
    if (c0 == 'g' && (endsKeyword(c1) || c1 == '#')) return Statement::Group;
    if (c0 == 'o' && endsKeyword(c1)) return Statement::ObjectName;
    return Statement::Other;
}

// The statements of each kind in [from, to), which starts a line and ends one (or the file), and
// its lines; `limit` is where the buffer's sentinels end. Exact for text without continuation
// lines, a close estimate otherwise.
struct Census {
    size_t points = 0, texcoords = 0, normals = 0, faces = 0, lines = 0, groups = 0, objectNames = 0;
};

Census takeCensus(const char* from, const char* to, const char* limit) {
    Census c;
    for (const char* q = from; q < to;) {
        while (isBlank(*q)) ++q;
        switch (statementAt(q)) {
            case Statement::Point: ++c.points; break;
            case Statement::Texcoord: ++c.texcoords; break;
            case Statement::Normal: ++c.normals; break;
            case Statement::Face: ++c.faces; break;
            case Statement::Group: ++c.groups; break;
            case Statement::ObjectName: ++c.objectNames; break;
            case Statement::Other: break;
        }
        q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(limit - q))) + 1;
        ++c.lines;
    }
    return c;
}

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
    // What the statements before this reader's text defined (a piece of the file read on its own
    // thread): indices resolve, and messages count, as if those came first in these arrays.
    size_t pointBase = 0, texcoordBase = 0, normalBase = 0;
    size_t pointsSoFar() const { return pointBase + points.size(); }
    size_t texcoordsSoFar() const { return texcoordBase + texcoords.size(); }
    size_t normalsSoFar() const { return normalBase + normals.size(); }

    // Per polygon of the whole file. The texture, normal and group arrays are created at the first
    // polygon that needs them and back-filled for the earlier ones.
    std::vector<Polygon> polys;
    std::vector<std::array<int, 4>> polyTex;
    std::vector<std::array<int, 4>> polyNormals;
    std::vector<uint32_t> polyCombo;
    bool haveTex = false, haveNormals = false, haveCombo = false;
    size_t expectedPolys = 0;  // the file's face statements

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
        const char* q = p;  // local, as in scanIndex
        for (;;) {
            const char c = *q;
            if (isBlank(c)) {
                ++q;
            } else if (c == '\\' && q[1] == '\n') {
                q += 2;
                ++line;
            } else if (c == '\\' && q[1] == '\r' && q[2] == '\n') {
                q += 3;
                ++line;
            } else {
                break;
            }
        }
        p = q;
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
        if (pointsSoFar() >= static_cast<size_t>(INT_MAX)) return fail("too many points");
        float c[3];
        if (!parseNumbers(c, 3, 0, "3 coordinates")) return false;
        points.push_back({c[0], c[1], c[2]});
        skipStatement();  // w or colour values carry nothing we store
        return true;
    }

    bool readTexcoord() {
        if (texcoordsSoFar() >= static_cast<size_t>(INT_MAX)) return fail("too many texture coordinates");
        float c[3] = {0, 0, 0};
        if (!parseNumbers(c, 1, 2, "a texture coordinate")) return false;
        texcoords.push_back({c[0], c[1], c[2]});
        skipStatement();
        return true;
    }

    bool readNormal() {
        if (normalsSoFar() >= static_cast<size_t>(INT_MAX)) return fail("too many normals");
        float c[3];
        if (!parseNumbers(c, 3, 0, "3 normal components")) return false;
        normals.push_back(quantizeNormal(c[0], c[1], c[2]));
        skipStatement();
        return true;
    }

    // A signed decimal index; very long ones saturate (and then fail the range check). `text` is what
    // was read, for messages.
    bool scanIndex(long long& out, std::string_view& text) {
        // A local cursor: stores through the member would be kept in memory at every digit, since
        // the text is chars that may alias it.
        const char* start = p;
        const char* q = p;
        const bool negative = *q == '-';
        if (*q == '-' || *q == '+') ++q;
        if (!isDigit(*q)) return false;
        constexpr long long kCap = 1'000'000'000'000LL;
        // Up to 18 significant digits fit a long long exactly; the cap then applies once, and a
        // longer run saturates, as capping at every digit would. Leading zeros count for nothing.
        while (*q == '0') ++q;
        const char* digits = q;
        long long v = 0;
        while (isDigit(*q) && q - digits < 18) {
            v = v * 10 + (*q - '0');
            ++q;
        }
        if (isDigit(*q)) {
            v = kCap;
            while (isDigit(*q)) ++q;
        }
        v = std::min(v, kCap);
        p = q;
        out = negative ? -v : v;
        text = std::string_view(start, static_cast<size_t>(q - start));
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
        c.v = resolve(v, pointsSoFar());
        if (c.v < 0) return badIndex("point", vText, pointsSoFar(), "points");
        c.t = -1;
        c.n = -1;
        if (hasT) {
            c.t = resolve(t, texcoordsSoFar());
            if (c.t < 0) return badIndex("texture", tText, texcoordsSoFar(), "texture coordinates");
        }
        if (hasN) {
            c.n = resolve(n, normalsSoFar());
            if (c.n < 0) return badIndex("normal", nText, normalsSoFar(), "normals");
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
                reserveLarge(polyTex, polys.capacity(), expectedPolys);
                polyTex.assign(polys.size(), {-1, -1, -1, -1});
            }
        }
        if (anyNormal) {
            obj.hasNormals = true;
            if (!haveNormals) {
                haveNormals = true;
                reserveLarge(polyNormals, polys.capacity(), expectedPolys);
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

        // Every piece of the fan keeps the original corners' texture coordinates and normals, so
        // seams survive.
        cutIntoQuadFan(static_cast<int>(corners.size()),
                       [this](int i0, int i1, int i2, int i3) { addPolygon(i0, i1, i2, i3); });
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

    // The counts of the statements, so that the big arrays are sized once and filled to them (a
    // polygon of more than four corners takes more than one entry: the eighth more is only room).
    void reserveArrays() {
        const Census c = takeCensus(p, end, limit);
        expectedPolys = c.faces;
        reserveLarge(points, c.points, c.points);
        reserveLarge(texcoords, c.texcoords, c.texcoords);
        reserveLarge(normals, c.normals, c.normals);
        reserveLarge(polys, c.faces + c.faces / 8, c.faces);
    }

    bool parse(const std::string& fallbackName) {
        reserveArrays();
        ObjectRange first;
        first.name = fallbackName;
        objects.push_back(std::move(first));
        if (!parseStatements(fallbackName)) return false;
        objects.back().polyEnd = polys.size();
        if (polys.empty()) {
            error = path + ": no polygons";
            return false;
        }
        return true;
    }

    // Every statement from p to end.
    bool parseStatements(const std::string& fallbackName) {
        while (p < end) {
            skipBlanks();
            stmtLine = line;
            if (*p == '\n') {
                ++p;
                ++line;
                continue;
            }
            bool ok = true;
            switch (statementAt(p)) {
                case Statement::Point: p += 1; ok = readPoint(); break;
                case Statement::Texcoord: p += 2; ok = readTexcoord(); break;
                case Statement::Normal: p += 2; ok = readNormal(); break;
                case Statement::Face: p += 1; ok = readFace(); break;
                case Statement::Group: p += 1; readGroup(); break;
                case Statement::ObjectName: p += 1; readObjectName(fallbackName); break;
                case Statement::Other:
                    if (*p == '#') skipComment();
                    else skipStatement();  // s, usemtl, mtllib, l, p and anything else we do not keep
                    break;
            }
            if (!ok) return false;
        }
        return true;
    }

    // One document object per object range with faces.
    std::vector<std::unique_ptr<PolygonObject>> build() {
        std::vector<std::unique_ptr<PolygonObject>> out;
        // A file point's number in the object being built; -1 while the object does not use it
        // (each object puts back the entries it set).
        std::vector<int> local(points.size(), -1);
        std::vector<int> used;
        std::vector<int> groupTag(groupNames.size(), -1);
        for (const ObjectRange& range : objects) {
            if (range.polyBegin == range.polyEnd) continue;
            const size_t count = range.polyEnd - range.polyBegin;

            // The object's points in the order of their index in the file, so that a written object
            // (whose points are all used and contiguous) reads back in its own order.
            used.clear();
            used.reserve(std::min(points.size(), 4 * count));
            int lo = INT_MAX, hi = -1;
            for (size_t i = range.polyBegin; i < range.polyEnd; ++i) {
                const Polygon& q = polys[i];
                for (int v : {q.a, q.b, q.c, q.d}) {
                    if (local[v] < 0) {
                        local[v] = 0;
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
                    if (local[v] >= 0) used.push_back(v);
            } else {
                std::sort(used.begin(), used.end());
            }

            auto obj = std::make_unique<PolygonObject>(range.name);
            reserveLarge(obj->points, used.size(), used.size());
            obj->points.resize(used.size());
            for (size_t i = 0; i < used.size(); ++i) {
                local[used[i]] = static_cast<int>(i);
                obj->points[i] = points[used[i]];
            }
            if (count == polys.size()) {
                obj->polygons = std::move(polys);  // the only object: renumber in place
                for (Polygon& q : obj->polygons) q = {local[q.a], local[q.b], local[q.c], local[q.d]};
            } else {
                reserveLarge(obj->polygons, count, count);
                for (size_t i = range.polyBegin; i < range.polyEnd; ++i) {
                    const Polygon& q = polys[i];
                    obj->polygons.push_back({local[q.a], local[q.b], local[q.c], local[q.d]});
                }
            }
            for (const int v : used) local[v] = -1;
            obj->resize(static_cast<int>(used.size()), static_cast<int>(count));

            if (range.hasTex) {
                auto tag = std::make_unique<UVWTag>();
                reserveLarge(tag->data, count, count);
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
                reserveLarge(tag->data, count, count);
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


// A big file is read in pieces side by side on the host's worker threads when no statement of it
// depends on more than the counts before it: no continuation lines, no groups, and object names
// only in the first piece (the pieces after it add to the last object named).
// Each piece's statements are counted first, as the parse takes them, so that a piece resolves
// its indices and numbers its lines as the whole read in one go would; and the first piece in the
// file's order that fails gives the message the whole read would have given.
constexpr size_t kPieceText = size_t{4} << 20;  // the least text worth a piece of its own
constexpr int kMostPieces = 4;

// Reads [text, end) into `whole` in pieces, as whole.parse would. False, with nothing read, when
// the file is small, has a single worker, or holds a statement that needs what came before it
// (`pieced` false: the caller parses it in one go); otherwise `pieced` is true and the answer is
// whole.parse's.
bool parseInPieces(Reader& whole, const char* text, const char* end, const char* limit,
                   const std::string& fallbackName, bool& pieced) {
    pieced = false;
    const size_t size = static_cast<size_t>(end - text);
    int count = std::min(workerThreadCount(), kMostPieces);
    if (size / kPieceText < static_cast<size_t>(count)) count = static_cast<int>(size / kPieceText);
    if (count < 2 || std::memchr(text, '\\', size) != nullptr) return false;
    // Each piece ends just after a '\n' (the last at the file's end).
    std::vector<const char*> cut(static_cast<size_t>(count) + 1, end);
    cut[0] = text;
    for (int i = 1; i < count; ++i) {
        const char* at = text + size / static_cast<size_t>(count) * static_cast<size_t>(i);
        if (at < cut[static_cast<size_t>(i) - 1]) at = cut[static_cast<size_t>(i) - 1];
        const char* nl = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
        cut[static_cast<size_t>(i)] = nl ? nl + 1 : end;
    }
    std::vector<Census> census(static_cast<size_t>(count));
    std::vector<std::exception_ptr> failures;
    runSideBySide(count, failures, [&](int i) {
        census[static_cast<size_t>(i)] = takeCensus(cut[static_cast<size_t>(i)], cut[static_cast<size_t>(i) + 1], limit);
    });
    for (size_t i = 0; i < census.size(); ++i)
        if (census[i].groups > 0 || (i > 0 && census[i].objectNames > 0)) return false;
    pieced = true;

    std::vector<Reader> readers(static_cast<size_t>(count));
    size_t line = whole.line, points = 0, texcoords = 0, normals = 0;
    for (int i = 0; i < count; ++i) {
        Reader& r = readers[static_cast<size_t>(i)];
        const Census& c = census[static_cast<size_t>(i)];
        r.path = whole.path;
        r.p = cut[static_cast<size_t>(i)];
        r.end = cut[static_cast<size_t>(i) + 1];
        r.limit = limit;
        r.line = line;
        r.pointBase = points;
        r.texcoordBase = texcoords;
        r.normalBase = normals;
        line += c.lines;
        points += c.points;
        texcoords += c.texcoords;
        normals += c.normals;
    }
    size_t faces = 0;
    for (const Census& c : census) faces += c.faces;
    // The first piece's arrays have room for every piece's, which follow its own there.
    std::vector<uint8_t> ok(static_cast<size_t>(count), 0);
    runSideBySide(count, failures, [&](int i) {
        Reader& r = readers[static_cast<size_t>(i)];
        const Census& c = census[static_cast<size_t>(i)];
        const bool first = i == 0;
        reserveLarge(r.points, first ? points : c.points, c.points);
        reserveLarge(r.texcoords, first ? texcoords : c.texcoords, c.texcoords);
        reserveLarge(r.normals, first ? normals : c.normals, c.normals);
        reserveLarge(r.polys, first ? faces + faces / 8 : c.faces + c.faces / 8, c.faces);
        r.expectedPolys = c.faces;
        r.objects.emplace_back();
        r.objects.back().name = fallbackName;
        ok[static_cast<size_t>(i)] = r.parseStatements(fallbackName);
    });
    for (int i = 0; i < count; ++i) {
        if (failures[static_cast<size_t>(i)]) std::rethrow_exception(failures[static_cast<size_t>(i)]);
        if (!ok[static_cast<size_t>(i)]) {
            whole.error = readers[static_cast<size_t>(i)].error;
            return false;
        }
    }

    // The pieces one after another, as one read would have left them: the first piece's objects,
    // the last of which takes the polygons of every piece after it.
    size_t polys = 0;
    whole.objects = std::move(readers[0].objects);
    Reader::ObjectRange& last = whole.objects.back();
    for (size_t i = 0; i < readers.size(); ++i) {
        const Reader& r = readers[i];
        polys += r.polys.size();
        whole.haveTex = whole.haveTex || r.haveTex;
        whole.haveNormals = whole.haveNormals || r.haveNormals;
        if (i == 0) continue;
        last.hasTex = last.hasTex || r.objects.back().hasTex;
        last.hasNormals = last.hasNormals || r.objects.back().hasNormals;
    }
    // The rest of an array's room gets its pages on the workers before the pieces are copied in.
    auto join = [&](auto member, size_t total) {
        auto& out = whole.*member;
        out = std::move(readers[0].*member);
        reserveLarge(out, total, total);
        for (size_t i = 1; i < readers.size(); ++i) {
            auto& in = readers[i].*member;
            out.insert(out.end(), in.begin(), in.end());
            std::remove_reference_t<decltype(in)>().swap(in);
        }
    };
    join(&Reader::points, points);
    join(&Reader::texcoords, texcoords);
    join(&Reader::normals, normals);
    // The per-polygon rows a piece without textures or normals lacks are those a read in one go
    // fills in for the polygons before the first that has them.
    auto joinRows = [&](auto member, bool have, bool Reader::*pieceHas) {
        if (!have) return;
        auto& out = whole.*member;
        constexpr std::array<int, 4> none{-1, -1, -1, -1};
        if (readers[0].*pieceHas) out = std::move(readers[0].*member);
        reserveLarge(out, polys, polys);
        if (!(readers[0].*pieceHas)) out.assign(readers[0].polys.size(), none);
        for (size_t i = 1; i < readers.size(); ++i) {
            Reader& r = readers[i];
            auto& in = r.*member;
            if (r.*pieceHas) out.insert(out.end(), in.begin(), in.end());
            else out.insert(out.end(), r.polys.size(), none);
            std::remove_reference_t<decltype(in)>().swap(in);
        }
    };
    joinRows(&Reader::polyTex, whole.haveTex, &Reader::haveTex);
    joinRows(&Reader::polyNormals, whole.haveNormals, &Reader::haveNormals);
    join(&Reader::polys, polys);
    last.polyEnd = polys;
    if (polys == 0) {
        whole.error = whole.path + ": no polygons";
        return false;
    }
    return true;
}

}  // namespace

bool readObj(const std::string& path, Document& doc, std::vector<Object*>* loaded, std::string* error) {
    if (loaded) loaded->clear();
    TextBuffer buffer;
    size_t size = 0;
    if (!loadBytes(path, kSentinels, buffer, size, error)) return false;

    Reader reader;
    reader.path = path;
    reader.p = buffer.get();
    // A UTF-8 byte-order mark is not part of the first statement.
    if (size >= 3 && std::memcmp(buffer.get(), "\xEF\xBB\xBF", 3) == 0) reader.p += 3;
    reader.end = buffer.get() + size;
    reader.limit = reader.end + kSentinels;
    const std::string fallbackName = std::filesystem::path(path).stem().string();
    bool pieced = false;
    const bool parsed = parseInPieces(reader, reader.p, reader.end, reader.limit, fallbackName, pieced) ||
                        (!pieced && reader.parse(fallbackName));
    if (!parsed) {
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

}  // namespace host
