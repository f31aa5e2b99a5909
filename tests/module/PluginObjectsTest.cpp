// The registered plug-in objects as the host uses them: the commands open their dialogs and answer
// their state, the tool answers its state from the document.
#include <filesystem>
#include <memory>

#include "ModuleTestSupport.h"
#include "baking/BakeCommand.h"
#include "host/Dialogs.h"
#include "host/Document.h"
#include "reduction/VexlorCommand.h"
#include "sources/HostContract.h"
#include "tool/TessikTool.h"

using namespace moduletest;

namespace {

class PluginObjectsTest : public ModuleFixture {
protected:
    void startIn(const std::string& folder) {
        ASSERT_EQ(init(host::hostApi(), folder), 1);
        ASSERT_EQ(message(1), 1);
        ASSERT_EQ(start(), 1);
        ASSERT_EQ(host::PluginRegistry::main().plugins().size(), 4u);
    }
    void TearDown() override {
        host::setActiveDocument(nullptr);
        ModuleFixture::TearDown();
    }
    static HostCommandBase* command(int32_t id) {
        return static_cast<HostCommandBase*>(host::PluginRegistry::main().find(id)->object);
    }
    static HostToolBase* tool() {
        return static_cast<HostToolBase*>(host::PluginRegistry::main().find(TESSIK_ID)->object);
    }
};

TEST_F(PluginObjectsTest, ReductionCommandOpensItsDialog) {
    startIn(kSourceFolder);
    auto* reduce = static_cast<VexlorCommand*>(command(VEXLOR_ID));
    auto& dialogs = host::DialogHost::main();
    EXPECT_FALSE(dialogs.isOpen(&reduce->dialog));
    EXPECT_EQ(reduce->execute(nullptr), 1);
    EXPECT_TRUE(dialogs.isOpen(&reduce->dialog));
    EXPECT_EQ(dialogs.pluginIdOf(&reduce->dialog), VEXLOR_ID);
    EXPECT_EQ(dialogs.layoutIdOf(&reduce->dialog), 10001);
    EXPECT_EQ(dialogs.dialogOf(VEXLOR_ID), &reduce->dialog);
    // Destroying the command (the host's clear) takes its dialog out of the host's records.
    host::PluginRegistry::main().clear();
    EXPECT_EQ(dialogs.dialogOf(VEXLOR_ID), nullptr);
}

TEST_F(PluginObjectsTest, BakingCommandOpensAndRestoresItsDialog) {
    startIn(kSourceFolder);
    auto* bake = static_cast<BakeCommand*>(command(OMBRIN_ID));
    auto& dialogs = host::DialogHost::main();
    EXPECT_EQ(bake->restoreLayout(nullptr), 1);
    EXPECT_TRUE(dialogs.isOpen(&bake->dialog));
    EXPECT_EQ(dialogs.pluginIdOf(&bake->dialog), OMBRIN_ID);
    EXPECT_EQ(dialogs.layoutIdOf(&bake->dialog), 10023);
    host::PluginRegistry::main().clear();
    EXPECT_EQ(dialogs.dialogOf(OMBRIN_ID), nullptr);
}

TEST_F(PluginObjectsTest, MissingLayoutFailsTheExecute) {
    TempFolder folder;
    folder.copyResources();
    std::filesystem::remove(folder.res() / "dialogs" / "DLG_BAKE.dlg");
    startIn(folder.str());
    auto* bake = static_cast<BakeCommand*>(command(OMBRIN_ID));
    EXPECT_EQ(bake->execute(nullptr), 0);
    EXPECT_FALSE(host::DialogHost::main().isOpen(&bake->dialog));
}

TEST_F(PluginObjectsTest, ReductionCommandIsEnabledOnlyWithAnActiveObject) {
    startIn(kSourceFolder);
    HostCommandBase* reduce = command(VEXLOR_ID);
    host::Document doc;
    HstDocument* handle = host::toHandle(&doc);
    EXPECT_EQ(reduce->state(handle), 0);
    host::Object* cube = doc.insert(std::make_unique<host::PolygonObject>("cube"));
    EXPECT_EQ(reduce->state(handle), 0);
    doc.setActive(cube);
    EXPECT_EQ(reduce->state(handle), HOST_CMD_ENABLED);
    // Any active object will do, not only polygon objects.
    doc.clearActive();
    host::Object* group = doc.insert(std::make_unique<host::Object>(host::OBJECT_GROUP, "group"));
    doc.setActive(group);
    EXPECT_EQ(reduce->state(handle), HOST_CMD_ENABLED);
    // The baking command is always enabled.
    doc.clearActive();
    EXPECT_EQ(command(OMBRIN_ID)->state(handle), HOST_CMD_ENABLED);
}

TEST_F(PluginObjectsTest, ToolNeedsAnActivePolygonObjectOutsideObjectMode) {
    startIn(kSourceFolder);
    HostToolBase* brush = tool();
    host::Document doc;
    HstDocument* handle = host::toHandle(&doc);
    doc.setEditingMode(host::MODE_POLYGONS);
    EXPECT_EQ(brush->state(handle), 0);
    host::Object* cube = doc.insert(std::make_unique<host::PolygonObject>("cube"));
    doc.setActive(cube);
    EXPECT_EQ(brush->state(handle), HOST_CMD_ENABLED);
    doc.setEditingMode(host::MODE_POINTS);
    EXPECT_EQ(brush->state(handle), HOST_CMD_ENABLED);
    doc.setEditingMode(host::MODE_OBJECT);
    EXPECT_EQ(brush->state(handle), 0);
    doc.setEditingMode(host::MODE_EDGES);
    doc.clearActive();
    host::Object* group = doc.insert(std::make_unique<host::Object>(host::OBJECT_GROUP, "group"));
    doc.setActive(group);
    EXPECT_EQ(brush->state(handle), 0);
    EXPECT_EQ(brush->state(nullptr), 0);
}

}  // namespace
