// The baking dialog as a person meets it through the host's headless dialogs: its defaults and
// limits, the memory estimate, the drop rules and cursors, the enabling of the bake, the file
// choosers, the format and bit-depth interplay, the icon areas, and whole bakes run on its thread
// (the timer with its spinner, the end message, stop, close, and a bake whose memory runs out).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BakeTestSupport.h"
#include "baking/BakeDialog.h"
#include "host/Dialogs.h"
#include "host/EventQueue.h"
#include "host/HostTable.h"
#include "host/Memory.h"
#include "host/Services.h"
#include "sources/HostContract.h"

namespace {

using baketest::flat;
using baketest::grid;
using moduletest::TempFolder;

// Strings of the module's resources that the dialog shows.
const char* const kAbout = "Vexlor 1.0 - polygon reduction and map baking";
const char* const kBake = "Bake";
const char* const kStop = "Stop";
const char* const kGathering = "Gathering the meshes";
const char* const kFinished = "Bake finished";
const char* const kFailed = "Bake failed or stopped";

host::Vec3 raised(double u, double v) { return {u, v, 0.1}; }
// A roof far wider than the unit square, 0.5 above it.
host::Vec3 roof(double u, double v) { return {-50.0 + 100.0 * u, -50.0 + 100.0 * v, 0.5}; }

class BakeDialogTest : public baketest::BakingFixture {
protected:
    void SetUp() override {
        BakingFixture::SetUp();
        host::EventQueue::main().pump();  // nothing of an earlier test may reach this dialog
        host::setActiveDocument(&doc);
        dialog = std::make_unique<BakeDialog>();
        ASSERT_EQ(dialog->open(OMBRIN_ID), 1);
    }
    void TearDown() override {
        dialog.reset();
        host::EventQueue::main().pump();
        host::setActiveDocument(nullptr);
        BakingFixture::TearDown();
    }

    HostDialogBase* d() { return dialog.get(); }
    std::string text(int32_t id) {
        std::string s;
        EXPECT_TRUE(dialogs.getString(d(), id, s)) << id;
        return s;
    }
    std::string fileName(int32_t id) {
        std::string s;
        EXPECT_TRUE(dialogs.getFilename(d(), id, s)) << id;
        return s;
    }
    int32_t number(int32_t id) {
        int32_t v = 0;
        EXPECT_TRUE(dialogs.getInt(d(), id, v)) << id;
        return v;
    }
    const host::Gadget& gadget(int32_t id) {
        const host::Gadget* g = dialogs.gadget(d(), id);
        EXPECT_NE(g, nullptr) << id;
        return *g;
    }
    bool usable(int32_t id) { return dialogs.usable(d(), id); }

