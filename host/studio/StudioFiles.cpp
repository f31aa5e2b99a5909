#include "host/studio/StudioFiles.h"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "host/formats/MeshFile.h"
#include "host/studio/StudioRequest.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace host::studio {
namespace {

// Whether `p` is `root` or lies under it (both whole and with their links resolved).
bool inside(const fs::path& p, const fs::path& root) {
    auto r = root.begin(), q = p.begin();
    for (; r != root.end(); ++r, ++q)
        if (q == p.end() || *q != *r) return false;
    return true;
}

struct Entry {
    std::string name;
    bool folder = false;
    uintmax_t size = 0;
    std::string format;
};

}  // namespace

ApiResponse listFolder(const std::string& rootText, const std::string& relative) {
    if (!relative.empty()) {
        if (const std::string why = pathProblem(relative); !why.empty()) return ApiResponse::error(400, why);
        const fs::path rel(relative);
        if (rel.is_absolute()) return ApiResponse::error(403, "give a folder inside the studio's folder, not a whole path");
        for (const fs::path& part : rel)
            if (part == "..") return ApiResponse::error(403, "the folder would leave the studio's folder");
    }
    std::error_code ec;
    const fs::path root = fs::canonical(rootText, ec);
    if (ec) return ApiResponse::error(404, "the studio's folder is gone: " + rootText);
    const fs::path folder = fs::canonical(root / relative, ec);
    if (ec) return ApiResponse::error(404, "no folder " + relative);
    // A link may lead anywhere: what counts is where the folder really is.
    if (!inside(folder, root)) return ApiResponse::error(403, relative + " leads outside the studio's folder");
    if (!fs::is_directory(folder, ec)) return ApiResponse::error(404, relative + " is not a folder");

    std::vector<Entry> entries;
    bool cut = false;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return ApiResponse::error(403, "the folder cannot be read: " + ec.message());
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.' || !pathProblem(name).empty()) continue;
        try {
            (void)json(name).dump();  // a name that is no UTF-8 could not come back as the same name
        } catch (const json::exception&) {
            continue;
        }
        Entry e;
        e.name = name;
        std::error_code kindError;
        // A link is listed only when it leads to somewhere under the root.
        const fs::path target = fs::canonical(it->path(), kindError);
        if (kindError || !inside(target, root)) continue;
        if (it->is_directory(kindError)) {
            e.folder = true;
        } else if (it->is_regular_file(kindError)) {
            const formats::MeshFormat f = formats::meshFormatForPath(name);
            if (f == formats::MeshFormat::Unknown) continue;
            e.format = formats::meshFormatName(f);
            e.size = it->file_size(kindError);
        } else {
            continue;  // FIFOs, devices, sockets: nothing to open
        }
        if (entries.size() == kMaxListedEntries) {
            cut = true;
            break;
        }
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.folder != b.folder ? a.folder : a.name < b.name;
    });

    const fs::path rel = folder.lexically_relative(root);
    const std::string here = rel == "." ? std::string() : rel.generic_string();
    json list = json::array();
    for (const Entry& e : entries) {
        const std::string path = here.empty() ? e.name : here + "/" + e.name;
        json j = {{"name", e.name}, {"path", path}, {"folder", e.folder}};
        if (!e.folder) {
            j["size"] = e.size;
            j["format"] = e.format;
        }
        list.push_back(std::move(j));
    }
    json parent = nullptr;
    if (!here.empty()) {
        const std::string up = fs::path(here).parent_path().generic_string();
        parent = up;
    }
    return ApiResponse::json(
        json{{"folder", here},
             {"root", root.string()},
             {"parent", parent},
             {"entries", std::move(list)},
             {"cut", cut},
             {"reads", "OBJ, glTF (.gltf, .glb), PLY, FBX, STL, Collada (.dae), 3DS"},
             {"writes", formats::writableMeshSuffixes()}}
            .dump());
}

}  // namespace host::studio
