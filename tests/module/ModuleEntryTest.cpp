// The entry function's actions: init with its version and folder tests, nesting of init and end,
// the resource message and the other action codes.
#include <cstring>
#include <string>

#include "ModuleTestSupport.h"
#include "host/Resources.h"
#include "sources/ResourceHolder.h"

using namespace moduletest;

namespace {

class ModuleEntryTest : public ModuleFixture {};

TEST_F(ModuleEntryTest, HostOneVersionTooOldIsRefused) {
    const HostApi old = host::makeHostApi(7499);
    EXPECT_EQ(init(&old, kSourceFolder), -3);
    EXPECT_EQ(moduleState().startCount, 0);
}

TEST_F(ModuleEntryTest, HostAtTheOldestVersionIsAccepted) {
    const HostApi oldest = host::makeHostApi(7500);
    EXPECT_EQ(init(&oldest, kSourceFolder), 1);
    EXPECT_EQ(moduleApi(), &oldest);
    EXPECT_EQ(moduleState().hostVersion, 7500);
    EXPECT_STREQ(modulePath(), kSourceFolder.c_str());
    EXPECT_EQ(end(), 1);
    EXPECT_EQ(moduleState().startCount, 0);
}

TEST_F(ModuleEntryTest, MissingFolderOrTableIsRefused) {
    EXPECT_EQ(entry(HST_ACTION_INIT, const_cast<HostApi*>(host::hostApi()), nullptr, nullptr), -3);
    EXPECT_EQ(moduleState().startCount, 0);
    char folder[] = "/tmp";
    EXPECT_EQ(entry(HST_ACTION_INIT, nullptr, nullptr, folder), -3);
    EXPECT_EQ(moduleState().startCount, 0);
}

TEST_F(ModuleEntryTest, RefusedInitDoesNotCountAsStarted) {
    // A refused init must not leave the counter raised: the next init would otherwise answer 1
    // without storing the new table.
    const HostApi old = host::makeHostApi(7000);
    ASSERT_EQ(init(&old, "/nowhere"), -3);
    ASSERT_EQ(init(host::hostApi(), kSourceFolder), 1);
    EXPECT_EQ(moduleApi(), host::hostApi());
    EXPECT_STREQ(modulePath(), kSourceFolder.c_str());
    EXPECT_EQ(moduleState().startCount, 1);
}

TEST_F(ModuleEntryTest, FolderThatDoesNotFitThePathBufferIsRefused) {
    const std::string tooLong(MODULE_PATH_SIZE, 'a');
    EXPECT_EQ(init(host::hostApi(), tooLong), -3);
    EXPECT_EQ(moduleState().startCount, 0);

    const std::string longest(MODULE_PATH_SIZE - 1, 'b');
    ASSERT_EQ(init(host::hostApi(), longest), 1);
    EXPECT_EQ(std::strlen(modulePath()), static_cast<size_t>(MODULE_PATH_SIZE - 1));
    EXPECT_EQ(std::string(modulePath()), longest);
}

TEST_F(ModuleEntryTest, NestedInitKeepsTheFirstTableAndFolder) {
    startModule(kSourceFolder);
    const HostApi other = host::makeHostApi(9000);
    EXPECT_EQ(init(&other, "/some/other/folder"), 1);
    EXPECT_EQ(moduleState().startCount, 2);
    EXPECT_EQ(moduleApi(), host::hostApi());
    EXPECT_EQ(moduleState().hostVersion, HOST_INTERFACE_VERSION);
    EXPECT_STREQ(modulePath(), kSourceFolder.c_str());
}

TEST_F(ModuleEntryTest, OnlyTheLastEndFreesTheResources) {
    const size_t handles = host::liveHandles();
    startModule(kSourceFolder);
    ASSERT_EQ(init(host::hostApi(), kSourceFolder), 1);
    ASSERT_EQ(message(1), 1);
    ASSERT_TRUE(resourceHolder().loaded());
    EXPECT_GT(host::liveHandles(), handles);

    EXPECT_EQ(end(), 1);
    EXPECT_TRUE(resourceHolder().loaded());
    EXPECT_FALSE(resourceString(10117).empty());

    EXPECT_EQ(end(), 1);
    EXPECT_FALSE(resourceHolder().loaded());
    EXPECT_EQ(resourceHolder().folder(), nullptr);
    EXPECT_TRUE(resourceString(10117).empty());
    EXPECT_EQ(host::liveHandles(), handles);
}

TEST_F(ModuleEntryTest, EndWithoutInitChangesNothing) {
    EXPECT_EQ(end(), 1);
    EXPECT_EQ(moduleState().startCount, 0);
    startModule(kSourceFolder);
    EXPECT_EQ(moduleState().startCount, 1);
}

TEST_F(ModuleEntryTest, MessageCodes) {
    startModule(kSourceFolder);
    EXPECT_EQ(message(0), 1);
    EXPECT_EQ(message(1), 1);
    EXPECT_EQ(message(2), -1);
    EXPECT_EQ(message(-1), -1);
    EXPECT_EQ(message(1000), -1);
}

TEST_F(ModuleEntryTest, ResourceMessageOpensTheResourcesOnce) {
    startModule(kSourceFolder);
    ASSERT_EQ(message(1), 1);
    const size_t handles = host::liveHandles();
    HstResource* first = resourceHolder().handle();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(message(1), 1);
    EXPECT_EQ(resourceHolder().handle(), first);
    EXPECT_EQ(host::liveHandles(), handles);
}

TEST_F(ModuleEntryTest, ResourceMessageBeforeInitFails) {
    EXPECT_EQ(message(1), -1);
    EXPECT_FALSE(resourceHolder().loaded());
    EXPECT_EQ(resourceHolder().folder(), nullptr);
}

TEST_F(ModuleEntryTest, MissingResourcesFailTheMessageAndStartRegistersNothing) {
    TempFolder folder;  // no res/ inside
    startModule(folder.str());
    EXPECT_EQ(message(1), -1);
    // The failed attempt is not repeated.
    EXPECT_EQ(message(1), -1);
    EXPECT_TRUE(resourceString(10117).empty());
    EXPECT_EQ(start(), 1);
    EXPECT_TRUE(host::PluginRegistry::main().plugins().empty());
}

TEST_F(ModuleEntryTest, QueryAndUnknownActions) {
    EXPECT_EQ(entry(HST_ACTION_QUERY), 2);
    EXPECT_EQ(entry(5), -1);
    EXPECT_EQ(entry(0), -1);
    EXPECT_EQ(entry(7), -1);
    EXPECT_EQ(entry(-3), -1);
    EXPECT_EQ(moduleState().startCount, 0);
}

TEST_F(ModuleEntryTest, StartBeforeInitRegistersNothing) {
    EXPECT_EQ(start(), 0);
    EXPECT_TRUE(host::PluginRegistry::main().plugins().empty());
}

TEST_F(ModuleEntryTest, ResourceStringsComeFromTheModuleFolder) {
    TempFolder folder;
    folder.copyResources();
    startModule(folder.str());
    ASSERT_EQ(message(1), 1);
    const auto set = host::ResourceSet::open(folder.str());
    ASSERT_NE(set, nullptr);
    for (int32_t id : {10116, 10117, 10118, 10124, 10135, 10137}) {
        EXPECT_EQ(std::string(resourceString(id).chars()), set->string(id)) << id;
        EXPECT_FALSE(resourceString(id).empty()) << id;
    }
    EXPECT_TRUE(resourceString(4711).empty());
}

}  // namespace
