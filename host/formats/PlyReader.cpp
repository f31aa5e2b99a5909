#include "host/formats/PlyReader.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "host/formats/FileOutput.h"

namespace host::formats {
namespace {

enum class Type { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64, Bad };

Type typeOf(const std::string& s) {
    if (s == "char" || s == "int8") return Type::Int8;
    if (s == "uchar" || s == "uint8") return Type::UInt8;
    if (s == "short" || s == "int16") return Type::Int16;
    if (s == "ushort" || s == "uint16") return Type::UInt16;
    if (s == "int" || s == "int32") return Type::Int32;
    if (s == "uint" || s == "uint32") return Type::UInt32;
    if (s == "float" || s == "float32") return Type::Float32;
    if (s == "double" || s == "float64") return Type::Float64;
    return Type::Bad;
}

size_t sizeOf(Type t) {
    switch (t) {
        case Type::Int8:
        case Type::UInt8: return 1;
        case Type::Int16:
        case Type::UInt16: return 2;
        case Type::Int32:
        case Type::UInt32:
        case Type::Float32: return 4;
        case Type::Float64: return 8;
        case Type::Bad: break;
    }
    return 0;
}

struct Property {
    std::string name;
    Type type = Type::Bad;
    bool list = false;
    Type countType = Type::Bad;
};

struct Element {
    std::string name;
    uint64_t count = 0;
    std::vector<Property> properties;
};

enum class Encoding { Ascii, Little, Big };

// Reads values one after the other from the body, in the file's encoding.
class Body {
public:
    Body(const std::string& bytes, size_t at, Encoding e) : b_(bytes), at_(at), e_(e) {}
    bool failed() const { return failed_; }

    double value(Type t) {
        if (failed_) return 0;
        if (e_ == Encoding::Ascii) return text<double>();
        const size_t n = sizeOf(t);
        if (at_ + n > b_.size()) {
            failed_ = true;
            return 0;
        }
        unsigned char raw[8];
        std::memcpy(raw, b_.data() + at_, n);
        at_ += n;
        const bool swap = (e_ == Encoding::Big) == (std::endian::native == std::endian::little);
        if (swap) std::reverse(raw, raw + n);
        switch (t) {
            case Type::Int8: return static_cast<int8_t>(raw[0]);
            case Type::UInt8: return raw[0];
            case Type::Int16: return get<int16_t>(raw);
            case Type::UInt16: return get<uint16_t>(raw);
            case Type::Int32: return get<int32_t>(raw);
            case Type::UInt32: return get<uint32_t>(raw);
            case Type::Float32: return get<float>(raw);
            case Type::Float64: return get<double>(raw);
            case Type::Bad: break;
        }
        return 0;
    }
    // Float values keep their exact float: a float property read as float.
    float floatValue(Type t) {
        if (t == Type::Float32 && e_ != Encoding::Ascii) return static_cast<float>(value(t));
        if (e_ == Encoding::Ascii && !failed_) return text<float>();
        return static_cast<float>(value(t));
    }

private:
    template <class T>
    static T get(const unsigned char* raw) {
        T v;
        std::memcpy(&v, raw, sizeof(T));
        return v;
    }
    void skipSpace() {
        while (at_ < b_.size() && std::isspace(static_cast<unsigned char>(b_[at_]))) ++at_;
    }
    // The next number of an ASCII body, parsed straight to T (float or double) so that a float
    // property is rounded once, as a binary file would hold it.
    template <class T>
    T text() {
        skipSpace();
        T v = 0;
        const auto r = fast_float::from_chars(b_.data() + at_, b_.data() + b_.size(), v);
        if (r.ec != std::errc()) {
            failed_ = true;
            return 0;
        }
        at_ = static_cast<size_t>(r.ptr - b_.data());
        return v;
    }

