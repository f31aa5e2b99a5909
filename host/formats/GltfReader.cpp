// Reading glTF 2.0 files through tinygltf, with every file a .gltf names checked before it is read
// (see GltfFile.h for what becomes of the scene).
#include "host/formats/GltfFile.h"

#include <sys/stat.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "host/formats/FileOutput.h"
#include "host/formats/ReaderLimits.h"

namespace host::formats {
namespace {

using tinygltf::Model;

// Images are not ours to decode: only their references are kept by the loader.
bool skipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*, int, void*) {
    return true;
}

// The files a .gltf names (buffers, images) are read only from inside the folder of the file itself
// and only when regular: tinygltf hands us its joined path (the file's folder and the decoded URI,
// or "." and the URI when the first is missing), from which the URI is taken back and checked.
struct ReferenceGuard {
    std::string folder;   // the .gltf's folder, "" for the current one
    std::string refused;  // the first reference refused, and why
};

// The URI a path joined by tinygltf stands for; false for its fallback to the current folder.
bool referenceOf(const ReferenceGuard& g, const std::string& path, std::string& reference) {
    if (g.folder.empty()) {
        reference = path;
        return true;
    }
    const std::string prefix = g.folder.back() == '/' ? g.folder : g.folder + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    reference = path.substr(prefix.size());
    return true;
}

// A reference as it may be shown: control characters escaped.
std::string shownReference(const std::string& reference) {
    std::string out;
    for (unsigned char c : reference.substr(0, 200)) {
        if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Whether a reference may be followed; a refused one is kept to be named in the error.
bool allowed(ReferenceGuard& g, const std::string& path, std::string& reference) {
    if (!referenceOf(g, path, reference)) return false;
    const std::string problem = referenceProblem(g.folder, reference);
    if (problem.empty()) return true;
    if (g.refused.empty()) g.refused = "the file names \"" + shownReference(reference) + "\", which is refused: " + problem;
    return false;
}

// Whether a file exists is asked without opening it: a FIFO would make the open wait.
bool bufferFileExists(const std::string& path, void* data) {
    std::string reference;
    if (!allowed(*static_cast<ReferenceGuard*>(data), path, reference)) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool readBufferFile(std::vector<unsigned char>* out, std::string* err, const std::string& path, void* data) {
    std::string reference;
    if (!allowed(*static_cast<ReferenceGuard*>(data), path, reference)) {
        if (err) *err += "the file is outside the glTF file's folder\n";
        return false;
    }
    std::string bytes, why;
    if (!readWholeFile(path, bytes, &why)) {
        if (err) *err += why + "\n";
        return false;
    }
    out->assign(bytes.begin(), bytes.end());
    return true;
}

// Paths are taken as they are: no expansion of any kind.
std::string keepFilePath(const std::string& path, void*) { return path; }

// Messages of the library, which may span lines, as one line.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::string out;
    for (char c : text)
        if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
    return out;
}

struct AccessorView {
    const unsigned char* base = nullptr;
    size_t stride = 0;
    size_t count = 0;
    int components = 0;
    int componentType = 0;
    bool normalized = false;
};

bool viewAccessor(const Model& m, int index, AccessorView& out, std::string& problem) {
    if (index < 0 || index >= static_cast<int>(m.accessors.size())) {
        problem = "accessor " + std::to_string(index) + " does not exist";
        return false;
    }
    const tinygltf::Accessor& a = m.accessors[index];
    if (a.sparse.isSparse) {
        problem = "accessor " + std::to_string(index) + " is sparse, which is not supported";
        return false;
    }
    const int compSize = tinygltf::GetComponentSizeInBytes(static_cast<uint32_t>(a.componentType));
    const int comps = tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type));
    if (compSize <= 0 || comps <= 0) {
        problem = "accessor " + std::to_string(index) + " has an unknown component type";
        return false;
    }
    out.count = a.count;
    out.components = comps;
    out.componentType = a.componentType;
    out.normalized = a.normalized;
    if (a.count == 0) return true;
    if (a.bufferView < 0 || a.bufferView >= static_cast<int>(m.bufferViews.size())) {
        problem = "accessor " + std::to_string(index) + " has no buffer view";
        return false;
    }
    const tinygltf::BufferView& bv = m.bufferViews[a.bufferView];
    if (bv.buffer < 0 || bv.buffer >= static_cast<int>(m.buffers.size())) {
        problem = "buffer view " + std::to_string(a.bufferView) + " names no buffer";
        return false;
    }
    const std::vector<unsigned char>& data = m.buffers[bv.buffer].data;
    const size_t elemSize = static_cast<size_t>(compSize) * comps;
    const size_t stride = bv.byteStride == 0 ? elemSize : bv.byteStride;
    if (stride < elemSize) {
        problem = "accessor " + std::to_string(index) + " has a bad byte stride";
        return false;
    }
    // Everything the accessor reads must lie inside its view and the view inside its buffer. Offsets,
    // lengths and counts come from the file and may be anything up to 2^64: no sum or product of them
    // is formed, only differences of what is known to fit.
    if (bv.byteLength > data.size() || bv.byteOffset > data.size() - bv.byteLength) {
        problem = "buffer view " + std::to_string(a.bufferView) + " reaches past the end of its buffer";
        return false;
    }
    if (a.byteOffset > bv.byteLength || elemSize > bv.byteLength - a.byteOffset ||
        a.count - 1 > (bv.byteLength - a.byteOffset - elemSize) / stride) {
        problem = "accessor " + std::to_string(index) + " reaches past the end of its buffer";
        return false;
    }
    out.base = data.data() + bv.byteOffset + a.byteOffset;
    out.stride = stride;
    return true;
}

float component(const AccessorView& v, size_t i, int c) {
    const unsigned char* p = v.base + i * v.stride;
    switch (v.componentType) {
        case TINYGLTF_COMPONENT_TYPE_FLOAT: {
            float f;
            std::memcpy(&f, p + 4 * c, 4);
            return f;
        }
        case TINYGLTF_COMPONENT_TYPE_DOUBLE: {
            double d;
            std::memcpy(&d, p + 8 * c, 8);
            return static_cast<float>(d);
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: {
            const float f = p[c];
            return v.normalized ? f / 255.0f : f;
        }
        case TINYGLTF_COMPONENT_TYPE_BYTE: {
            const float f = static_cast<int8_t>(p[c]);
            return v.normalized ? std::max(f / 127.0f, -1.0f) : f;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
            uint16_t u;
            std::memcpy(&u, p + 2 * c, 2);
            return v.normalized ? u / 65535.0f : static_cast<float>(u);
        }
        case TINYGLTF_COMPONENT_TYPE_SHORT: {
            int16_t s;
            std::memcpy(&s, p + 2 * c, 2);
            return v.normalized ? std::max(s / 32767.0f, -1.0f) : static_cast<float>(s);
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
        case TINYGLTF_COMPONENT_TYPE_INT: {
            uint32_t u;
            std::memcpy(&u, p + 4 * c, 4);
            return v.componentType == TINYGLTF_COMPONENT_TYPE_INT ? static_cast<float>(static_cast<int32_t>(u))
                                                                  : static_cast<float>(u);
        }
    }
    return 0.0f;
}

uint32_t indexAt(const AccessorView& v, size_t i) {
    const unsigned char* p = v.base + i * v.stride;
    switch (v.componentType) {
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return p[0];
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
            uint16_t u;
            std::memcpy(&u, p, 2);
            return u;
        }
        default: {
            uint32_t u;
            std::memcpy(&u, p, 4);
            return u;
        }
    }
}

// Reads a vector attribute of 2 or 3 components into Vec3f (missing components 0).
bool readVectors(const Model& m, int accessor, size_t expectCount, std::vector<Vec3f>& out, bool flipV,
                 std::string& problem) {
    AccessorView v;
    if (!viewAccessor(m, accessor, v, problem)) return false;
    if (v.count != expectCount || v.components < 2 || v.components > 4) {
        problem = "accessor " + std::to_string(accessor) + " does not match its primitive's vertices";
        return false;
    }
    const size_t start = out.size();
    out.resize(start + v.count);
    Vec3f* dst = out.data() + start;
    if (v.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT && v.components == 3 && !flipV) {
        for (size_t i = 0; i < v.count; ++i) std::memcpy(&dst[i], v.base + i * v.stride, 12);
        return true;
    }
    for (size_t i = 0; i < v.count; ++i) {
        dst[i].x = component(v, i, 0);
        dst[i].y = component(v, i, 1);
        dst[i].z = v.components >= 3 && !flipV ? component(v, i, 2) : 0.0f;
        if (flipV) dst[i].y = 1.0f - dst[i].y;
    }
    return true;
}

Matrix nodeMatrix(const tinygltf::Node& n) {
    Matrix out;
    if (n.matrix.size() == 16) {
        const std::vector<double>& m = n.matrix;
        out.v1 = {m[0], m[1], m[2]};
        out.v2 = {m[4], m[5], m[6]};
        out.v3 = {m[8], m[9], m[10]};
        out.off = {m[12], m[13], m[14]};
        return out;
    }
    double s[3] = {1, 1, 1};
    if (n.scale.size() == 3) std::copy(n.scale.begin(), n.scale.end(), s);
    if (n.rotation.size() == 4) {
        const double x = n.rotation[0], y = n.rotation[1], z = n.rotation[2], w = n.rotation[3];
        out.v1 = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)};
        out.v2 = {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)};
        out.v3 = {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)};
    }
    out.v1 = out.v1 * s[0];
    out.v2 = out.v2 * s[1];
    out.v3 = out.v3 * s[2];
    if (n.translation.size() == 3) out.off = {n.translation[0], n.translation[1], n.translation[2]};
    return out;
}

