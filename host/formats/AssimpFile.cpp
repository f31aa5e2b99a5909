#include "host/formats/AssimpFile.h"

#include <assimp/BaseImporter.h>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <assimp/MemoryIOWrapper.h>
#include <assimp/config.h>
#include <assimp/importerdesc.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "host/formats/ColladaCheck.h"
#include "host/formats/FbxCheck.h"
#include "host/formats/FileOutput.h"
#include "host/formats/ReaderLimits.h"

namespace host::formats {
namespace {

Matrix toMatrix(const aiMatrix4x4& m) {
    // assimp's matrices are row-major with the translation in the fourth column.
    Matrix out;
    out.v1 = {m.a1, m.b1, m.c1};
    out.v2 = {m.a2, m.b2, m.c2};
    out.v3 = {m.a3, m.b3, m.c3};
    out.off = {m.a4, m.b4, m.c4};
    return out;
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// A file system of one file, held in memory: whatever else the importer asks for does not exist.
class OneFileSystem : public Assimp::IOSystem {
public:
    OneFileSystem(std::string name, const std::string& bytes) : name_(std::move(name)), bytes_(bytes) {}
    bool Exists(const char* file) const override { return file && name_ == file; }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* file, const char* mode) override {
        if (!Exists(file) || !mode || mode[0] != 'r') return nullptr;
        return new Assimp::MemoryIOStream(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size(), false);
    }
    void Close(Assimp::IOStream* stream) override { delete stream; }

private:
    std::string name_;
    const std::string& bytes_;
};

struct ImporterChoice {
    const char* suffix;  // the one name the file gets inside the one-file system
    const char* name;    // a word of the importer's own name, to be sure it is the one meant
};

ImporterChoice importerFor(AssimpFormat format) {
    switch (format) {
        case AssimpFormat::Fbx: return {"fbx", "FBX"};
        case AssimpFormat::Stl: return {"stl", "STL"};
        case AssimpFormat::Collada: return {"dae", "Collada"};
        case AssimpFormat::ThreeDs: return {"3ds", "3DS"};
    }
    return {"", ""};
}

// Leaves only the importer of `format` registered with `importer`; false when the library has none.
bool keepOnlyImporter(Assimp::Importer& importer, AssimpFormat format) {
    const ImporterChoice choice = importerFor(format);
    Assimp::BaseImporter* keep = importer.GetImporter(choice.suffix);
    const size_t index = importer.GetImporterIndex(choice.suffix);
    const aiImporterDesc* desc = index == static_cast<size_t>(-1) ? nullptr : importer.GetImporterInfo(index);
    if (!keep || !desc || !desc->mName || !std::strstr(desc->mName, choice.name)) return false;
    std::vector<Assimp::BaseImporter*> others;
    for (size_t i = 0; i < importer.GetImporterCount(); ++i)
        if (Assimp::BaseImporter* other = importer.GetImporter(i); other && other != keep) others.push_back(other);
    for (Assimp::BaseImporter* other : others) {
        // Taken out of the list, an importer is no longer the library's to delete.
        if (importer.UnregisterLoader(other) == aiReturn_SUCCESS) delete other;
    }
    return importer.GetImporterCount() == 1;
}

class Builder {
public:
    Builder(const aiScene& scene, std::string fallbackName) : scene_(scene), fallback_(std::move(fallbackName)) {}
    std::vector<WeldResult> welds;
    int polygonObjects = 0;
    bool tooDeep = false;