    const std::string& b_;
    size_t at_;
    Encoding e_;
    bool failed_ = false;
};

// The length of a list: a whole number from 0 to a million (text can hold anything, "nan" and
// "2.5" included).
bool listLength(Body& body, const Property& p, uint32_t& out) {
    const double n = body.value(p.countType);
    if (body.failed() || !(n >= 0 && n <= 1e6) || n != std::floor(n)) return false;
    out = static_cast<uint32_t>(n);
    return true;
}

bool fail(std::string* error, const std::string& path, const std::string& what) {
    if (error) *error = path + ": " + what;
    return false;
}

}  // namespace

bool readPly(const std::string& path, std::vector<std::unique_ptr<Object>>& roots, std::vector<WeldResult>* welds,
             std::string* error) {
    std::string bytes;
    if (!readWholeFile(path, bytes, error)) return false;
    // The header ends at the line that is "end_header" (a comment may hold the words too).
    size_t end = std::string::npos, bodyAt = std::string::npos;
    for (size_t line = 0; line < bytes.size();) {
        size_t next = bytes.find('\n', line);
        const size_t lineEnd = next == std::string::npos ? bytes.size() : next;
        std::string_view text(bytes.data() + line, lineEnd - line);
        while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
        if (text == "end_header") {
            end = line;
            bodyAt = next == std::string::npos ? std::string::npos : next + 1;
            break;
        }
        if (next == std::string::npos) break;
        line = next + 1;
    }
    if (bytes.rfind("ply", 0) != 0 || end == std::string::npos)
        return fail(error, path, "not a PLY file (no ply line or no end_header)");
    if (bodyAt == std::string::npos) return fail(error, path, "the PLY header does not end");

    std::istringstream header(bytes.substr(0, end));
    std::string line;
    Encoding encoding = Encoding::Ascii;
    bool haveFormat = false;
    std::vector<Element> elements;
    while (std::getline(header, line)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "format") {
            std::string kind;
            words >> kind;
            if (kind == "ascii")
                encoding = Encoding::Ascii;
            else if (kind == "binary_little_endian")
                encoding = Encoding::Little;
            else if (kind == "binary_big_endian")
                encoding = Encoding::Big;
            else
                return fail(error, path, "unknown PLY format \"" + kind + "\"");
            haveFormat = true;
        } else if (word == "element") {
            Element e;
            long long count = -1;
            words >> e.name >> count;
            if (!words || count < 0) return fail(error, path, "a PLY element line without a count: " + line);
            e.count = static_cast<uint64_t>(count);
            elements.push_back(e);
        } else if (word == "property") {
            if (elements.empty()) return fail(error, path, "a PLY property before any element");
            Property p;
            std::string type;
            words >> type;
            if (type == "list") {
                std::string countType;
                words >> countType >> type;
                p.list = true;
                p.countType = typeOf(countType);
                if (p.countType == Type::Bad || p.countType == Type::Float32 || p.countType == Type::Float64)
                    return fail(error, path, "a PLY list with a bad count type: " + line);
            }
            p.type = typeOf(type);
            words >> p.name;
            if (p.type == Type::Bad || p.name.empty()) return fail(error, path, "a PLY property I cannot read: " + line);
            elements.back().properties.push_back(p);
        }
    }
    if (!haveFormat) return fail(error, path, "the PLY header has no format line");