// The set a TEXCOORD_n attribute names, or -1 for any other attribute and for sets beyond the
// eight we keep (the number is read digit by digit, so that no length of digits can overflow).
constexpr int kMaxTexcoordSets = 8;
int texcoordSet(const std::string& semantic) {
    static const std::string prefix = "TEXCOORD_";
    if (semantic.size() <= prefix.size() || semantic.compare(0, prefix.size(), prefix) != 0) return -1;
    int set = 0;
    for (size_t i = prefix.size(); i < semantic.size(); ++i) {
        const char c = semantic[i];
        if (c < '0' || c > '9') return -1;
        set = set * 10 + (c - '0');
        if (set >= kMaxTexcoordSets) return -1;
    }
    return set;
}

std::vector<std::string> stringList(const tinygltf::Value& extras, const char* key) {
    std::vector<std::string> out;
    if (!extras.IsObject() || !extras.Has(key)) return out;
    const tinygltf::Value& list = extras.Get(key);
    if (!list.IsArray()) return out;
    for (size_t i = 0; i < list.ArrayLen(); ++i)
        out.push_back(list.Get(static_cast<int>(i)).IsString() ? list.Get(static_cast<int>(i)).Get<std::string>() : "");
    return out;
}

class Reader {
public:
    explicit Reader(const Model& m) : m_(m), used_(m.nodes.size(), 0) {}

