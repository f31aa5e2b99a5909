#include "LevelMaps.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "BakedAsset.h"
#include "host/formats/BakedMapImages.h"
#include "host/formats/MeshFile.h"

extern char** environ;

namespace fs = std::filesystem;

namespace app {
namespace {

void polygonObjectsWithUvs(const host::Object* o, std::vector<const host::PolygonObject*>& out) {
    if (auto* p = dynamic_cast<const host::PolygonObject*>(o); p && p->tag(host::TAG_UVW)) out.push_back(p);
    for (const auto& c : o->children()) polygonObjectsWithUvs(c.get(), out);
}

// This program: the running vexlor, else the one beside the module.
std::string vexlorProgram(const std::string& moduleDir) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && self.filename() == "vexlor") return self.string();
    return (fs::path(moduleDir) / "vexlor").string();
}

// Runs the program with the arguments, its standard output sent nowhere; its exit status, or -1.
int runProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool bakeLevelMaps(const std::string& moduleDir, const LevelBake& bake,
                   const std::vector<host::formats::LodLevel>& levels, host::formats::BakedMapsOf& baked,
                   std::ostream& err, std::string& error) {
    const std::string program = vexlorProgram(moduleDir);
    TemporaryFiles temporaries;
    for (size_t k = 0; k < levels.size(); ++k) {
        std::vector<const host::PolygonObject*> objects;
        for (const host::Object* r : levels[k].roots) polygonObjectsWithUvs(r, objects);
        for (const host::PolygonObject* object : objects) {
            const std::string low = temporaryMapPath("level", "obj"), normal = temporaryMapPath("normal", "png");
            temporaries.paths.push_back(low);
            temporaries.paths.push_back(normal);
            if (!host::formats::writeMeshFile(low, {object}, &error)) return false;
            err << "vexlor lod: baking the maps of level " << k << " (\"" << object->name() << "\")" << std::endl;
            const int status = runProgram({program, "--module-dir", moduleDir, "bake", "--high", bake.high, "--low",
                                           low, "--normal", normal, "--size", std::to_string(bake.size)});
            if (status != 0) {
                error = "the bake of level " + std::to_string(k) + " (\"" + object->name() + "\") from " + bake.high +
                        " failed" + (status < 0 ? "" : " (exit " + std::to_string(status) + ")");
                return false;
            }
            if (!host::formats::bakedMapsFromFiles(normal, false, "", baked[object], error)) return false;
        }
    }
    return true;
}

}  // namespace app
