#include <gtest/gtest.h>

#include <filesystem>

#include "RunVexlor.h"

namespace fs = std::filesystem;

namespace {

// A module folder of our own: the built module beside a copy of the resources, to be damaged.
std::string copyModuleFolder() {
    const std::string folder = makeTempFolder();
    fs::copy_file(fs::path(VEXLOR_BIN_DIR) / "vexlor_module.so", fs::path(folder) / "vexlor_module.so");
    fs::copy(fs::path(VEXLOR_SOURCE_DIR) / "res", fs::path(folder) / "res", fs::copy_options::recursive);
    return folder;
}

void dropStringLine(const std::string& folder, const std::string& id) {
    const std::string path = folder + "/res/strings.txt";
    std::string text = readFile(path), kept;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.rfind(id + " ", 0) != 0) kept += line + "\n";
        start = end + 1;
    }
    ASSERT_NE(kept.size(), text.size()) << "no string " << id;
    writeFile(path, kept);
}

}  // namespace

TEST(VexlorPlugins, ListsTheFourPlugInsInRegistrationOrder) {
    const RunResult r = runVexlor({"plugins"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const size_t reduce = r.out.find("1015827  command  Vexlor Reduce - ");
    const size_t bake = r.out.find("1016396  command  Vexlor Bake - ");
    const size_t shader = r.out.find("1016397  shader   Vexlor Normal Map");
    const size_t tool = r.out.find("1015828  tool     Vexlor Brush - ");
    ASSERT_NE(reduce, std::string::npos) << r.out;
    ASSERT_NE(bake, std::string::npos) << r.out;
    ASSERT_NE(shader, std::string::npos) << r.out;
    ASSERT_NE(tool, std::string::npos) << r.out;
    EXPECT_LT(reduce, bake);
    EXPECT_LT(bake, shader);
    EXPECT_LT(shader, tool);
}

TEST(VexlorPlugins, AnOlderHostIsRefusedAndTheOldestAcceptedOneWorks) {
    const RunResult old = runVexlor({"plugins", "--host-version", "7499"});
    EXPECT_NE(old.exitCode, 0);
    EXPECT_NE(old.err.find("init answered -3"), std::string::npos) << old.err;
    EXPECT_EQ(old.out, "");
    const RunResult oldest = runVexlor({"plugins", "--host-version", "7500"});
    EXPECT_EQ(oldest.exitCode, 0) << oldest.err;
    EXPECT_NE(oldest.out.find("1015828"), std::string::npos);
}

TEST(VexlorPlugins, AMissingNameStringSkipsOnlyThatPlugIn) {
    const std::string folder = copyModuleFolder();
    dropStringLine(folder, "10117");
    const RunResult r = runVexlor({"plugins", "--module-dir", folder});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("1015827"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1016396"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1016397"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1015828"), std::string::npos) << r.out;
}

TEST(VexlorPlugins, AMissingIconStopsTheStartAtThatPlugIn) {
    const std::string folder = copyModuleFolder();
    fs::remove(fs::path(folder) / "res" / "OMBIcon.tif");
    // The module folder can also come from the environment.
    const RunResult r = runVexlor({"plugins"}, {"VEXLOR_MODULE_DIR=" + folder});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("icon"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("1015827"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("1016396"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("1015828"), std::string::npos) << r.out;
}

TEST(VexlorPlugins, AFolderWithoutTheModuleSaysSo) {
    const std::string folder = makeTempFolder();
    const RunResult r = runVexlor({"plugins", "--module-dir", folder});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("vexlor_module.so: no module file here"), std::string::npos) << r.err;
}

TEST(VexlorShowDialog, ShowsTheReductionDialogWithItsGadgets) {
    const RunResult r =
        runVexlor({"show-dialog", "reduce", std::string(VEXLOR_SOURCE_DIR) + "/samples/sample.obj"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Vexlor Reduce"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Whole hierarchy"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Area"), std::string::npos) << r.out;
}