    std::string problem;
    std::vector<WeldResult> welds;

    std::unique_ptr<Object> node(int index, int depth) {
        if (index < 0 || index >= static_cast<int>(m_.nodes.size())) {
            problem = "node " + std::to_string(index) + " does not exist";
            return nullptr;
        }
        if (depth >= kMaxHierarchyDepth) {
            problem = "the node hierarchy is deeper than " + std::to_string(kMaxHierarchyDepth) + " levels";
            return nullptr;
        }
        if (used_[index]) {
            problem = "node " + std::to_string(index) + " is reached twice (the node hierarchy is not a tree)";
            return nullptr;
        }
        used_[index] = 1;
        const tinygltf::Node& n = m_.nodes[index];
        std::string name = n.name;
        if (name.empty() && n.mesh >= 0 && n.mesh < static_cast<int>(m_.meshes.size())) name = m_.meshes[n.mesh].name;
        if (name.empty()) name = "node " + std::to_string(index);
        std::unique_ptr<Object> obj;
        if (n.mesh >= 0) {
            VertexMesh vm;
            vm.name = name;
            if (!meshData(n.mesh, vm)) return nullptr;
            WeldResult weld;
            obj = buildPolygonObject(vm, &weld);
            welds.push_back(weld);
        } else {
            obj = std::make_unique<Object>(OBJECT_GROUP, name);
        }
        obj->localMatrix = nodeMatrix(n);
        for (int child : n.children) {
            std::unique_ptr<Object> c = node(child, depth + 1);
            if (!c) return nullptr;
            obj->addChild(std::move(c));
        }
        return obj;
    }

