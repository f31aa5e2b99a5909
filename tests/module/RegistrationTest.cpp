// Registration of the four plug-ins at start: order, identifiers, names and help texts from the
// resources, kinds, icons, and what a missing string, a missing icon or a failed allocation does.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "ModuleTestSupport.h"
#include "baking/BakeCommand.h"
#include "host/Resources.h"
#include "reduction/VexlorCommand.h"
#include "shader/OMBShader85.h"
#include "sources/HostMemory.h"
#include "sources/HostContract.h"
#include "tool/TessikTool.h"

using namespace moduletest;

namespace {

class RegistrationTest : public ModuleFixture {
protected:
    // Init, resources and start in `folder`; returns start's result.
    int32_t startIn(const std::string& folder) {
        EXPECT_EQ(init(host::hostApi(), folder), 1);
        EXPECT_EQ(message(1), 1);
        return start();
    }
    static const host::RegisteredPlugin& plugin(size_t i) { return host::PluginRegistry::main().plugins().at(i); }
    bool consoleHas(const std::string& prefix) {
        const auto lines = console();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
};

TEST_F(RegistrationTest, RegistersTheFourPluginsInOrder) {
    ASSERT_EQ(startIn(kSourceFolder), 1);
    ASSERT_EQ(registeredIds(), (std::vector<int32_t>{1015827, 1016396, 1016397, 1015828}));
    EXPECT_EQ(VEXLOR_ID, 1015827);
    EXPECT_EQ(OMBRIN_ID, 1016396);
    EXPECT_EQ(XOMBRIN85_ID, 1016397);
    EXPECT_EQ(TESSIK_ID, 1015828);

    const auto res = host::ResourceSet::open(kSourceFolder);
    ASSERT_NE(res, nullptr);
    struct Expected {
        int32_t kind, nameId, helpId;
        bool icon;
    };
    const Expected expected[] = {{7, 10117, 10118, true}, {7, 10124, 10125, true}, {2, 10135, 0, false},
                                 {14, 10136, 10137, true}};
    for (size_t i = 0; i < 4; ++i) {
        const auto& p = plugin(i);
        SCOPED_TRACE(p.id);
        EXPECT_EQ(p.kind, expected[i].kind);
        EXPECT_EQ(p.version, 8500);
        EXPECT_EQ(p.info, 0);
        EXPECT_FALSE(p.name.empty());
        EXPECT_EQ(p.name, res->string(expected[i].nameId));
        EXPECT_EQ(p.help, expected[i].helpId ? res->string(expected[i].helpId) : std::string());
        if (expected[i].icon) {
            EXPECT_EQ(p.iconWidth, 24);
            EXPECT_EQ(p.iconHeight, 24);
            EXPECT_NE(p.object, nullptr);
            EXPECT_EQ(p.shaderAllocator, nullptr);
        } else {
            EXPECT_EQ(p.iconWidth, 0);
            EXPECT_EQ(p.object, nullptr);
            EXPECT_EQ(p.shaderAllocator, &allocateOMBShader85);
        }
    }
    EXPECT_EQ(host::PluginRegistry::main().descriptions, std::vector<std::string>{"Xombrin85"});
}

TEST_F(RegistrationTest, RegisteredObjectsAreTheModulesClasses) {
    ASSERT_EQ(startIn(kSourceFolder), 1);
    auto* reduce = static_cast<HostCommandBase*>(plugin(0).object);
    auto* bake = static_cast<HostCommandBase*>(plugin(1).object);
    auto* tool = static_cast<HostToolBase*>(plugin(3).object);
    // The objects live in host memory under their class names.
    bool sawReduce = false, sawBake = false, sawTool = false;
    for (const auto& b : host::memory::liveBlockList()) {
        sawReduce |= b.tag == "VexlorCommand" && b.size == sizeof(VexlorCommand);
        sawBake |= b.tag == "BakeCommand" && b.size == sizeof(BakeCommand);
        sawTool |= b.tag == "TessikTool" && b.size == sizeof(TessikTool);
    }
    EXPECT_TRUE(sawReduce);
    EXPECT_TRUE(sawBake);
    EXPECT_TRUE(sawTool);
    // Fresh tool state.
    auto* tessik = static_cast<TessikTool*>(tool);
    EXPECT_EQ(tessik->picked, -1);
    EXPECT_FALSE(tessik->object.valid());
    EXPECT_EQ(tessik->highlight[0], 1.0f);
    EXPECT_EQ(tessik->highlight[1], 0.0f);
    EXPECT_EQ(tessik->highlight[2], 0.0f);
    // Without an active document the reduction command is disabled; the baking command keeps
    // the host's default state.
    EXPECT_EQ(reduce->state(nullptr), 0);
    EXPECT_EQ(bake->state(nullptr), HOST_CMD_ENABLED);
}

TEST_F(RegistrationTest, MissingNameSkipsOnlyThatPlugin) {
    TempFolder folder;
    folder.copyResources();
    folder.removeString(10117);
    EXPECT_EQ(startIn(folder.str()), 1);
    EXPECT_EQ(registeredIds(), (std::vector<int32_t>{1016396, 1016397, 1015828}));
}

TEST_F(RegistrationTest, MissingHelpSkipsOnlyThatPlugin) {
    TempFolder folder;
    folder.copyResources();
    folder.removeString(10137);
    EXPECT_EQ(startIn(folder.str()), 1);
    EXPECT_EQ(registeredIds(), (std::vector<int32_t>{1015827, 1016396, 1016397}));
}

TEST_F(RegistrationTest, MissingShaderNameSkipsTheShaderAndItsDescription) {
    TempFolder folder;
    folder.copyResources();
    folder.removeString(10135);
    EXPECT_EQ(startIn(folder.str()), 1);
    EXPECT_EQ(registeredIds(), (std::vector<int32_t>{1015827, 1016396, 1015828}));
    EXPECT_TRUE(host::PluginRegistry::main().descriptions.empty());
}

TEST_F(RegistrationTest, MissingFirstIconStopsTheStart) {
    TempFolder folder;
    folder.copyResources();
    std::filesystem::remove(folder.res() / "VXIcon.tif");
    EXPECT_EQ(startIn(folder.str()), 0);
    EXPECT_TRUE(registeredIds().empty());
}

TEST_F(RegistrationTest, MissingToolIconStopsAfterTheShader) {
    TempFolder folder;
    folder.copyResources();
    std::filesystem::remove(folder.res() / "TessikIcon.tif");
    EXPECT_EQ(startIn(folder.str()), 0);
    EXPECT_EQ(registeredIds(), (std::vector<int32_t>{1015827, 1016396, 1016397}));
}

TEST_F(RegistrationTest, UnreadableIconStopsTheStart) {
    TempFolder folder;
    folder.copyResources();
    std::ofstream(folder.res() / "OMBIcon.tif", std::ios::trunc) << "not an image";
    EXPECT_EQ(startIn(folder.str()), 0);
    EXPECT_EQ(registeredIds(), (std::vector<int32_t>{1015827}));
}

TEST_F(RegistrationTest, FailedCommandAllocationIsRefusedByTheHost) {
    host::memory::failMatching("VexlorCommand", 0);
    EXPECT_EQ(startIn(kSourceFolder), 0);
    EXPECT_TRUE(registeredIds().empty());
    EXPECT_TRUE(consoleHas("NO MEMORY: VexlorCommand "));
}

TEST_F(RegistrationTest, FailedToolAllocationStopsAtTheTool) {
    host::memory::failMatching("TessikTool", 0);
    EXPECT_EQ(startIn(kSourceFolder), 0);
    EXPECT_EQ(registeredIds(), (std::vector<int32_t>{1015827, 1016396, 1016397}));
    EXPECT_TRUE(consoleHas("NO MEMORY: TessikTool "));
}

TEST_F(RegistrationTest, ObjectRefusedByTheHostIsNotLeaked) {
    ASSERT_EQ(startIn(kSourceFolder), 1);
    const size_t blocks = host::memory::liveBlocks();
    // A second start offers every plug-in again under an identifier the host already holds.
    EXPECT_EQ(start(), 0);
    EXPECT_EQ(host::memory::liveBlocks(), blocks);
    EXPECT_EQ(registeredIds().size(), 4u);
}

TEST_F(RegistrationTest, StartAndEndLeaveNothingLive) {
    const size_t blocks = host::memory::liveBlocks();
    const size_t handles = host::liveHandles();
    ASSERT_EQ(startIn(kSourceFolder), 1);
    EXPECT_GT(host::memory::liveBlocks(), blocks);
    host::PluginRegistry::main().clear();
    EXPECT_EQ(end(), 1);
    EXPECT_EQ(host::memory::liveBlocks(), blocks);
    EXPECT_EQ(host::liveHandles(), handles);
}

TEST_F(RegistrationTest, ShaderAllocatorMakesFreshInstances) {
    ASSERT_EQ(startIn(kSourceFolder), 1);
    HostShaderAllocator make = plugin(2).shaderAllocator;
    ASSERT_NE(make, nullptr);
    HostShaderBase* shader = make();
    ASSERT_NE(shader, nullptr);
    auto* omb = static_cast<OMBShader85*>(shader);
    EXPECT_EQ(omb->child, nullptr);
    omb->child = omb;
    EXPECT_EQ(shader->init(nullptr), 1);
    EXPECT_EQ(omb->child, nullptr);
    hostDelete(shader);

    host::memory::failMatching("OMBShader85", 0);
    EXPECT_EQ(make(), nullptr);
    EXPECT_TRUE(consoleHas("NO MEMORY: OMBShader85 "));
}

}  // namespace