    host::PolygonObject* add(std::unique_ptr<host::PolygonObject> object) {
        return static_cast<host::PolygonObject*>(doc.insert(std::move(object)));
    }
    host::DropResult drop(int32_t area, const std::vector<host::DragItem>& items, bool finished = true) {
        return dialogs.drop(d(), area, items, finished);
    }
    // A high plane 0.1 above a low plane with UVs, both dropped.
    void dropPlanes() {
        high = add(grid("high", 4, 4, raised));
        low = add(grid("low", 4, 4, flat));
        ASSERT_EQ(drop(IDC_BAKE_HIGH_DROP, {host::DragItem::object(high)}).cursor, BAKE_CURSOR_ACCEPTED);
        ASSERT_EQ(drop(IDC_BAKE_LOW_DROP, {host::DragItem::object(low)}).cursor, BAKE_CURSOR_ACCEPTED);
    }
    // Presses a choose button and answers the chooser with `path`.
    void chooseFile(int32_t button, const std::string& path) {
        dialogs.queueFileAnswer(path);
        ASSERT_TRUE(dialogs.press(d(), button)) << button;
    }
    bool waitForEnd(int64_t ms = 120000) {
        return host::EventQueue::main().pumpUntil([&] { return !dialog->baking(); }, ms);
    }
    // Waits (without pumping events) until the bake shows `what` in its status text.
    bool waitForStatus(const std::function<bool(const std::string&)>& what, int64_t ms = 60000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            if (what(dialog->thread().settings.statusText.text().chars())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    host::DialogHost& dialogs = host::DialogHost::main();
    host::Document doc;
    std::unique_ptr<BakeDialog> dialog;
    host::PolygonObject* high = nullptr;
    host::PolygonObject* low = nullptr;
    TempFolder folder;
};

// ---------------------------------------------------------------------------------------------
// Opening

TEST_F(BakeDialogTest, OpensWithEveryGadgetAtItsDefaultAndRange) {
    EXPECT_EQ(dialogs.layoutIdOf(d()), DLG_BAKE);
    EXPECT_EQ(dialogs.pluginIdOf(d()), OMBRIN_ID);
    EXPECT_EQ(dialogs.timerPeriod(d()), 1000);

    for (int32_t id : {IDC_BAKE_WIDTH, IDC_BAKE_HEIGHT}) {
        const host::Gadget& g = gadget(id);
        EXPECT_EQ(g.number, 600);
        EXPECT_TRUE(g.limited);
        EXPECT_EQ(g.min, 10);
        EXPECT_EQ(g.max, 6400);
        EXPECT_EQ(g.step, 1);
    }
    const host::Gadget& strength = gadget(IDC_BAKE_BUMP_STRENGTH);
    EXPECT_DOUBLE_EQ(strength.number, 1.0);
    EXPECT_TRUE(strength.isPercent());
    EXPECT_EQ(strength.valueText(), "100 %");
    EXPECT_DOUBLE_EQ(strength.min, -9e16);
    EXPECT_DOUBLE_EQ(strength.max, 9e16);
    EXPECT_DOUBLE_EQ(strength.step, 0.01);
    const host::Gadget& exponent = gadget(IDC_BAKE_OCCLUSION_EXPONENT);
    EXPECT_DOUBLE_EQ(exponent.number, 1.0);
    EXPECT_DOUBLE_EQ(exponent.min, 1.0);
    EXPECT_DOUBLE_EQ(exponent.max, 9e18);
    EXPECT_DOUBLE_EQ(exponent.step, 1.0);

    EXPECT_EQ(number(IDC_BAKE_SUPERSAMPLING), 10044);
    EXPECT_EQ(number(IDC_BAKE_FORMAT), IDC_BAKE_FORMAT_TIF);
    EXPECT_EQ(number(IDC_BAKE_BITS), IDC_BAKE_BITS_8);
    EXPECT_EQ(number(IDC_BAKE_OCCLUSION_GRID), 10070);
    EXPECT_EQ(number(IDC_BAKE_OCCLUDERS), 10082);
    EXPECT_EQ(number(IDC_BAKE_HALF_SPACE), 10087);
    EXPECT_TRUE(gadget(IDC_BAKE_NORMAL_ON).flag);
    EXPECT_FALSE(gadget(IDC_BAKE_OCCLUSION_ON).flag);
    EXPECT_TRUE(gadget(IDC_BAKE_OCCLUSION_RANDOM).flag);
    EXPECT_FALSE(gadget(IDC_BAKE_DISPLACEMENT_ON).flag);
    for (int32_t id : {IDC_BAKE_BUMP_FILE, IDC_BAKE_NORMAL_FILE, IDC_BAKE_OCCLUSION_FILE, IDC_BAKE_DISPLACEMENT_FILE})
        EXPECT_EQ(fileName(id), "") << id;
    EXPECT_EQ(text(IDC_BAKE_STATUS), "");
    EXPECT_EQ(text(IDC_BAKE_ABOUT), kAbout);
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "12.7 MB");
    EXPECT_EQ(gadget(IDC_BAKE_START).label, kBake);

    // Enabling without objects: only the normal map's group is on; there is nothing to bake. The bit
    // depth can be chosen; it follows the format.
    EXPECT_TRUE(usable(IDC_BAKE_BITS));
    for (int32_t id : {IDC_BAKE_BUMP_CHOOSE, IDC_BAKE_BUMP_FILE, IDC_BAKE_BUMP_STRENGTH, IDC_BAKE_OCCLUSION_GROUP,
                       IDC_BAKE_DISPLACEMENT_GROUP, IDC_BAKE_START})
        EXPECT_FALSE(usable(id)) << id;
    for (int32_t id : {IDC_BAKE_SETTINGS, IDC_BAKE_NORMAL_GROUP, IDC_BAKE_WIDTH, IDC_BAKE_HIGH_DROP})
        EXPECT_TRUE(usable(id)) << id;
}

TEST_F(BakeDialogTest, IconAreasDrawTheirCellOfThePicture) {
    host::Bitmap picture;
    std::string error;
    ASSERT_TRUE(picture.load(moduletest::kSourceFolder + "/res/pic.tif", &error)) << error;
    ASSERT_GE(picture.width(), 48);
    const std::pair<int32_t, int32_t> areas[] = {{IDC_BAKE_HIGH_ICON, 0},
                                                 {IDC_BAKE_LOW_ICON, 0},
                                                 {IDC_BAKE_HIGH_TAG_ICON, 24},
                                                 {IDC_BAKE_LOW_TAG_ICON, 24}};
    for (const auto& [id, cellX] : areas) {
        host::Rect rect;
        ASSERT_TRUE(dialogs.gadgetRect(d(), id, rect));
        EXPECT_EQ(rect.w, 24);
        EXPECT_EQ(rect.h, 24);
        dialogs.renderUserArea(d(), id);  // drawn twice: a redraw gives the same picture
        const host::Bitmap canvas = dialogs.renderUserArea(d(), id);
        ASSERT_EQ(canvas.width(), 24);
        ASSERT_EQ(canvas.height(), 24);
        int differing = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x)
                for (int k = 0; k < 3; ++k) {
                    // The cell blended over the area's background by the picture's alpha.
                    int expected = picture.get8(cellX + x, y, picture.channels() == 1 ? 0 : k);
                    if (picture.channels() == 4) {
                        const int a = picture.get8(cellX + x, y, 3);
                        expected = (expected * a + host::kAreaBackground[k] * (255 - a) + 127) / 255;
                    }
                    if (expected != host::kAreaBackground[k]) ++differing;
                    ASSERT_EQ(canvas.get8(x, y, k), expected) << id << " at " << x << ", " << y;
                }
        EXPECT_GT(differing, 20) << "the cell of " << id << " shows nothing";
    }
}

// ---------------------------------------------------------------------------------------------
// Memory estimate and sizes

TEST_F(BakeDialogTest, MemoryEstimateTextSteppingThroughTheUnits) {
    EXPECT_EQ(bakeMemoryBytes(600, 600, false, false), 12600000);
    EXPECT_EQ(bakeMemoryBytes(600, 600, true, false), 15480000);
    EXPECT_EQ(bakeMemoryBytes(600, 600, true, true), 18360000);
    EXPECT_EQ(bakeMemoryBytes(6400, 6400, true, true), 2088960000LL);
    EXPECT_EQ(std::string(bakeMemoryText(12600000).chars()), "12.7 MB");
    EXPECT_EQ(std::string(bakeMemoryText(999).chars()), "999.0 B");
    EXPECT_EQ(std::string(bakeMemoryText(1000).chars()), "1.1 kB");  // 1000 * 0.001 + 0.1
    EXPECT_EQ(std::string(bakeMemoryText(3500).chars()), "3.6 kB");
    EXPECT_EQ(std::string(bakeMemoryText(2088960000LL).chars()), "2.2 GB");
    // The units end at GB.
    EXPECT_EQ(std::string(bakeMemoryText(1000000000000LL).chars()), "1000.1 GB");
}

TEST_F(BakeDialogTest, MemoryEstimateFollowsSizeAndMaps) {
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "12.7 MB");
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "15.6 MB");  // 15,480,000 bytes
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_DISPLACEMENT_ON, true));
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "18.5 MB");  // 18,360,000 bytes
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, false));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_DISPLACEMENT_ON, false));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 300));
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "6.4 MB");  // 6,300,000 bytes
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_HEIGHT, 20));
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "210.1 kB");  // 300 x 20 x 35 bytes
}

