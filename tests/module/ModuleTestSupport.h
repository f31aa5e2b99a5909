// Shared pieces of the module's tests: a fixture that drives the module through hst_main against
// the real host table and checks that nothing is left behind, and temporary module folders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/Memory.h"
#include "host/Services.h"
#include "sources/HostInterface.h"
#include "sources/Module.h"

namespace moduletest {

inline const std::string kSourceFolder = VEXLOR_SOURCE_DIR;

inline int32_t entry(int32_t action, void* p1 = nullptr, void* p2 = nullptr, void* p3 = nullptr) {
    return hst_main(action, p1, p2, p3);
}
inline int32_t init(const HostApi* api, const std::string& folder) {
    return entry(HST_ACTION_INIT, const_cast<HostApi*>(api), nullptr, const_cast<char*>(folder.c_str()));
}
inline int32_t message(intptr_t code) { return entry(HST_ACTION_MESSAGE, reinterpret_cast<void*>(code)); }
inline int32_t start() { return entry(HST_ACTION_START); }
inline int32_t end() { return entry(HST_ACTION_END); }

// A folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("vexlor-module-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::filesystem::path res() const { return path_ / "res"; }

    // Copies the source tree's res/ here.
    void copyResources() const {
        std::filesystem::copy(std::filesystem::path(kSourceFolder) / "res", res(),
                              std::filesystem::copy_options::recursive);
    }
    // Drops every line of res/strings.txt that defines `id`.
    void removeString(int32_t id) const {
        const auto file = res() / "strings.txt";
        std::ifstream in(file);
        std::string line, kept;
        const std::string prefix = std::to_string(id);
        bool removed = false;
        while (std::getline(in, line)) {
            const size_t first = line.find_first_not_of(" \t");
            const bool defines = first != std::string::npos && line.compare(first, prefix.size(), prefix) == 0 &&
                                 (line.size() == first + prefix.size() || line[first + prefix.size()] == ' ' ||
                                  line[first + prefix.size()] == '\t');
            if (defines) {
                removed = true;
                continue;
            }
            kept += line + "\n";
        }
        in.close();
        ASSERT_TRUE(removed) << "no string " << id << " in " << file;
        std::ofstream(file, std::ios::trunc) << kept;
        // Layouts that take a text from that string get a literal text instead, so that only the
        // string goes missing (a reference to a missing string makes the whole set fail).
        for (const auto& entry : std::filesystem::directory_iterator(res() / "dialogs")) {
            std::ifstream layoutIn(entry.path());
            std::string text((std::istreambuf_iterator<char>(layoutIn)), std::istreambuf_iterator<char>());
            layoutIn.close();
            const std::string reference = "@" + prefix;
            for (size_t at = text.find(reference); at != std::string::npos; at = text.find(reference, at))
                text.replace(at, reference.size(), "\"text " + prefix + "\"");
            std::ofstream(entry.path(), std::ios::trunc) << text;
        }
    }

private:
    std::filesystem::path path_;
};

// Runs each test with the console captured and checks at the end that the module was ended, its
// plug-ins released, and that no host allocation or handle made during the test is still live.
class ModuleFixture : public ::testing::Test {
protected:
    void SetUp() override {
        host::memory::resetFailures();
        host::Console::main().setCapturing(true);
        host::Console::main().takeCaptured();
        blocksBefore_ = host::memory::liveBlocks();
        handlesBefore_ = host::liveHandles();
    }
    void TearDown() override {
        host::memory::resetFailures();
        host::PluginRegistry::main().clear();
        while (moduleState().startCount > 0) end();
        host::Console::main().setCapturing(false);
        EXPECT_EQ(host::memory::liveBlocks(), blocksBefore_) << "host blocks left live";
        EXPECT_EQ(host::liveHandles(), handlesBefore_) << "host handles left live";
    }

    // Init with the host's own table and a folder, expecting success.
    void startModule(const std::string& folder) { ASSERT_EQ(init(host::hostApi(), folder), 1); }

    std::vector<std::string> console() { return host::Console::main().takeCaptured(); }

    static std::vector<int32_t> registeredIds() {
        std::vector<int32_t> ids;
        for (const auto& p : host::PluginRegistry::main().plugins()) ids.push_back(p.id);
        return ids;
    }

    size_t blocksBefore_ = 0;
    size_t handlesBefore_ = 0;
};

}  // namespace moduletest