    // The nodes an MSFT_lod extension of this node names.
    std::vector<int> lodLevels(int index) const {
        std::vector<int> out;
        const tinygltf::Node& n = m_.nodes[index];
        auto it = n.extensions.find("MSFT_lod");
        if (it == n.extensions.end() || !it->second.IsObject() || !it->second.Has("ids")) return out;
        const tinygltf::Value& ids = it->second.Get("ids");
        if (!ids.IsArray()) return out;
        for (size_t i = 0; i < ids.ArrayLen(); ++i)
            if (ids.Get(static_cast<int>(i)).IsInt()) out.push_back(ids.Get(static_cast<int>(i)).Get<int>());
        return out;
    }

private:
    bool meshData(int meshIndex, VertexMesh& vm) {
        if (meshIndex >= static_cast<int>(m_.meshes.size())) {
            problem = "mesh " + std::to_string(meshIndex) + " does not exist";
            return false;
        }
        const tinygltf::Mesh& mesh = m_.meshes[meshIndex];
        // Texture sets and custom attributes over every primitive, so that all get the same streams.
        int uvSets = 0;
        std::vector<std::string> custom;
        bool normals = false, materials = false;
        for (const tinygltf::Primitive& p : mesh.primitives) {
            for (const auto& [semantic, accessor] : p.attributes) {
                if (const int set = texcoordSet(semantic); set >= 0) uvSets = std::max(uvSets, set + 1);
                if (semantic == "NORMAL") normals = true;
                if (semantic.size() > 1 && semantic[0] == '_' && accessor >= 0 &&
                    accessor < static_cast<int>(m_.accessors.size()) &&
                    m_.accessors[accessor].type == TINYGLTF_TYPE_SCALAR &&
                    std::find(custom.begin(), custom.end(), semantic) == custom.end())
                    custom.push_back(semantic);
            }
            if (p.material >= 0) materials = true;
        }
        vm.uvSets.resize(uvSets);
        std::vector<std::string> uvNames = stringList(mesh.extras, "uvSetNames");
        for (int s = 0; s < uvSets; ++s) vm.uvNames.push_back(s < static_cast<int>(uvNames.size()) ? uvNames[s] : s == 0 ? "" : "UV " + std::to_string(s + 1));
        vm.floatMaps.resize(custom.size());
        for (const std::string& c : custom) vm.floatMapNames.push_back(c.substr(1));
        std::map<int, int> groupOfMaterial;
        std::map<std::vector<int>, std::pair<size_t, size_t>> sharedVertices;

        for (const tinygltf::Primitive& p : mesh.primitives) {
            const int mode = p.mode < 0 ? TINYGLTF_MODE_TRIANGLES : p.mode;
            if (mode != TINYGLTF_MODE_TRIANGLES && mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
                mode != TINYGLTF_MODE_TRIANGLE_FAN)
                continue;  // points and lines are no polygons
            auto pos = p.attributes.find("POSITION");
            if (pos == p.attributes.end()) continue;
            // Primitives of one mesh often share their vertex accessors (one per material): those
            // vertices are read once.
            std::vector<int> key;
            for (const auto& [semantic, accessor] : p.attributes) key.push_back(accessor);
            if (auto seen = sharedVertices.find(key); seen != sharedVertices.end()) {
                addTriangles(p, mode, seen->second.first, seen->second.second, materials, groupOfMaterial, vm);
                if (!problem.empty()) return false;
                continue;
            }
            const size_t base = vm.positions.size();
            AccessorView pv;
            if (!viewAccessor(m_, pos->second, pv, problem)) return false;
            if (pv.components != 3) {
                problem = "the positions of mesh " + std::to_string(meshIndex) + " are not 3-component";
                return false;
            }
            const size_t count = pv.count;
            if (!readVectors(m_, pos->second, count, vm.positions, false, problem)) return false;
            for (int s = 0; s < uvSets; ++s) {
                auto it = p.attributes.find("TEXCOORD_" + std::to_string(s));
                if (it == p.attributes.end())
                    vm.uvSets[s].resize(base + count);
                else if (!readVectors(m_, it->second, count, vm.uvSets[s], true, problem))
                    return false;
            }
            if (normals) {
                auto it = p.attributes.find("NORMAL");
                if (it == p.attributes.end())
                    vm.normals.resize(base + count);
                else if (!readVectors(m_, it->second, count, vm.normals, false, problem))
                    return false;
            }
            for (size_t c = 0; c < custom.size(); ++c) {
                auto it = p.attributes.find(custom[c]);
                std::vector<float>& values = vm.floatMaps[c];
                values.resize(base + count, 0.0f);
                if (it == p.attributes.end()) continue;
                AccessorView cv;
                if (!viewAccessor(m_, it->second, cv, problem)) return false;
                if (cv.count != count) {
                    problem = "attribute " + custom[c] + " does not match its primitive's vertices";
                    return false;
                }
                for (size_t i = 0; i < count; ++i) values[base + i] = component(cv, i, 0);
            }
            sharedVertices[key] = {base, count};
            addTriangles(p, mode, base, count, materials, groupOfMaterial, vm);
            if (!problem.empty()) return false;
        }
        if (!materials) vm.polygonGroups.clear();
        return true;
    }