    std::unique_ptr<Object> node(const aiNode& n, int depth) {
        std::string name = n.mName.C_Str();
        if (name.empty() && n.mNumMeshes > 0 && n.mMeshes[0] < scene_.mNumMeshes)
            name = scene_.mMeshes[n.mMeshes[0]]->mName.C_Str();
        if (name.empty() || name[0] == '<') name = fallback_;
        std::unique_ptr<Object> obj;
        VertexMesh vm;
        vm.name = name;
        if (n.mNumMeshes > 0 && gather(n, vm) && !vm.cornerCounts.empty()) {
            WeldResult weld;
            obj = buildPolygonObject(vm, &weld);
            welds.push_back(weld);
            ++polygonObjects;
        } else {
            obj = std::make_unique<Object>(OBJECT_GROUP, name);
        }
        obj->localMatrix = toMatrix(n.mTransformation);
        if (n.mNumChildren > 0 && depth + 1 > kMaxHierarchyDepth) {
            // Cutting the tree here would lose what lies below without a word.
            tooDeep = true;
            return obj;
        }
        for (unsigned i = 0; i < n.mNumChildren && !tooDeep; ++i)
            if (n.mChildren[i]) obj->addChild(node(*n.mChildren[i], depth + 1));
        return obj;
    }

private:
    bool gather(const aiNode& n, VertexMesh& vm) {
        unsigned uvSets = 0;
        bool normals = false;
        for (unsigned i = 0; i < n.mNumMeshes; ++i) {
            if (n.mMeshes[i] >= scene_.mNumMeshes) continue;
            const aiMesh* m = scene_.mMeshes[n.mMeshes[i]];
            for (unsigned s = 0; s < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++s)
                if (m->HasTextureCoords(s)) uvSets = std::max(uvSets, s + 1);
            normals = normals || m->HasNormals();
        }
        vm.uvSets.resize(uvSets);
        for (unsigned s = 0; s < uvSets; ++s) vm.uvNames.push_back(s == 0 ? "" : "UV " + std::to_string(s + 1));
        std::map<unsigned, int> groupOfMaterial;
        bool namedMaterial = false;
        for (unsigned i = 0; i < n.mNumMeshes; ++i) {
            if (n.mMeshes[i] >= scene_.mNumMeshes) continue;
            const aiMesh* m = scene_.mMeshes[n.mMeshes[i]];
            const size_t base = vm.positions.size();
            for (unsigned v = 0; v < m->mNumVertices; ++v)
                vm.positions.push_back({m->mVertices[v].x, m->mVertices[v].y, m->mVertices[v].z});
            for (unsigned s = 0; s < uvSets; ++s) {
                std::vector<Vec3f>& uv = vm.uvSets[s];
                if (!m->HasTextureCoords(s)) {
                    uv.resize(base + m->mNumVertices);
                    continue;
                }
                for (unsigned v = 0; v < m->mNumVertices; ++v) {
                    const aiVector3D& t = m->mTextureCoords[s][v];
                    uv.push_back({t.x, m->mNumUVComponents[s] >= 2 ? t.y : 0.0f, m->mNumUVComponents[s] >= 3 ? t.z : 0.0f});
                }
            }
            if (normals) {
                if (!m->HasNormals()) {
                    vm.normals.resize(base + m->mNumVertices);
                } else {
                    for (unsigned v = 0; v < m->mNumVertices; ++v)
                        vm.normals.push_back({m->mNormals[v].x, m->mNormals[v].y, m->mNormals[v].z});
                }
            }
            int32_t group = -1;
            if (m->mMaterialIndex < scene_.mNumMaterials) {
                auto [it, added] = groupOfMaterial.try_emplace(m->mMaterialIndex, static_cast<int>(vm.groupNames.size()));
                if (added) {
                    aiString matName;
                    scene_.mMaterials[m->mMaterialIndex]->Get(AI_MATKEY_NAME, matName);
                    std::string name = matName.C_Str();
                    namedMaterial = namedMaterial || (!name.empty() && name != AI_DEFAULT_MATERIAL_NAME);
                    vm.groupNames.push_back(name.empty() ? "material " + std::to_string(m->mMaterialIndex) : name);
                }
                group = it->second;
            }
            for (unsigned f = 0; f < m->mNumFaces; ++f) {
                const aiFace& face = m->mFaces[f];
                if (face.mNumIndices < 3) continue;  // points and lines are no polygons
                vm.cornerCounts.push_back(face.mNumIndices);
                for (unsigned k = 0; k < face.mNumIndices; ++k)
                    vm.corners.push_back(face.mIndices[k] < m->mNumVertices ? static_cast<uint32_t>(base + face.mIndices[k])
                                                                           : UINT32_MAX);
                vm.polygonGroups.push_back(group);
            }
        }
        // One material that every polygon has says nothing the file's author meant as a group.
        if (vm.groupNames.size() == 1 && !namedMaterial) {
            vm.groupNames.clear();
            vm.polygonGroups.clear();
        }
        return true;
    }

    const aiScene& scene_;
    std::string fallback_;
};

}  // namespace

bool readWithAssimp(const std::string& path, AssimpFormat format, std::vector<std::unique_ptr<Object>>& roots,
                    std::vector<WeldResult>* welds, std::string* error) {
    std::string bytes;
    if (!readWholeFile(path, bytes, error)) return false;
    std::string problem;
    if (format == AssimpFormat::Collada) problem = colladaProblem(bytes);
    if (format == AssimpFormat::Fbx) problem = fbxProblem(bytes);
    if (!problem.empty()) {
        if (error) *error = path + ": " + problem;
        return false;
    }
    Assimp::Importer importer;
    if (!keepOnlyImporter(importer, format)) {
        if (error) *error = path + ": this build of the mesh library has no importer for the file's format";
        return false;
    }
    const std::string name = std::string("input.") + importerFor(format).suffix;
    importer.SetIOHandler(new OneFileSystem(name, bytes));
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    // Nothing is joined or triangulated: welding and polygon shapes are ours.
    const aiScene* scene = importer.ReadFile(name, aiProcess_ValidateDataStructure);
    if (!scene) {
        // The library turns every exception into its text, an allocation that failed included.
        const std::string why = oneLine(importer.GetErrorString());
        if (error) *error = path + ": " + (why.find("bad_alloc") != std::string::npos ? "out of memory while reading" : why);
        return false;
    }
    if (!scene->mRootNode || scene->mNumMeshes == 0) {
        if (error) *error = path + ": holds no mesh";
        return false;
    }
    Builder b(*scene, std::filesystem::path(path).stem().string());
    const aiNode& root = *scene->mRootNode;
    std::vector<std::unique_ptr<Object>> out;
    if (root.mNumMeshes == 0) {
        // The file's own root: its placement goes to the top objects.
        const Matrix rootMatrix = toMatrix(root.mTransformation);
        for (unsigned i = 0; i < root.mNumChildren; ++i) {
            if (!root.mChildren[i]) continue;
            std::unique_ptr<Object> o = b.node(*root.mChildren[i], 1);
            o->localMatrix = rootMatrix * o->localMatrix;
            out.push_back(std::move(o));
        }
    } else {
        out.push_back(b.node(root, 0));
    }
    if (b.tooDeep) {
        if (error)
            *error = path + ": the object hierarchy is deeper than " + std::to_string(kMaxHierarchyDepth) +
                     " levels, more than we read";
        return false;
    }
    if (b.polygonObjects == 0) {
        if (error) *error = path + ": holds no polygons";
        return false;
    }
    for (auto& o : out) roots.push_back(std::move(o));
    if (welds) welds->insert(welds->end(), b.welds.begin(), b.welds.end());
    return true;
}

}  // namespace host::formats