    VertexMesh mesh;
    mesh.name = std::filesystem::path(path).stem().string();
    Body body(bytes, bodyAt, encoding);
    // The counts of the header cannot promise more than the body's bytes could hold: every value takes
    // one byte of text at least, or its type's size in binary (a list at least its length). All
    // elements are checked before anything is allocated, so a few bytes cannot ask for gigabytes.
    const uint64_t available = bytes.size() - bodyAt + 1;
    uint64_t promised = 0;
    for (const Element& e : elements) {
        uint64_t rowBytes = 0;
        for (const Property& p : e.properties)
            rowBytes += encoding == Encoding::Ascii ? 1 : sizeOf(p.list ? p.countType : p.type);
        const uint64_t left = available - promised;
        if (e.count > available || (rowBytes > 0 && e.count > left / rowBytes))
            return fail(error, path, "the element \"" + e.name + "\" claims " + std::to_string(e.count) +
                                         " entries, more than the file's " + std::to_string(available - 1) +
                                         " bytes after its header can hold");
        promised += e.count * rowBytes;
    }
    for (const Element& e : elements) {
        const bool vertices = e.name == "vertex";
        const bool faces = e.name == "face";
        int px = -1, py = -1, pz = -1, nx = -1, ny = -1, nz = -1, tu = -1, tv = -1, corners = -1;
        std::vector<int> mapProperty;
        for (size_t i = 0; i < e.properties.size(); ++i) {
            const std::string& n = e.properties[i].name;
            if (e.properties[i].list) {
                if (faces && (n == "vertex_indices" || n == "vertex_index")) corners = static_cast<int>(i);
                continue;
            }
            if (!vertices) continue;
            int* slot = n == "x" ? &px : n == "y" ? &py : n == "z" ? &pz : n == "nx" ? &nx : n == "ny" ? &ny
                        : n == "nz" ? &nz : (n == "s" || n == "u" || n == "texture_u" || n == "texture_s") ? &tu
                        : (n == "t" || n == "v" || n == "texture_v" || n == "texture_t") ? &tv : nullptr;
            if (slot && *slot < 0)
                *slot = static_cast<int>(i);
            else
                mapProperty.push_back(static_cast<int>(i));
        }
        if (vertices) {
            if (px < 0 || py < 0 || pz < 0) return fail(error, path, "the PLY vertices have no x, y and z");
            mesh.positions.resize(e.count);
            const bool normals = nx >= 0 && ny >= 0 && nz >= 0, uvs = tu >= 0 && tv >= 0;
            if (normals) mesh.normals.resize(e.count);
            if (uvs) {
                mesh.uvSets.assign(1, std::vector<Vec3f>(e.count));
                mesh.uvNames.assign(1, "");
            }
            for (int m : mapProperty) mesh.floatMapNames.push_back(e.properties[m].name);
            mesh.floatMaps.assign(mapProperty.size(), std::vector<float>(e.count));
            std::vector<float> row(e.properties.size());
            for (uint64_t v = 0; v < e.count; ++v) {
                for (size_t i = 0; i < e.properties.size(); ++i) {
                    const Property& p = e.properties[i];
                    if (p.list) {
                        uint32_t n = 0;
                        if (!listLength(body, p, n)) return fail(error, path, "a PLY list of a bad length");
                        for (uint32_t k = 0; k < n; ++k) body.value(p.type);
                        continue;
                    }
                    row[i] = body.floatValue(p.type);
                }
                if (body.failed()) return fail(error, path, "the PLY vertices end early or hold a bad number");
                mesh.positions[v] = {row[px], row[py], row[pz]};
                if (normals) mesh.normals[v] = {row[nx], row[ny], row[nz]};
                if (uvs) mesh.uvSets[0][v] = {row[tu], row[tv], 0};
                for (size_t m = 0; m < mapProperty.size(); ++m) mesh.floatMaps[m][v] = row[mapProperty[m]];
            }
            continue;
        }
        for (uint64_t f = 0; f < e.count; ++f) {
            for (size_t i = 0; i < e.properties.size(); ++i) {
                const Property& p = e.properties[i];
                if (!p.list) {
                    body.value(p.type);
                    continue;
                }
                uint32_t count = 0;
                if (!listLength(body, p, count)) return fail(error, path, "a PLY list of a bad length");
                if (static_cast<int>(i) == corners) {
                    mesh.cornerCounts.push_back(count);
                    for (uint32_t k = 0; k < count; ++k) {
                        // A corner that names no vertex (negative, fractional, not a number) is out of
                        // range: the builder drops its polygon.
                        const double idx = body.value(p.type);
                        mesh.corners.push_back(idx >= 0 && idx < 4294967295.0 && idx == std::floor(idx)
                                                   ? static_cast<uint32_t>(idx)
                                                   : UINT32_MAX);
                    }
                } else {
                    for (uint32_t k = 0; k < count; ++k) body.value(p.type);
                }
            }
            if (body.failed()) return fail(error, path, "the PLY element \"" + e.name + "\" ends early or holds a bad number");
        }
    }
    if (mesh.cornerCounts.empty()) return fail(error, path, "holds no polygons");
    WeldResult weld;
    roots.push_back(buildPolygonObject(mesh, &weld));
    if (welds) welds->push_back(weld);
    return true;
}

}  // namespace host::formats