    // The primitive's triangles over its vertices, which start at `base` in the mesh's streams.
    void addTriangles(const tinygltf::Primitive& p, int mode, size_t base, size_t count, bool materials,
                      std::map<int, int>& groupOfMaterial, VertexMesh& vm) {
        // Triangles over the primitive's vertices.
        std::vector<uint32_t> idx;
        if (p.indices >= 0) {
            AccessorView iv;
            if (!viewAccessor(m_, p.indices, iv, problem)) return;
            if (iv.components != 1 || (iv.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
                                       iv.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
                                       iv.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)) {
                problem = "the indices of accessor " + std::to_string(p.indices) + " are not unsigned integers";
                return;
            }
            idx.resize(iv.count);
            for (size_t i = 0; i < iv.count; ++i) idx[i] = indexAt(iv, i);
        } else {
            idx.resize(count);
            for (size_t i = 0; i < count; ++i) idx[i] = static_cast<uint32_t>(i);
        }
        int32_t group = -1;
        if (materials && p.material >= 0) {
            auto [it, added] = groupOfMaterial.try_emplace(p.material, static_cast<int>(vm.groupNames.size()));
            if (added) {
                std::string name = p.material < static_cast<int>(m_.materials.size())
                                       ? m_.materials[p.material].name
                                       : std::string();
                vm.groupNames.push_back(name.empty() ? "material " + std::to_string(p.material) : name);
            }
            group = it->second;
        }
        auto addTriangle = [&](uint32_t a, uint32_t b, uint32_t c) {
            // Out-of-range indices stay out of range after the offset: the builder drops them.
            const uint64_t limit = count;
            const uint32_t bad = UINT32_MAX;
            vm.cornerCounts.push_back(3);
            for (uint32_t v : {a, b, c})
                vm.corners.push_back(v < limit ? static_cast<uint32_t>(base + v) : bad);
            vm.polygonGroups.push_back(group);
        };
        if (mode == TINYGLTF_MODE_TRIANGLES) {
            vm.cornerCounts.reserve(vm.cornerCounts.size() + idx.size() / 3);
            vm.corners.reserve(vm.corners.size() + idx.size());
            for (size_t i = 0; i + 2 < idx.size(); i += 3) addTriangle(idx[i], idx[i + 1], idx[i + 2]);
        } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
            for (size_t i = 0; i + 2 < idx.size(); ++i)
                i % 2 == 0 ? addTriangle(idx[i], idx[i + 1], idx[i + 2]) : addTriangle(idx[i + 1], idx[i], idx[i + 2]);
        } else {
            for (size_t i = 1; i + 1 < idx.size(); ++i) addTriangle(idx[0], idx[i], idx[i + 1]);
        }
    }

    const Model& m_;
    std::vector<char> used_;
};

}  // namespace

