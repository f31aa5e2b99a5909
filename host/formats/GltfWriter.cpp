// Writing glTF 2.0 files through tinygltf: objects with their ancestors, or a chain of levels of
// detail (see GltfFile.h for the layout of what is written).
#include "host/formats/GltfFile.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace host::formats {
namespace {

using tinygltf::Model;
class Writer {
public:
    Model model;
    const BakedMapsOf* baked = nullptr;

    Writer() {
        model.asset.version = "2.0";
        model.asset.generator = "vexlor";
        model.buffers.emplace_back();
    }

    // Adds the object and the children that `keep` holds (all when null); answers its node index.
    int addNode(const Object& o, const std::set<const Object*>* keep) {
        tinygltf::Node n;
        n.name = o.name();
        const Matrix& m = o.localMatrix;
        if (!isIdentity(m))
            n.matrix = {m.v1.x, m.v1.y, m.v1.z, 0, m.v2.x, m.v2.y, m.v2.z, 0,
                        m.v3.x, m.v3.y, m.v3.z, 0, m.off.x, m.off.y, m.off.z, 1};
        if (auto* p = dynamic_cast<const PolygonObject*>(&o)) n.mesh = addMesh(*p);
        const int index = static_cast<int>(model.nodes.size());
        model.nodes.push_back(std::move(n));
        for (const auto& c : o.children()) {
            if (keep && !keep->count(c.get())) continue;
            const int child = addNode(*c, keep);
            model.nodes[index].children.push_back(child);
        }
        return index;
    }

    int addGroupNode(const std::string& name, const std::vector<int>& children) {
        tinygltf::Node n;
        n.name = name;
        n.children = children;
        model.nodes.push_back(std::move(n));
        return static_cast<int>(model.nodes.size()) - 1;
    }

private:
    int addView(const void* data, size_t bytes, int target) {
        std::vector<unsigned char>& buf = model.buffers[0].data;
        while (buf.size() % 4 != 0) buf.push_back(0);
        tinygltf::BufferView bv;
        bv.buffer = 0;
        bv.byteOffset = buf.size();
        bv.byteLength = bytes;
        bv.target = target;
        const auto* p = static_cast<const unsigned char*>(data);
        buf.insert(buf.end(), p, p + bytes);
        model.bufferViews.push_back(bv);
        return static_cast<int>(model.bufferViews.size()) - 1;
    }

    int addAccessor(const void* data, size_t count, int type, int componentType, size_t elementBytes, int target) {
        tinygltf::Accessor a;
        a.bufferView = addView(data, count * elementBytes, target);
        a.byteOffset = 0;
        a.componentType = componentType;
        a.count = count;
        a.type = type;
        model.accessors.push_back(std::move(a));
        return static_cast<int>(model.accessors.size()) - 1;
    }

    int material(const std::string& name) {
        auto [it, added] = materials_.try_emplace(name, static_cast<int>(model.materials.size()));
        if (added) {
            tinygltf::Material m;
            m.name = name;
            model.materials.push_back(std::move(m));
        }
        return it->second;
    }