TEST_F(BakeDialogTest, WidthAndHeightOutsideTheRangeAreNotTaken) {
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 5));
    EXPECT_EQ(number(IDC_BAKE_WIDTH), 10);
    ASSERT_TRUE(dialogs.enter(d(), IDC_BAKE_HEIGHT, "9000"));
    EXPECT_EQ(number(IDC_BAKE_HEIGHT), 6400);
    // The dialog read the clamped values: 10 x 6400 x 35 bytes.
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "2.3 MB");
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 6401));
    EXPECT_EQ(number(IDC_BAKE_WIDTH), 6400);
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "1.5 GB");  // 1,433,600,000 bytes
}

// ---------------------------------------------------------------------------------------------
// Drops

TEST_F(BakeDialogTest, DropCursorsTellWhereAndWhetherADropIsTaken) {
    host::PolygonObject* withUvw = add(grid("with uvw", 2, 2, flat));
    host::PolygonObject* bare = add(grid("bare", 2, 2, flat, false));

    // Over neither drop area.
    host::DropResult r = drop(IDC_BAKE_WIDTH, {host::DragItem::object(withUvw)});
    EXPECT_TRUE(r.delivered);
    EXPECT_EQ(r.cursor, BAKE_CURSOR_NONE);
    // Only rows strictly inside an area count: its top edge does not.
    host::Rect area;
    ASSERT_TRUE(dialogs.gadgetRect(d(), IDC_BAKE_HIGH_DROP, area));
    EXPECT_EQ(dialogs.dropAt(d(), area.x + 4, area.y, {host::DragItem::object(bare)}, false).cursor,
              BAKE_CURSOR_NONE);
    EXPECT_EQ(dialogs.dropAt(d(), area.x + 4, area.y + 1, {host::DragItem::object(bare)}, false).cursor,
              BAKE_CURSOR_ACCEPTED);

    // While dragging, only the cursor changes.
    EXPECT_EQ(drop(IDC_BAKE_LOW_DROP, {host::DragItem::object(withUvw)}, false).cursor, BAKE_CURSOR_ACCEPTED);
    EXPECT_EQ(text(IDC_BAKE_LOW_NAME), "");
    EXPECT_EQ(dialog->lowObject(), nullptr);

    // Anything but exactly one polygon object or UVW tag is refused.
    EXPECT_EQ(drop(IDC_BAKE_HIGH_DROP, {host::DragItem::object(withUvw), host::DragItem::object(bare)}).cursor,
              BAKE_CURSOR_REFUSED);
    EXPECT_EQ(drop(IDC_BAKE_HIGH_DROP, {}).cursor, BAKE_CURSOR_REFUSED);
    host::Object* group = doc.insert(std::make_unique<host::Object>(host::OBJECT_GROUP, "group"));
    EXPECT_EQ(drop(IDC_BAKE_HIGH_DROP, {host::DragItem::object(group)}).cursor, BAKE_CURSOR_REFUSED);
    host::Tag* selection = withUvw->addTag(std::make_unique<host::SelectionTag>(host::TAG_POLYGON_SELECTION, "sel"));
    EXPECT_EQ(drop(IDC_BAKE_LOW_DROP, {host::DragItem::tag(selection)}).cursor, BAKE_CURSOR_REFUSED);
    EXPECT_EQ(dialog->highObject(), nullptr);
    EXPECT_EQ(dialog->lowObject(), nullptr);
    EXPECT_EQ(text(IDC_BAKE_HIGH_NAME), "");
}

TEST_F(BakeDialogTest, LowAreaRefusesAPolygonObjectWithoutUvw) {
    host::PolygonObject* bare = add(grid("bare", 2, 2, flat, false));
    const host::DropResult r = drop(IDC_BAKE_LOW_DROP, {host::DragItem::object(bare)});
    EXPECT_EQ(r.cursor, BAKE_CURSOR_REFUSED);
    EXPECT_EQ(dialog->lowObject(), nullptr);
    EXPECT_EQ(text(IDC_BAKE_LOW_NAME), "");
    EXPECT_EQ(text(IDC_BAKE_LOW_TAG), "");
    // The same object is a fine high object: it needs no UVs.
    EXPECT_EQ(drop(IDC_BAKE_HIGH_DROP, {host::DragItem::object(bare)}).cursor, BAKE_CURSOR_ACCEPTED);
    EXPECT_EQ(dialog->highObject(), baketest::handle(bare));
    EXPECT_EQ(dialog->highUvw(), nullptr);
    EXPECT_EQ(text(IDC_BAKE_HIGH_NAME), "bare");
    EXPECT_EQ(text(IDC_BAKE_HIGH_TAG), "");
    chooseFile(IDC_BAKE_NORMAL_CHOOSE, folder.str() + "/normal.tif");
    EXPECT_FALSE(usable(IDC_BAKE_START)) << "no low object yet";
}