bool readGltf(const std::string& path, bool binary, std::vector<std::unique_ptr<Object>>& roots,
              std::vector<WeldResult>* welds, std::string* error) {
    std::string bytes;
    if (!readWholeFile(path, bytes, error)) return false;
    if (binary && bytes.size() >= 12) {
        uint32_t length;
        std::memcpy(&length, bytes.data() + 8, 4);
        if (length > bytes.size()) {
            if (error)
                *error = path + ": the file is cut short: its header says " + std::to_string(length) +
                         " bytes, the file holds " + std::to_string(bytes.size());
            return false;
        }
    }
    // The JSON's nesting is bounded before the parsers, which recurse once per level, see it.
    std::string_view json = bytes;
    if (binary) {
        uint32_t jsonLength = 0;
        if (bytes.size() >= 20) std::memcpy(&jsonLength, bytes.data() + 12, 4);
        json = bytes.size() >= 20 ? std::string_view(bytes).substr(20, jsonLength) : std::string_view();
    }
    if (jsonNestingDepth(json, kMaxJsonDepth) > kMaxJsonDepth) {
        if (error)
            *error = path + ": the glTF JSON nests deeper than " + std::to_string(kMaxJsonDepth) +
                     " levels, more than we read";
        return false;
    }
    Model model;
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(skipImage, nullptr);
    const std::string baseDir = std::filesystem::path(path).parent_path().string();
    ReferenceGuard guard{baseDir, {}};
    loader.SetFsCallbacks({&bufferFileExists, &keepFilePath, &readBufferFile, nullptr, &guard});
    std::string err, warn;
    const bool ok =
        binary ? loader.LoadBinaryFromMemory(&model, &err, &warn, reinterpret_cast<const unsigned char*>(bytes.data()),
                                             static_cast<unsigned int>(bytes.size()), baseDir)
               : loader.LoadASCIIFromString(&model, &err, &warn, bytes.data(), static_cast<unsigned int>(bytes.size()),
                                            baseDir);
    bytes.clear();
    bytes.shrink_to_fit();
    if (!guard.refused.empty()) {
        if (error) *error = path + ": " + guard.refused;
        return false;
    }
    if (!ok) {
        if (error) *error = path + ": not a readable glTF file: " + (err.empty() ? "unknown problem" : oneLine(err));
        return false;
    }
    std::vector<int> top;
    if (!model.scenes.empty()) {
        const int scene = model.defaultScene >= 0 && model.defaultScene < static_cast<int>(model.scenes.size())
                              ? model.defaultScene
                              : 0;
        top = model.scenes[scene].nodes;
    } else {
        std::vector<char> isChild(model.nodes.size(), 0);
        for (const tinygltf::Node& n : model.nodes)
            for (int c : n.children)
                if (c >= 0 && c < static_cast<int>(isChild.size())) isChild[c] = 1;
        for (size_t i = 0; i < model.nodes.size(); ++i)
            if (!isChild[i]) top.push_back(static_cast<int>(i));
    }
    Reader reader(model);
    std::vector<int> levels;
    for (int n : top) {
        if (n >= 0 && n < static_cast<int>(model.nodes.size()))
            for (int l : reader.lodLevels(n)) levels.push_back(l);
    }
    top.insert(top.end(), levels.begin(), levels.end());
    std::vector<std::unique_ptr<Object>> out;
    for (int n : top) {
        std::unique_ptr<Object> o = reader.node(n, 0);
        if (!o) {
            if (error) *error = path + ": " + reader.problem;
            return false;
        }
        out.push_back(std::move(o));
    }
    for (auto& o : out) roots.push_back(std::move(o));
    if (welds) welds->insert(welds->end(), reader.welds.begin(), reader.welds.end());
    return true;
}

}  // namespace host::formats
