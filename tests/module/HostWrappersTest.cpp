// The module's wrappers of host handles: value semantics of strings and file names, owned and
// viewed settings and selection sets, bitmaps, object and tag views, threads, and the allocation
// helpers. Every test also checks (in the fixture) that no handle or block is left live.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ModuleTestSupport.h"
#include "host/Document.h"
#include "host/Tags.h"
#include "sources/HostBitmap.h"
#include "sources/HostFilename.h"
#include "sources/HostMemory.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"
#include "sources/HostSettings.h"
#include "sources/HostString.h"
#include "sources/HostTag.h"
#include "sources/HostThread.h"

using namespace moduletest;

namespace {

class HostWrappersTest : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        startModule(kSourceFolder);
    }
};

TEST_F(HostWrappersTest, StringsHaveValueSemantics) {
    const size_t handles = host::liveHandles();
    {
        HostString a("abc");
        HostString b(a);
        b += "def";
        EXPECT_STREQ(a.chars(), "abc");
        EXPECT_STREQ(b.chars(), "abcdef");
        EXPECT_EQ(b.length(), 6);
        HostString c;
        EXPECT_TRUE(c.empty());
        EXPECT_STREQ(c.chars(), "");
        c = b;
        b.assign("x");
        EXPECT_STREQ(c.chars(), "abcdef");
        HostString d = HostString("n=") + HostString::fromInt(-42) + " r=" + HostString::fromReal(0.25, 3);
        EXPECT_STREQ(d.chars(), "n=-42 r=0.250");
        HostString moved(std::move(d));
        EXPECT_TRUE(d.empty());
        EXPECT_STREQ(moved.chars(), "n=-42 r=0.250");
        c = c;
        EXPECT_STREQ(c.chars(), "abcdef");
        // Strings without a handle still join.
        HostString none;
        EXPECT_STREQ((none + none).chars(), "");
        EXPECT_EQ(host::liveHandles(), handles + 5);  // a, b, c, moved, and `none`'s handle made for the join
    }
    EXPECT_EQ(host::liveHandles(), handles);
}

TEST_F(HostWrappersTest, ConsolePrintWritesOneLine) {
    consolePrint(HostString("hello ") + HostString::fromInt(3));
    EXPECT_EQ(console(), std::vector<std::string>{"hello 3"});
    reportNoMemory("Thing", 77);
    EXPECT_EQ(console(), std::vector<std::string>{"NO MEMORY: Thing 77"});
}

TEST_F(HostWrappersTest, FileNamesJoinAndCopy) {
    HostFilename folder("/data/module");
    const HostFilename icon = folder + "res" + "VXIcon.tif";
    EXPECT_STREQ(icon.chars(), "/data/module/res/VXIcon.tif");
    HostFilename copy(icon);
    copy.setSuffix("png");
    EXPECT_STREQ(copy.chars(), "/data/module/res/VXIcon.png");
    EXPECT_STREQ(icon.chars(), "/data/module/res/VXIcon.tif");
    HostFilename empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_STREQ((empty + "a").chars(), "a");
    empty.assign("/x");
    EXPECT_FALSE(empty.empty());
    folder = copy;
    EXPECT_STREQ(folder.chars(), "/data/module/res/VXIcon.png");
}

TEST_F(HostWrappersTest, OwnedSettingsAndViews) {
    HostSettings own;
    EXPECT_EQ(own.getInt(1, 5), 5);  // no container yet: the default
    ASSERT_TRUE(own.make());
    EXPECT_TRUE(own.owned());
    own.setInt(1000, 10113);
    own.setReal(1004, 2.5);
    own.setBool(1002, true);
    const double colour[3] = {0.5, 0.25, 1.0};
    own.setVector(1005, colour);
    own.setString(7, HostString("text"));
    EXPECT_EQ(own.getInt(1000), 10113);
    EXPECT_DOUBLE_EQ(own.getReal(1004), 2.5);
    EXPECT_TRUE(own.getBool(1002));
    EXPECT_FALSE(own.getBool(1003));
    EXPECT_TRUE(own.getBool(1003, true));
    const double def[3] = {1, 0, 0};
    double out[3];
    own.getVector(1005, def, out);
    EXPECT_EQ(out[2], 1.0);
    own.getVector(1099, def, out);
    EXPECT_EQ(out[0], 1.0);
    EXPECT_STREQ(own.getString(7).chars(), "text");
    EXPECT_TRUE(own.has(1000));
    EXPECT_FALSE(own.has(1001));

    // A view of a host-owned container is never destroyed by the module.
    host::Document doc;
    doc.setEditingMode(host::MODE_POINTS);
    {
        HostSettings view(host::hostApi()->docSettings(host::toHandle(&doc)));
        EXPECT_FALSE(view.owned());
        EXPECT_EQ(view.getInt(DOC_EDITING_MODE), 5);
        view.setInt(DOC_EDITING_MODE, MODE_POLYGONS);
    }
    EXPECT_EQ(doc.editingMode(), 7);

    HostSettings moved(std::move(own));
    EXPECT_TRUE(moved.owned());
    EXPECT_FALSE(own.valid());
    EXPECT_EQ(moved.getInt(1000), 10113);
}