TEST_F(BakeDialogTest, TagsAreNumberedAmongTagsOfTheirType) {
    host::PolygonObject* object = add(grid("two uvs", 2, 2, flat));
    host::Tag* first = object->tag(host::TAG_UVW);
    object->addTag(std::make_unique<host::SelectionTag>(host::TAG_POLYGON_SELECTION, "a"));
    auto second = std::make_unique<host::UVWTag>("second", object->polygonCount());
    host::Tag* secondTag = object->addTag(std::move(second));
    object->addTag(std::make_unique<host::SelectionTag>(host::TAG_POINT_SELECTION, "b"));

    // An object dropped on the low area brings its first UVW tag.
    ASSERT_EQ(drop(IDC_BAKE_LOW_DROP, {host::DragItem::object(object)}).cursor, BAKE_CURSOR_ACCEPTED);
    EXPECT_EQ(dialog->lowUvw(), host::toHandle(first));
    EXPECT_EQ(text(IDC_BAKE_LOW_NAME), "two uvs");
    EXPECT_EQ(text(IDC_BAKE_LOW_TAG), "UVWTag 1");
    // The second UVW tag is number 2 although a selection tag lies between them.
    ASSERT_EQ(drop(IDC_BAKE_LOW_DROP, {host::DragItem::tag(secondTag)}).cursor, BAKE_CURSOR_ACCEPTED);
    EXPECT_EQ(dialog->lowUvw(), host::toHandle(secondTag));
    EXPECT_EQ(dialog->lowObject(), baketest::handle(object));
    EXPECT_EQ(text(IDC_BAKE_LOW_TAG), "UVWTag 2");
    ASSERT_EQ(drop(IDC_BAKE_HIGH_DROP, {host::DragItem::tag(secondTag)}).cursor, BAKE_CURSOR_ACCEPTED);
    EXPECT_EQ(text(IDC_BAKE_HIGH_TAG), "UVWTag 2");
}

TEST_F(BakeDialogTest, HighObjectGivenByItsUvwTagEnablesTheBumpGadgets) {
    host::PolygonObject* object = add(grid("detailed", 2, 2, flat));
    ASSERT_EQ(drop(IDC_BAKE_HIGH_DROP, {host::DragItem::tag(object->tag(host::TAG_UVW))}).cursor,
              BAKE_CURSOR_ACCEPTED);
    EXPECT_EQ(dialog->highObject(), baketest::handle(object));
    EXPECT_EQ(dialog->highUvw(), baketest::uvwOf(object));
    EXPECT_EQ(text(IDC_BAKE_HIGH_NAME), "detailed");
    EXPECT_EQ(text(IDC_BAKE_HIGH_TAG), "UVWTag 1");
    for (int32_t id : {IDC_BAKE_BUMP_CHOOSE, IDC_BAKE_BUMP_FILE, IDC_BAKE_BUMP_STRENGTH}) EXPECT_TRUE(usable(id)) << id;

    dialogs.queueFileAnswer("/images/bumps.tif");
    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_BUMP_CHOOSE));
    EXPECT_FALSE(dialogs.fileRequests().back().forSave);
    EXPECT_EQ(fileName(IDC_BAKE_BUMP_FILE), "/images/bumps.tif");
    ASSERT_TRUE(dialogs.enter(d(), IDC_BAKE_BUMP_STRENGTH, "250 %"));
    EXPECT_DOUBLE_EQ(gadget(IDC_BAKE_BUMP_STRENGTH).number, 2.5);

    // The object itself, dropped again, comes without a tag: no bump then.
    ASSERT_EQ(drop(IDC_BAKE_HIGH_DROP, {host::DragItem::object(object)}).cursor, BAKE_CURSOR_ACCEPTED);
    EXPECT_EQ(dialog->highUvw(), nullptr);
    EXPECT_EQ(text(IDC_BAKE_HIGH_TAG), "");
    for (int32_t id : {IDC_BAKE_BUMP_CHOOSE, IDC_BAKE_BUMP_FILE, IDC_BAKE_BUMP_STRENGTH})
        EXPECT_FALSE(usable(id)) << id;
}

// ---------------------------------------------------------------------------------------------
// Enabling and file names

TEST_F(BakeDialogTest, BakeNeedsBothObjectsAMapAndEveryChosenMapsFile) {
    EXPECT_FALSE(usable(IDC_BAKE_START));
    dropPlanes();
    EXPECT_FALSE(usable(IDC_BAKE_START)) << "the normal map is on but has no file";
    chooseFile(IDC_BAKE_NORMAL_CHOOSE, folder.str() + "/normal.tif");
    EXPECT_TRUE(usable(IDC_BAKE_START));
    EXPECT_TRUE(dialog->bakePossible());

    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
    EXPECT_TRUE(usable(IDC_BAKE_OCCLUSION_GROUP));
    EXPECT_TRUE(usable(IDC_BAKE_OCCLUSION_GRID));
    EXPECT_FALSE(usable(IDC_BAKE_START)) << "occlusion without a file";
    chooseFile(IDC_BAKE_OCCLUSION_CHOOSE, folder.str() + "/ao.tif");
    EXPECT_TRUE(usable(IDC_BAKE_START));

    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_DISPLACEMENT_ON, true));
    EXPECT_FALSE(usable(IDC_BAKE_START));
    ASSERT_TRUE(dialogs.enter(d(), IDC_BAKE_DISPLACEMENT_FILE, folder.str() + "/disp"));
    EXPECT_EQ(fileName(IDC_BAKE_DISPLACEMENT_FILE), folder.str() + "/disp.tif");
    EXPECT_TRUE(usable(IDC_BAKE_START));
    // Typing the name away disables the bake again.
    ASSERT_TRUE(dialogs.enter(d(), IDC_BAKE_DISPLACEMENT_FILE, ""));
    EXPECT_FALSE(usable(IDC_BAKE_START));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_DISPLACEMENT_ON, false));
    EXPECT_FALSE(usable(IDC_BAKE_DISPLACEMENT_GROUP));
    EXPECT_TRUE(usable(IDC_BAKE_START));
    EXPECT_EQ(gadget(IDC_BAKE_START).label, kBake);
}

