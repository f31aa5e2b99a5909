// OBJ files written.
//
// Writing gives each object an `o` line, all its points, its distinct texture coordinates and normals,
// then its faces (3 corners for a triangle, 4 for a quad) with a `g` line wherever group membership
// changes. Numbers are written as the shortest text that reads back to the same float, and normals as
// a text that the reader turns back into the very same stored row, so that reading what was written
// gives the same points, polygons, UVs, normals and groups. Points that no polygon uses, other tags and
// objects without polygons are not written (a file cannot say them).
#include "ObjFile.h"

#include <fcntl.h>
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
#include <map>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>

#include "host/LargeFile.h"
#include "host/ObjSyntax.h"

namespace host {

namespace {

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
        reserveLarge(slots_, size, size);
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
        std::unordered_map<std::string, size_t> indexOfName;  // thousands of groups: no search through the list
        for (const auto& t : obj.tags()) {
            if (t->type() != TAG_POLYGON_SELECTION) continue;
            auto* sel = dynamic_cast<const SelectionTag*>(t.get());
            if (!sel || sel->name().empty() || sel->name() == "default") continue;
            std::string name = sel->name();
            for (char& c : name)
                if (isBlank(c) || c == '\n' || static_cast<unsigned char>(c) < 32) c = '_';
            if (name[0] == '#') name[0] = '_';
            auto [it, added] = indexOfName.try_emplace(name, names.size());
            if (added) {
                names.push_back(name);
                sets.emplace_back();
            }
            sets[it->second].push_back(&sel->set);
        }
        const size_t count = obj.polygons.size();
        offsets.assign(count + 1, 0);
        if (names.empty()) return;
        // (polygon, group) for every membership, in the memory of the memberships alone: a file of
        // many groups over many polygons must not cost groups × polygons.
        std::vector<std::pair<uint32_t, int>> pairs;
        for (size_t g = 0; g < names.size(); ++g)
            for (const SelectionSet* s : sets[g])
                for (const auto& [first, last] : s->ranges())
                    for (int i = first; i <= last && static_cast<size_t>(i) < count; ++i)
                        pairs.push_back({static_cast<uint32_t>(i), static_cast<int>(g)});
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        size_t next = 0;
        for (size_t i = 0; i < count; ++i) {
            offsets[i] = static_cast<uint32_t>(members.size());
            for (; next < pairs.size() && pairs[next].first == i; ++next) members.push_back(pairs[next].second);
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
            reserveLarge(cornerTex, 4 * count, 4 * count);
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
            reserveLarge(cornerNormal, 4 * count, 4 * count);
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
