#include "RunVexlor.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace {

// The folders makeTempFolder has handed out, removed with everything in them when the test program
// ends: each vexlor run gets a folder of its own, and a test run must not leave thousands of them
// (and the meshes and maps written into them) behind.
class TempFolders {
public:
    void add(const std::string& folder) {
        std::lock_guard<std::mutex> lock(mutex_);
        folders_.push_back(folder);
    }
    ~TempFolders() {
        for (const std::string& folder : folders_) {
            std::error_code ignored;  // a folder a test made unreadable stays
            std::filesystem::remove_all(folder, ignored);
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::string> folders_;
};

TempFolders& tempFolders() {
    static TempFolders folders;
    return folders;
}

}  // namespace

RunResult runVexlor(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    const std::string folder = makeTempFolder();
    const std::string outPath = folder + "/stdout", errPath = folder + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    const std::string program = std::string(VEXLOR_BIN_DIR) + "/vexlor";
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    RunResult r;
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        r.err = "cannot start " + program;
        return r;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

std::string makeTempFolder() {
    std::string templ = ::testing::TempDir() + "vexlorXXXXXX";
    if (!mkdtemp(templ.data())) return ::testing::TempDir();
    tempFolders().add(templ);
    return templ;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}