TEST_F(BakeDialogTest, AllMapsOffKeepsTheBakeDisabled) {
    dropPlanes();
    chooseFile(IDC_BAKE_NORMAL_CHOOSE, folder.str() + "/normal.tif");
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
    chooseFile(IDC_BAKE_OCCLUSION_CHOOSE, folder.str() + "/ao.tif");
    ASSERT_TRUE(usable(IDC_BAKE_START));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_NORMAL_ON, false));
    EXPECT_FALSE(usable(IDC_BAKE_NORMAL_GROUP));
    EXPECT_TRUE(usable(IDC_BAKE_START));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, false));
    EXPECT_FALSE(dialog->bakePossible());
    EXPECT_FALSE(usable(IDC_BAKE_START));
    EXPECT_FALSE(dialogs.press(d(), IDC_BAKE_START));
    EXPECT_FALSE(dialog->baking());
}

TEST_F(BakeDialogTest, ChoosersProposeNamesInTheDocumentsFolderAndKeepTheFormatsSuffix) {
    doc.path = "/work/scenes/robot.obj";  // the document's file: proposals go into its folder
    const std::pair<int32_t, const char*> choosers[] = {{IDC_BAKE_NORMAL_CHOOSE, "diffmap"},
                                                        {IDC_BAKE_OCCLUSION_CHOOSE, "gimap"},
                                                        {IDC_BAKE_DISPLACEMENT_CHOOSE, "dispmap"}};
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_DISPLACEMENT_ON, true));
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_TGA));
    for (const auto& [button, proposal] : choosers) {
        dialogs.queueFileAnswer("cancel");
        ASSERT_TRUE(dialogs.press(d(), button));
        const host::FileRequest& request = dialogs.fileRequests().back();
        EXPECT_TRUE(request.forSave);
        EXPECT_EQ(request.proposed, std::string("/work/scenes/") + proposal + ".tga");
    }
    // Cancelled on an empty name: the name stays empty.
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "");
    EXPECT_EQ(fileName(IDC_BAKE_OCCLUSION_FILE), "");

    // A chosen name gets the format's suffix; a later cancel keeps it and proposes it again.
    dialogs.queueFileAnswer("/maps/normal.png");
    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_NORMAL_CHOOSE));
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/normal.tga");
    dialogs.queueFileAnswer("cancel");
    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_NORMAL_CHOOSE));
    EXPECT_EQ(dialogs.fileRequests().back().proposed, "/maps/normal.tga");
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/normal.tga");
    // Typed names get the suffix as well.
    ASSERT_TRUE(dialogs.enter(d(), IDC_BAKE_OCCLUSION_FILE, "/maps/ao.tif"));
    EXPECT_EQ(fileName(IDC_BAKE_OCCLUSION_FILE), "/maps/ao.tga");
}

TEST_F(BakeDialogTest, FormatAndBitDepthFollowEachOther) {
    ASSERT_TRUE(dialogs.enter(d(), IDC_BAKE_NORMAL_FILE, "/maps/normal"));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
    ASSERT_TRUE(dialogs.enter(d(), IDC_BAKE_OCCLUSION_FILE, "/maps/ao.bmp"));
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/normal.tif");
    EXPECT_EQ(fileName(IDC_BAKE_OCCLUSION_FILE), "/maps/ao.tif");

    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_BITS, IDC_BAKE_BITS_16));
    EXPECT_EQ(number(IDC_BAKE_FORMAT), IDC_BAKE_FORMAT_TIF);
    EXPECT_EQ(number(IDC_BAKE_BITS), IDC_BAKE_BITS_16);

    // BMP (and TGA) hold 8 bits only: the depth goes back to 8, the names follow the format, and an
    // empty name stays empty.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_BMP));
    EXPECT_EQ(number(IDC_BAKE_BITS), IDC_BAKE_BITS_8);
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/normal.bmp");
    EXPECT_EQ(fileName(IDC_BAKE_OCCLUSION_FILE), "/maps/ao.bmp");
    EXPECT_EQ(fileName(IDC_BAKE_DISPLACEMENT_FILE), "");

    // 16 bits force TIFF.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_BITS, IDC_BAKE_BITS_16));
    EXPECT_EQ(number(IDC_BAKE_FORMAT), IDC_BAKE_FORMAT_TIF);
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/normal.tif");
    EXPECT_EQ(fileName(IDC_BAKE_OCCLUSION_FILE), "/maps/ao.tif");

    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_TGA));
    EXPECT_EQ(number(IDC_BAKE_BITS), IDC_BAKE_BITS_8);
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/normal.tga");
    // 8 bits leave the format alone.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_BITS, IDC_BAKE_BITS_8));
    EXPECT_EQ(number(IDC_BAKE_FORMAT), IDC_BAKE_FORMAT_TGA);
    // Back to TIFF keeps the depth as it is.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_TIF));
    EXPECT_EQ(number(IDC_BAKE_BITS), IDC_BAKE_BITS_8);
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/normal.tif");

    // PNG holds 8 and 16 bits: a 16-bit PNG stays PNG.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_PNG));
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/normal.png");
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_BITS, IDC_BAKE_BITS_16));
    EXPECT_EQ(number(IDC_BAKE_FORMAT), IDC_BAKE_FORMAT_PNG);
    // OpenEXR holds half (16) and float (32): 16 bits stay, 8 bits cannot be EXR.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_EXR));
    EXPECT_EQ(number(IDC_BAKE_BITS), IDC_BAKE_BITS_16);
    EXPECT_EQ(fileName(IDC_BAKE_OCCLUSION_FILE), "/maps/ao.exr");
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_BITS, IDC_BAKE_BITS_8));
    EXPECT_EQ(number(IDC_BAKE_FORMAT), IDC_BAKE_FORMAT_TIF);
    // 32 bits are float: they take OpenEXR, and leaving OpenEXR for BMP goes back to 8.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_BITS, IDC_BAKE_BITS_32));
    EXPECT_EQ(number(IDC_BAKE_FORMAT), IDC_BAKE_FORMAT_EXR);
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_BMP));
    EXPECT_EQ(number(IDC_BAKE_BITS), IDC_BAKE_BITS_8);
    // A TIFF at 8 bits chosen into OpenEXR becomes float.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_EXR));
    EXPECT_EQ(number(IDC_BAKE_BITS), IDC_BAKE_BITS_32);
}