TEST_F(HostWrappersTest, SelectionSetsCopyTheirMembers) {
    HostSelectionSet a;
    ASSERT_TRUE(a.make());
    a.select(2);
    a.select(3);
    a.select(9);
    EXPECT_EQ(a.count(), 3);
    EXPECT_EQ(a.rangeCount(), 2);
    int32_t first = 0, last = 0;
    ASSERT_TRUE(a.range(0, &first, &last));
    EXPECT_EQ(first, 2);
    EXPECT_EQ(last, 3);
    HostSelectionSet b(a);
    EXPECT_NE(b.handle(), a.handle());
    b.deselect(9);
    EXPECT_TRUE(a.isSelected(9));
    EXPECT_FALSE(b.isSelected(9));
    HostSelectionSet c;
    c = b;
    EXPECT_EQ(c.count(), 2);
    uint8_t bytes[5];
    c.memberBytes(bytes, 5);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(bytes[4], 0);
    HostSelection view = c.view();
    view.toggle(4);
    EXPECT_TRUE(c.isSelected(4));
    c = HostSelectionSet();
    EXPECT_FALSE(c.valid());
}

TEST_F(HostWrappersTest, PolygonObjectAndTagViews) {
    host::Document doc;
    auto owned = std::make_unique<host::PolygonObject>("quad");
    owned->points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    owned->polygons = {{0, 1, 2, 3}};
    auto* quad = static_cast<host::PolygonObject*>(doc.insert(std::move(owned)));
    quad->pointSelection.resize(4);
    quad->pointSelection.select(1);
    quad->addTag(std::make_unique<host::UVWTag>("uv", 1));
    quad->addTag(std::make_unique<host::SelectionTag>(host::TAG_POLYGON_SELECTION, "top", 1));
    quad->addTag(std::make_unique<host::SelectionTag>(host::TAG_POLYGON_SELECTION, "side", 1));

    HostPolygonObject object(host::toHandle(static_cast<host::Object*>(quad)));
    EXPECT_TRUE(object.isPolygonObject());
    EXPECT_STREQ(object.name().chars(), "quad");
    EXPECT_EQ(object.document(), host::toHandle(&doc));
    EXPECT_EQ(object.pointCount(), 4);
    EXPECT_EQ(object.polygonCount(), 1);
    EXPECT_EQ(object.points()[6], 1.0f);
    EXPECT_EQ(object.polygons()[0].d, 3);
    EXPECT_TRUE(object.pointSelection().isSelected(1));
    EXPECT_EQ(object.tagCount(TAG_POLYGON_SELECTION), 2);
    EXPECT_STREQ(object.tagOfType(TAG_POLYGON_SELECTION, 1).name().chars(), "side");
    EXPECT_FALSE(object.tagOfType(TAG_POLYGON_SELECTION, 2).valid());
    const HostTag uv = object.tagOfType(TAG_UVW);
    EXPECT_EQ(uv.type(), TAG_UVW);
    EXPECT_EQ(uv.dataCount(), 1);
    EXPECT_NE(uv.data(), nullptr);
    EXPECT_EQ(uv.object(), object.handle());
    EXPECT_EQ(uv.next(), object.tagOfType(TAG_POLYGON_SELECTION));
    object.tagOfType(TAG_POLYGON_SELECTION).selection().select(0);
    EXPECT_TRUE(static_cast<host::SelectionTag*>(quad->tag(host::TAG_POLYGON_SELECTION))->set.isSelected(0));

    ASSERT_TRUE(object.resize(6, 2));
    EXPECT_EQ(quad->pointCount(), 6);
    EXPECT_EQ(uv.dataCount(), 2);  // tags follow the arrays
    EXPECT_FALSE(object.resize(-1, 0));

    double m[12];
    object.globalMatrix(m);
    EXPECT_EQ(m[3], 1.0);
    EXPECT_EQ(m[0], 0.0);
    HostPolygonObject none;
    EXPECT_EQ(none.pointCount(), 0);
    EXPECT_EQ(none.points(), nullptr);
    none.globalMatrix(m);
    EXPECT_EQ(m[7], 1.0);
    EXPECT_EQ(m[11], 1.0);
}