    int addMesh(const PolygonObject& o) {
        const SplitMesh s = splitVertices(o);
        if (s.polygons.empty()) return -1;
        tinygltf::Mesh mesh;
        mesh.name = o.name();
        std::map<std::string, int> attributes;

        std::vector<float> buf(s.vertexPoint.size() * 3);
        float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
        for (size_t v = 0; v < s.vertexPoint.size(); ++v) {
            const Vec3f& p = o.points[s.vertexPoint[v]];
            const float c[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                buf[3 * v + k] = c[k];
                lo[k] = std::min(lo[k], c[k]);
                hi[k] = std::max(hi[k], c[k]);
            }
        }
        const int positions = addAccessor(buf.data(), s.vertexPoint.size(), TINYGLTF_TYPE_VEC3,
                                          TINYGLTF_COMPONENT_TYPE_FLOAT, 12, TINYGLTF_TARGET_ARRAY_BUFFER);
        model.accessors[positions].minValues.assign(lo, lo + 3);
        model.accessors[positions].maxValues.assign(hi, hi + 3);
        attributes["POSITION"] = positions;
        if (!s.normals.empty())
            attributes["NORMAL"] = addAccessor(s.normals.data(), s.normals.size(), TINYGLTF_TYPE_VEC3,
                                               TINYGLTF_COMPONENT_TYPE_FLOAT, 12, TINYGLTF_TARGET_ARRAY_BUFFER);
        tinygltf::Value::Array uvNames;
        bool namedSets = false;
        for (size_t set = 0; set < s.uvSets.size(); ++set) {
            std::vector<float> uv(s.uvSets[set].size() * 2);
            for (size_t v = 0; v < s.uvSets[set].size(); ++v) {
                uv[2 * v] = s.uvSets[set][v].x;
                uv[2 * v + 1] = 1.0f - s.uvSets[set][v].y;
            }
            attributes["TEXCOORD_" + std::to_string(set)] =
                addAccessor(uv.data(), s.uvSets[set].size(), TINYGLTF_TYPE_VEC2, TINYGLTF_COMPONENT_TYPE_FLOAT, 8,
                            TINYGLTF_TARGET_ARRAY_BUFFER);
            uvNames.emplace_back(s.uvNames[set]);
            namedSets = namedSets || !s.uvNames[set].empty();
        }
        if (namedSets) {
            tinygltf::Value::Object extras;
            extras["uvSetNames"] = tinygltf::Value(std::move(uvNames));
            mesh.extras = tinygltf::Value(std::move(extras));
        }
        for (size_t f = 0; f < s.floatMaps.size(); ++f) {
            std::string name = "_" + s.floatMapNames[f];
            if (attributes.count(name)) continue;
            attributes[name] = addAccessor(s.floatMaps[f].data(), s.floatMaps[f].size(), TINYGLTF_TYPE_SCALAR,
                                           TINYGLTF_COMPONENT_TYPE_FLOAT, 4, TINYGLTF_TARGET_ARRAY_BUFFER);
        }

        // One primitive per polygon-selection tag (a polygon goes with its first tag), and one for the
        // polygons of no tag.
        std::vector<const SelectionTag*> groups;
        for (const auto& t : o.tags())
            if (t->type() == TAG_POLYGON_SELECTION) groups.push_back(static_cast<const SelectionTag*>(t.get()));
        // Each polygon's first tag, from the tags' runs of members (walked last tag first, so that an
        // earlier tag wins): time in proportion to the members, not to tags × polygons.
        std::vector<uint32_t> groupOf(o.polygons.size(), uint32_t(groups.size()));
        for (size_t k = groups.size(); k-- > 0;)
            for (const auto& [first, last] : groups[k]->set.ranges())
                for (int p = first; p <= last && p < int(groupOf.size()); ++p) groupOf[p] = uint32_t(k);
        std::vector<std::vector<uint32_t>> indices(groups.size() + 1);
        for (size_t i = 0; i < s.polygons.size(); ++i) {
            const int original = s.polygonIndex[i];
            const size_t g = original >= 0 && original < int(groupOf.size()) ? groupOf[original] : groups.size();
            const auto& v = s.polygons[i];
            std::vector<uint32_t>& out = indices[g];
            out.insert(out.end(), {uint32_t(v[0]), uint32_t(v[1]), uint32_t(v[2])});
            if (v[3] >= 0) out.insert(out.end(), {uint32_t(v[0]), uint32_t(v[2]), uint32_t(v[3])});
        }
        const BakedMaps* maps = nullptr;
        if (baked)
            if (auto it = baked->find(&o); it != baked->end()) maps = &it->second;
        // The maps lie over the first texture coordinates, which the polygons of every group share.
        if (maps) {
            for (size_t g = 0; g < groups.size(); ++g) {
                indices[groups.size()].insert(indices[groups.size()].end(), indices[g].begin(), indices[g].end());
                indices[g].clear();
            }
        }
        for (size_t g = 0; g <= groups.size(); ++g) {
            if (indices[g].empty()) continue;
            tinygltf::Primitive prim;
            prim.mode = TINYGLTF_MODE_TRIANGLES;
            prim.attributes = attributes;
            prim.indices = addAccessor(indices[g].data(), indices[g].size(), TINYGLTF_TYPE_SCALAR,
                                       TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, 4, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
            if (g < groups.size()) prim.material = material(groups[g]->name());
            if (maps) prim.material = bakedMaterial(o.name(), *maps);
            mesh.primitives.push_back(std::move(prim));
        }
        model.meshes.push_back(std::move(mesh));
        return static_cast<int>(model.meshes.size()) - 1;
    }

    // The image of an embedded PNG file, as a texture with a sampler that repeats.
    int addTexture(const std::string& png) {
        if (model.samplers.empty()) {
            tinygltf::Sampler s;
            s.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
            s.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
            s.wrapS = s.wrapT = TINYGLTF_TEXTURE_WRAP_REPEAT;
            model.samplers.push_back(s);
        }
        tinygltf::Image image;
        image.mimeType = "image/png";
        image.bufferView = addView(png.data(), png.size(), 0);
        model.images.push_back(std::move(image));
        tinygltf::Texture t;
        t.source = static_cast<int>(model.images.size()) - 1;
        t.sampler = 0;
        model.textures.push_back(t);
        return static_cast<int>(model.textures.size()) - 1;
    }

    // A plain, rough, non-metallic material carrying the object's baked maps.
    int bakedMaterial(const std::string& name, const BakedMaps& maps) {
        tinygltf::Material m;
        m.name = name;
        m.pbrMetallicRoughness.metallicFactor = 0.0;
        m.pbrMetallicRoughness.roughnessFactor = 0.8;
        if (!maps.normalPng.empty()) m.normalTexture.index = addTexture(maps.normalPng);
        if (!maps.occlusionPng.empty()) m.occlusionTexture.index = addTexture(maps.occlusionPng);
        model.materials.push_back(std::move(m));
        return static_cast<int>(model.materials.size()) - 1;
    }

    std::map<std::string, int> materials_;
};

bool encode(Model& model, bool binary, std::string& bytes, std::string* error) {
    if (model.buffers[0].data.empty()) model.buffers.clear();
    tinygltf::TinyGLTF gltf;
    std::ostringstream stream;
    if (!gltf.WriteGltfSceneToStream(&model, stream, !binary, binary)) {
        if (error) *error = "the glTF encoder failed";
        return false;
    }
    bytes = std::move(stream).str();
    return true;
}

}  // namespace

bool encodeGltf(const std::vector<const Object*>& objects, bool binary, std::string& bytes, std::string* error,
                const BakedMapsOf* baked) {
    // The objects and their ancestors; the top-most of them are the scene's nodes.
    std::set<const Object*> keep;
    for (const Object* o : objects)
        for (const Object* a = o; a; a = a->parent())
            if (!keep.insert(a).second) break;
    Writer w;
    w.baked = baked;
    tinygltf::Scene scene;
    std::vector<const Object*> ordered;
    for (const Object* o : objects)
        for (const Object* a = o; a; a = a->parent())
            if (!a->parent() && std::find(ordered.begin(), ordered.end(), a) == ordered.end()) ordered.push_back(a);
    for (const Object* t : ordered) scene.nodes.push_back(w.addNode(*t, &keep));
    w.model.scenes.push_back(std::move(scene));
    w.model.defaultScene = 0;
    return encode(w.model, binary, bytes, error);
}

bool encodeGltfLodChain(const std::vector<LodLevel>& levels, bool binary, std::string& bytes, std::string* error,
                        const BakedMapsOf* baked) {
    if (levels.empty()) {
        if (error) *error = "no levels to write";
        return false;
    }
    Writer w;
    w.baked = baked;
    std::vector<int> levelNodes;
    for (const LodLevel& level : levels) {
        std::vector<int> children;
        for (const Object* r : level.roots) children.push_back(w.addNode(*r, nullptr));
        levelNodes.push_back(w.addGroupNode(level.name, children));
    }
    tinygltf::Node& first = w.model.nodes[levelNodes[0]];
    tinygltf::Value::Array ids, coverage;
    for (size_t i = 1; i < levelNodes.size(); ++i) ids.emplace_back(levelNodes[i]);
    for (const LodLevel& level : levels) coverage.emplace_back(level.screenCoverage);
    tinygltf::Value::Object lod;
    lod["ids"] = tinygltf::Value(std::move(ids));
    first.extensions["MSFT_lod"] = tinygltf::Value(std::move(lod));
    tinygltf::Value::Object extras;
    extras["MSFT_screencoverage"] = tinygltf::Value(std::move(coverage));
    first.extras = tinygltf::Value(std::move(extras));
    w.model.extensionsUsed.push_back("MSFT_lod");
    tinygltf::Scene scene;
    scene.nodes.push_back(levelNodes[0]);
    w.model.scenes.push_back(std::move(scene));
    w.model.defaultScene = 0;
    return encode(w.model, binary, bytes, error);
}

}  // namespace host::formats