TEST_F(BakeDialogTest, SettingsAreKeptWhenTheDialogOpensAgain) {
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 256));
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_BMP));
    ASSERT_TRUE(dialogs.enter(d(), IDC_BAKE_NORMAL_FILE, "/maps/n"));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_EXPONENT, 3.0));
    EXPECT_EQ(number(IDC_BAKE_NORMAL_Y), IDC_BAKE_NORMAL_Y_UP);  // green up unless chosen
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_NORMAL_Y, IDC_BAKE_NORMAL_Y_DOWN));
    host::PolygonObject* object = add(grid("plane", 2, 2, flat));
    ASSERT_EQ(drop(IDC_BAKE_LOW_DROP, {host::DragItem::object(object)}).cursor, BAKE_CURSOR_ACCEPTED);
    ASSERT_TRUE(dialogs.close(d()));
    ASSERT_EQ(dialog->open(OMBRIN_ID), 1);
    EXPECT_EQ(number(IDC_BAKE_WIDTH), 256);
    EXPECT_EQ(number(IDC_BAKE_FORMAT), IDC_BAKE_FORMAT_BMP);
    EXPECT_EQ(fileName(IDC_BAKE_NORMAL_FILE), "/maps/n.bmp");
    EXPECT_TRUE(gadget(IDC_BAKE_OCCLUSION_ON).flag);
    EXPECT_DOUBLE_EQ(gadget(IDC_BAKE_OCCLUSION_EXPONENT).number, 3.0);
    EXPECT_EQ(number(IDC_BAKE_NORMAL_Y), IDC_BAKE_NORMAL_Y_DOWN);
    EXPECT_EQ(text(IDC_BAKE_MEMORY), "6.7 MB");  // 256 x 600 x 43 = 6,604,800 bytes
    // The dropped objects are forgotten.
    EXPECT_EQ(dialog->lowObject(), nullptr);
    EXPECT_EQ(text(IDC_BAKE_LOW_NAME), "");
}

// ---------------------------------------------------------------------------------------------
// Bakes on the dialog's thread

// Holds the module's image loads until the test opens the gate: the module's host table is swapped
// for a copy whose bitmap load waits first. (Inputs are never FIFOs, which are refused at once, so a
// pipe cannot hold a bake any more.) The gate opens and the table comes back however the test ends,
// once the bake has stopped.
class ImageLoadGate {
public:
    explicit ImageLoadGate(BakeThread& thread) : thread_(thread), saved_(moduleState().api) {
        table_ = *saved_;
        original_ = table_.bmpLoad;
        table_.bmpLoad = &ImageLoadGate::load;
        current_ = this;
        moduleState().api = &table_;
    }
    ~ImageLoadGate() {
        open();
        for (int i = 0; i < 500 && thread_.isRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        moduleState().api = saved_;
        current_ = nullptr;
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

private:
    static int32_t load(HstBitmap* bitmap, const HstFilename* path) {
        ImageLoadGate* gate = current_;
        {
            std::unique_lock<std::mutex> lock(gate->mutex_);
            gate->opened_.wait(lock, [&] { return gate->open_; });
        }
        return gate->original_(bitmap, path);
    }

    static inline ImageLoadGate* current_ = nullptr;
    BakeThread& thread_;
    const HostApi* saved_;
    HostApi table_{};
    decltype(HostApi::bmpLoad) original_ = nullptr;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

TEST_F(BakeDialogTest, TimerShowsTheStatusWithTheSpinnerWhileABakeRuns) {
    high = add(grid("high", 4, 4, raised));
    low = add(grid("low", 4, 4, flat));
    ASSERT_EQ(drop(IDC_BAKE_HIGH_DROP, {host::DragItem::tag(high->tag(host::TAG_UVW))}).cursor,
              BAKE_CURSOR_ACCEPTED);
    ASSERT_EQ(drop(IDC_BAKE_LOW_DROP, {host::DragItem::object(low)}).cursor, BAKE_CURSOR_ACCEPTED);
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 16));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_HEIGHT, 16));
    const std::string normalPath = folder.str() + "/normal.tif";
    chooseFile(IDC_BAKE_NORMAL_CHOOSE, normalPath);
    // The bump image's load waits at a gate: the bake stays in its gathering stage, with the spinner
    // on, until the test opens it.
    host::Bitmap grey;
    ASSERT_TRUE(grey.init(8, 8, 1, 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) grey.setPixel(x, y, 128, 128, 128);
    const std::string greyPath = folder.str() + "/grey.tif";
    ASSERT_TRUE(grey.save(greyPath));
    chooseFile(IDC_BAKE_BUMP_CHOOSE, greyPath);

    // No bake yet: the timer leaves the status line alone.
    const int64_t t0 = host::clockMs() + 1000;
    EXPECT_EQ(dialogs.tick(t0), 1);
    EXPECT_EQ(text(IDC_BAKE_STATUS), "");

    ImageLoadGate gate(dialog->thread());
    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_START));
    ASSERT_TRUE(dialog->baking());
    EXPECT_EQ(gadget(IDC_BAKE_START).label, kStop);
    EXPECT_TRUE(usable(IDC_BAKE_START));
    EXPECT_FALSE(usable(IDC_BAKE_SETTINGS));
    EXPECT_FALSE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 32));
    EXPECT_FALSE(drop(IDC_BAKE_LOW_DROP, {host::DragItem::object(high)}).delivered);

    ASSERT_TRUE(waitForStatus([](const std::string& s) { return s == kGathering; }));
    ASSERT_EQ(dialog->thread().settings.spinner.load(), 1);
    const char* const spins[] = {" -", " \\", " |", " /", " -"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(dialogs.tick(t0 + 1000 * (i + 1)), 1);
        EXPECT_EQ(text(IDC_BAKE_STATUS), std::string(kGathering) + spins[i]) << i;
    }

    // The image arrives; the bake goes on to its end, whose message the dialog gets.
    gate.open();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(text(IDC_BAKE_STATUS), kFinished);
    EXPECT_EQ(dialog->thread().lastResult(), BAKE_END_DONE);
    EXPECT_EQ(gadget(IDC_BAKE_START).label, kBake);
    EXPECT_TRUE(usable(IDC_BAKE_SETTINGS));
    EXPECT_TRUE(usable(IDC_BAKE_START));
    // A flat bump image bends no normal: the map is the flat tangent-space normal.
    const host::Bitmap map = baketest::readImage(normalPath);
    ASSERT_EQ(map.width(), 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(map.get8(x, y, 0), 127) << x << ", " << y;
            ASSERT_EQ(map.get8(x, y, 1), 127) << x << ", " << y;
            ASSERT_EQ(map.get8(x, y, 2), 255) << x << ", " << y;
        }
    // The bake is over: the timer leaves the final text alone.
    EXPECT_EQ(dialogs.tick(t0 + 10000), 1);
    EXPECT_EQ(text(IDC_BAKE_STATUS), kFinished);
}