// A tag taken off an object through the table goes back where it is asked to: attach makes it the
// last tag, insert puts it at an index (0: the first).
TEST_F(HostWrappersTest, DetachedTagsGoBackWhereAsked) {
    host::Document doc;
    auto* obj = static_cast<host::PolygonObject*>(doc.insert(std::make_unique<host::PolygonObject>("tags")));
    for (const char* name : {"a", "b", "c"}) obj->addTag(std::make_unique<host::UVWTag>(name, 0));
    auto names = [obj] {
        std::string s;
        for (const auto& t : obj->tags()) s += t->name();
        return s;
    };
    const HostApi* api = host::hostApi();
    HstObject* o = host::toHandle(static_cast<host::Object*>(obj));
    HstTag* a = api->objDetachTag(o, host::toHandle(obj->tags()[0].get()));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(names(), "bc");
    api->objAttachTag(o, a);
    EXPECT_EQ(names(), "bca");
    HstTag* c = api->objDetachTag(o, host::toHandle(obj->tags()[1].get()));
    ASSERT_NE(c, nullptr);
    api->objInsertTag(o, c, 0);
    EXPECT_EQ(names(), "cba");
}

TEST_F(HostWrappersTest, BitmapsLoadAndDraw) {
    HostBitmap icon;
    ASSERT_TRUE(icon.load(HostFilename(modulePath()) + "res" + "pic.tif"));
    EXPECT_EQ(icon.width(), 48);
    EXPECT_EQ(icon.height(), 24);
    EXPECT_EQ(icon.bitsPerPixel(), 24);
    HostBitmap missing;
    EXPECT_FALSE(missing.load(HostFilename(modulePath()) + "res" + "nothing.tif"));

    HostBitmap canvas;
    ASSERT_TRUE(canvas.init(4, 3));
    canvas.setPixel(2, 1, 10, 20, 300);
    int32_t r, g, b;
    canvas.getPixel(2, 1, &r, &g, &b);
    EXPECT_EQ(r, 10);
    EXPECT_EQ(g, 20);
    EXPECT_EQ(b, 255);
    HostBitmap moved(std::move(canvas));
    EXPECT_FALSE(canvas.valid());
    EXPECT_EQ(moved.width(), 4);
    EXPECT_FALSE(moved.init(0, 0));
}

class CountingThread : public HostThread {
public:
    ~CountingThread() override { stop(); }
    void main() override {
        while (!breakRequested()) {
            ++loops;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stopped = true;
    }
    std::atomic<int> loops{0};
    std::atomic<bool> stopped{false};
};

TEST_F(HostWrappersTest, ThreadsRunUntilAskedToStop) {
    CountingThread thread;
    EXPECT_FALSE(thread.isRunning());
    ASSERT_TRUE(thread.start());
    while (thread.loops.load() < 3) std::this_thread::yield();
    EXPECT_TRUE(thread.isRunning());
    thread.end(true);
    EXPECT_TRUE(thread.stopped.load());
    EXPECT_FALSE(thread.isRunning());
    // It can run again.
    thread.stopped = false;
    ASSERT_TRUE(thread.start());
    thread.end(false);
    thread.wait();
    EXPECT_TRUE(thread.stopped.load());
}

struct Made {
    static int destroyed;
    explicit Made(int v) : value(v) {}
    ~Made() { ++destroyed; }
    int value;
};
int Made::destroyed = 0;

TEST_F(HostWrappersTest, HostNewConstructsInHostMemory) {
    Made::destroyed = 0;
    Made* m = hostNew<Made>("Made", 12, 41);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->value, 41);
    bool found = false;
    for (const auto& b : host::memory::liveBlockList()) found |= b.tag == "Made" && b.line == 12;
    EXPECT_TRUE(found);
    hostDelete(m);
    EXPECT_EQ(Made::destroyed, 1);
    hostDelete<Made>(nullptr);

    host::memory::failMatching("Made", 12);
    EXPECT_EQ(hostNew<Made>("Made", 12, 1), nullptr);
    EXPECT_EQ(Made::destroyed, 1);
    EXPECT_EQ(console(), std::vector<std::string>{"NO MEMORY: Made 12"});
}

}  // namespace
