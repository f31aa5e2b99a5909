#include "BakedAsset.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "host/SafeOutput.h"
#include "host/formats/FileOutput.h"

namespace fs = std::filesystem;

namespace app {
namespace {

bool isBinaryAsset(const std::string& path) { return fs::path(path).extension() == ".glb"; }

}  // namespace

void withPolygonObjects(host::Object& root, void (*f)(host::PolygonObject&)) {
    if (auto* p = dynamic_cast<host::PolygonObject*>(&root)) f(*p);
    for (const auto& c : root.children()) withPolygonObjects(*c, f);
}

std::string assetPathProblem(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    if (ext != ".glb" && ext != ".gltf")
        return path + ": an asset is a .glb file (one file, images inside) or a .gltf file";
    return host::outputProblem(path);
}

TemporaryFiles::~TemporaryFiles() {
    std::error_code ec;
    for (const std::string& p : paths) fs::remove(p, ec);
}

std::string temporaryMapPath(const std::string& what, const std::string& suffix) {
    static std::atomic<int> counter{0};
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec);
    if (ec) folder = "/tmp";
    return (folder / ("vexlor-" + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "." +
                      suffix))
        .string();
}

bool writeBakedAsset(const std::string& path, const std::vector<const host::Object*>& objects,
                     const host::formats::BakedMapsOf& baked, std::string& error) {
    std::string bytes;
    if (!host::formats::encodeGltf(objects, isBinaryAsset(path), bytes, &error, &baked)) return false;
    return host::formats::replaceFileWith(path, bytes, &error);
}

}  // namespace app