TEST_F(BakeDialogTest, FullBakeWritesTheMapsWithEverySettingHandedOver) {
    dropPlanes();
    host::PolygonObject* cover = add(grid("roof", 1, 1, roof, false));
    (void)cover;
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 32));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_HEIGHT, 16));
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_SUPERSAMPLING, 10043));
    const std::string normalPath = folder.str() + "/normal.tif", aoPath = folder.str() + "/ao.tif";
    chooseFile(IDC_BAKE_NORMAL_CHOOSE, normalPath);
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
    chooseFile(IDC_BAKE_OCCLUSION_CHOOSE, aoPath);
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_OCCLUSION_GRID, 10069));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_RANDOM, false));
    // The whole document occludes: the roof above the planes closes every direction.
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_OCCLUDERS, 10084));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_EXPONENT, 2.0));

    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_START));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(text(IDC_BAKE_STATUS), kFinished);
    EXPECT_EQ(dialog->thread().lastResult(), BAKE_END_DONE);

    const BakeSettings& s = dialog->thread().settings;
    EXPECT_EQ(s.width, 32);
    EXPECT_EQ(s.height, 16);
    EXPECT_EQ(s.supersampling, 1);
    EXPECT_EQ(s.fileFormat, BAKE_FORMAT_TIFF);
    EXPECT_EQ(s.bitDepth, 8);
    EXPECT_EQ(s.normalOn, 1);
    EXPECT_EQ(std::string(s.normalFile.chars()), normalPath);
    EXPECT_EQ(s.occlusionOn, 1);
    EXPECT_EQ(std::string(s.occlusionFile.chars()), aoPath);
    EXPECT_EQ(s.occlusionGrid, 2);
    EXPECT_EQ(s.randomDirections, 0);
    EXPECT_EQ(s.occluderMode, BAKE_OCCLUDERS_DOCUMENT);
    EXPECT_FLOAT_EQ(s.occlusionExponent, 2.0f);
    EXPECT_EQ(s.blockedHalfSpace, BAKE_BLOCK_NONE);
    EXPECT_EQ(s.displacementOn, 0);
    EXPECT_EQ(s.highObject, baketest::handle(high));
    EXPECT_EQ(s.highUvw, nullptr);
    EXPECT_EQ(s.lowObject, baketest::handle(low));
    EXPECT_EQ(s.lowUvw, baketest::uvwOf(low));
    EXPECT_EQ(s.document, host::toHandle(&doc));
    EXPECT_FLOAT_EQ(s.bumpStrength, 1.0f);
    EXPECT_TRUE(s.bumpFile.empty());

    const host::Bitmap normal = baketest::readImage(normalPath);
    const host::Bitmap ao = baketest::readImage(aoPath);
    ASSERT_EQ(normal.width(), 32);
    ASSERT_EQ(normal.height(), 16);
    ASSERT_EQ(ao.width(), 32);
    ASSERT_EQ(ao.height(), 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            ASSERT_EQ(normal.get8(x, y, 0), 127) << x << ", " << y;
            ASSERT_EQ(normal.get8(x, y, 1), 127) << x << ", " << y;
            ASSERT_EQ(normal.get8(x, y, 2), 255) << x << ", " << y;
            ASSERT_EQ(ao.get8(x, y, 0), 0) << x << ", " << y;
        }
}

TEST_F(BakeDialogTest, OcclusionOfTheHighObjectAloneIgnoresTheRestOfTheScene) {
    dropPlanes();
    add(grid("roof", 1, 1, roof, false));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 16));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_HEIGHT, 16));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_NORMAL_ON, false));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
    const std::string aoPath = folder.str() + "/ao.bmp";
    ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_BMP));
    chooseFile(IDC_BAKE_OCCLUSION_CHOOSE, aoPath);
    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_START));
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(text(IDC_BAKE_STATUS), kFinished);
    EXPECT_EQ(dialog->thread().settings.fileFormat, BAKE_FORMAT_BMP);
    EXPECT_EQ(dialog->thread().settings.normalOn, 0);
    const host::Bitmap ao = baketest::readImage(aoPath);
    ASSERT_EQ(ao.width(), 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(ao.get8(x, y, 0), 255) << x << ", " << y;
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "normal.tif"));
}

// A bake big enough to be stopped while it runs: 600 x 600 texels of 65 samples each.
class BakeDialogStopTest : public BakeDialogTest {
protected:
    void startLongBake() {
        dropPlanes();
        ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_SUPERSAMPLING, 10050));
        ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_FORMAT, IDC_BAKE_FORMAT_TGA));
        chooseFile(IDC_BAKE_NORMAL_CHOOSE, folder.str() + "/normal.tga");
        ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_ON, true));
        chooseFile(IDC_BAKE_OCCLUSION_CHOOSE, folder.str() + "/ao.tga");
        ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_OCCLUSION_GRID, 10079));
        ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_OCCLUDERS, 10083));
        ASSERT_TRUE(dialogs.choose(d(), IDC_BAKE_HALF_SPACE, 10093));
        ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_OCCLUSION_EXPONENT, 3.5));
        ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_DISPLACEMENT_ON, true));
        chooseFile(IDC_BAKE_DISPLACEMENT_CHOOSE, folder.str() + "/disp.tga");
        ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_START));
        ASSERT_TRUE(dialog->baking());
        // Stopped inside the texel pass, where the bake shows a percentage.
        ASSERT_TRUE(waitForStatus([](const std::string& s) { return s.find("% 0") != std::string::npos; }));
    }
    void expectNoFiles() {
        for (const char* name : {"normal.tga", "ao.tga", "disp.tga", "disp.txt"})
            EXPECT_FALSE(std::filesystem::exists(folder.path() / name)) << name;
    }
    void expectSettingsHandedOver() {
        const BakeSettings& s = dialog->thread().settings;
        EXPECT_EQ(s.supersampling, 8);
        EXPECT_EQ(s.fileFormat, BAKE_FORMAT_TGA);
        EXPECT_EQ(s.bitDepth, 8);
        EXPECT_EQ(s.occlusionGrid, 12);
        EXPECT_EQ(s.randomDirections, 1);
        EXPECT_EQ(s.occluderMode, BAKE_OCCLUDERS_HIERARCHY);
        EXPECT_EQ(s.blockedHalfSpace, BAKE_BLOCK_POS_Z);
        EXPECT_FLOAT_EQ(s.occlusionExponent, 3.5f);
        EXPECT_EQ(s.displacementOn, 1);
        EXPECT_EQ(std::string(s.displacementFile.chars()), folder.str() + "/disp.tga");
        EXPECT_EQ(s.width, 600);
    }
};

TEST_F(BakeDialogStopTest, StopButtonEndsTheBakeWithoutAMap) {
    startLongBake();
    EXPECT_EQ(gadget(IDC_BAKE_START).label, kStop);
    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_START));
    EXPECT_FALSE(dialog->thread().isRunning());
    ASSERT_TRUE(waitForEnd(10000));
    EXPECT_EQ(text(IDC_BAKE_STATUS), kFailed);
    EXPECT_EQ(dialog->thread().lastResult(), BAKE_END_STOPPED);
    EXPECT_EQ(gadget(IDC_BAKE_START).label, kBake);
    EXPECT_TRUE(usable(IDC_BAKE_SETTINGS));
    expectSettingsHandedOver();
    expectNoFiles();
}

TEST_F(BakeDialogStopTest, ClosingTheDialogStopsTheBake) {
    startLongBake();
    ASSERT_TRUE(dialogs.close(d()));
    EXPECT_FALSE(dialogs.isOpen(d()));
    EXPECT_FALSE(dialog->thread().isRunning());
    EXPECT_FALSE(dialog->baking());
    EXPECT_EQ(dialog->thread().lastResult(), BAKE_END_STOPPED);
    host::EventQueue::main().pump();  // the end message finds no dialog
    expectNoFiles();
    ASSERT_EQ(dialog->open(OMBRIN_ID), 1);
    EXPECT_EQ(gadget(IDC_BAKE_START).label, kBake);
    EXPECT_TRUE(usable(IDC_BAKE_SETTINGS));
}

TEST_F(BakeDialogTest, BakeWhoseMemoryRunsOutShowsTheFailure) {
    dropPlanes();
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_WIDTH, 16));
    ASSERT_TRUE(dialogs.setByUser(d(), IDC_BAKE_HEIGHT, 16));
    const std::string normalPath = folder.str() + "/normal.tif";
    chooseFile(IDC_BAKE_NORMAL_CHOOSE, normalPath);
    host::memory::failMatching("NMOctree", 0);
    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_START));
    ASSERT_TRUE(waitForEnd());
    host::memory::resetFailures();
    EXPECT_EQ(text(IDC_BAKE_STATUS), kFailed);
    EXPECT_EQ(dialog->thread().lastResult(), BAKE_END_FAILED);
    EXPECT_FALSE(std::filesystem::exists(normalPath));
    bool reported = false;
    for (const std::string& line : console()) reported |= line.rfind("NO MEMORY: NMOctree", 0) == 0;
    EXPECT_TRUE(reported);
    // The same bake with memory to spare succeeds.
    ASSERT_TRUE(dialogs.press(d(), IDC_BAKE_START));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(text(IDC_BAKE_STATUS), kFinished);
    EXPECT_TRUE(std::filesystem::exists(normalPath));
}

}  // namespace
