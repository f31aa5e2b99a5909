#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "host/Resources.h"

namespace fs = std::filesystem;
using host::GadgetKind;
using host::ResourceSet;

namespace {

// A fresh module folder under the test temp folder, removed at the end.
class TempModule {
public:
    TempModule() {
        path_ = fs::temp_directory_path() /
                ("vexlor_res_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempModule() { fs::remove_all(path_); }
    void write(const std::string& rel, const std::string& text) const {
        fs::create_directories((path_ / rel).parent_path());
        std::ofstream(path_ / rel, std::ios::binary) << text;
    }
    std::string path() const { return path_.string(); }

private:
    fs::path path_;
};

std::string stringsError(const std::string& text) {
    ResourceSet set;
    std::string error;
    EXPECT_FALSE(set.readStrings(text, "s.txt", &error)) << text;
    return error;
}

std::string layoutError(const std::string& text, ResourceSet& set) {
    std::string error;
    EXPECT_FALSE(set.readLayout(text, "x.dlg", &error)) << text;
    return error;
}

std::string layoutError(const std::string& text) {
    ResourceSet set;
    return layoutError(text, set);
}

}  // namespace

TEST(ResourceStrings, ReadsIdsTextsEscapesAndComments) {
    ResourceSet set;
    std::string error;
    ASSERT_TRUE(
        set.readStrings("# heading\n"
                        "\n"
                        "10117 \"Vexlor Reduce\"   # the command\n"
                        "  10118\t\"say \\\"hi\\\" \\\\ now\\nnext # not a comment\"\r\n"
                        "7 \"\"\n",
                        "s.txt", &error))
        << error;
    EXPECT_EQ(set.strings().size(), 3u);
    EXPECT_EQ(set.string(10117), "Vexlor Reduce");
    EXPECT_EQ(set.string(10118), "say \"hi\" \\ now\nnext # not a comment");
    EXPECT_TRUE(set.hasString(7));
    EXPECT_EQ(set.string(7), "");
    EXPECT_FALSE(set.hasString(10119));
    EXPECT_EQ(set.string(10119), "");
}

TEST(ResourceStrings, MalformedLinesNameFileAndLine) {
    EXPECT_EQ(stringsError("1 \"a\"\n2 \"b\"\n1 \"c\"\n"), "s.txt:3: string 1 is defined twice");
    EXPECT_EQ(stringsError("\n\n5 \"open"), "s.txt:3: unterminated quoted text");
    EXPECT_EQ(stringsError("5 \"bad \\q escape\""), "s.txt:1: unknown escape \\q");
    EXPECT_EQ(stringsError("5 unquoted"), "s.txt:1: expected: ID \"text\"");
    EXPECT_EQ(stringsError("5"), "s.txt:1: expected: ID \"text\"");
    EXPECT_EQ(stringsError("12a \"x\""), "s.txt:1: expected: ID \"text\"");
    EXPECT_EQ(stringsError("0 \"x\""), "s.txt:1: expected: ID \"text\"");
    EXPECT_EQ(stringsError("-3 \"x\""), "s.txt:1: expected: ID \"text\"");
    EXPECT_EQ(stringsError("2147483648 \"x\""), "s.txt:1: expected: ID \"text\"");
    EXPECT_EQ(stringsError("5 \"a\" \"b\""), "s.txt:1: expected: ID \"text\"");
    EXPECT_EQ(stringsError("5 \"a\"b"), "s.txt:1: text after a closing quote");
    EXPECT_EQ(stringsError("5 a\"b\""), "s.txt:1: quote inside a word");
}

TEST(ResourceLayouts, ReadsGadgetsParentsLabelsAndChoices) {
    ResourceSet set;
    std::string error;
    ASSERT_TRUE(set.readStrings("3 \"From strings\"\n", "s.txt", &error));
    ASSERT_TRUE(
        set.readLayout("# a test layout\n"
                       "dialog 100 @3\n"
                       "group 101 \"Group\"\n"
                       "checkbox 102 in 101 \"Check\" disabled\n"
                       "radiogroup 103 in 101 \"Mode\"\n"
                       "radio 104 in 103 \"A\"\n"
                       "radio 105 in 103 @3\n"
                       "choice 106 \"Format\"\n"
                       "entry 107 in 106 \"TIFF\"\n"
                       "entry 108 in 106 \"BMP\"\n"
                       "userarea 109\n"
                       "text 110 disabled   # no label\n",
                       "x.dlg", &error))
        << error;
    const host::Layout* l = set.layout(100);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(set.layout(101), nullptr);
    EXPECT_EQ(l->title, "From strings");
    EXPECT_EQ(l->file, "x.dlg");
    ASSERT_EQ(l->gadgets.size(), 10u);
    const host::LayoutGadget* check = l->find(102);
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->kind, GadgetKind::Checkbox);
    EXPECT_EQ(check->parent, 101);
    EXPECT_EQ(check->label, "Check");
    EXPECT_TRUE(check->disabled);
    EXPECT_EQ(check->line, 4);
    EXPECT_FALSE(l->find(101)->disabled);
    EXPECT_EQ(l->find(101)->parent, 0);
    EXPECT_EQ(l->find(105)->label, "From strings");
    EXPECT_EQ(l->find(109)->label, "");
    EXPECT_TRUE(l->find(110)->disabled);
    EXPECT_EQ(l->find(110)->label, "");
    EXPECT_EQ(l->find(999), nullptr);

    auto ids = [](const std::vector<const host::LayoutGadget*>& v) {
        std::vector<int32_t> out;
        for (auto* g : v) out.push_back(g->id);
        return out;
    };
    EXPECT_EQ(ids(l->choices(103)), (std::vector<int32_t>{104, 105}));
    EXPECT_EQ(ids(l->choices(106)), (std::vector<int32_t>{107, 108}));
    EXPECT_TRUE(l->choices(101).empty());  // a group's children are not choices
}

TEST(ResourceLayouts, MalformedLinesNameFileAndLine) {
    EXPECT_EQ(layoutError(""), "x.dlg:1: no dialog line");
    EXPECT_EQ(layoutError("group 5 \"x\"\n"), "x.dlg:1: expected: dialog ID [title]");
    EXPECT_EQ(layoutError("dialog 1 \"t\" extra\n"), "x.dlg:1: expected: dialog ID [title]");
    EXPECT_EQ(layoutError("dialog 1\ndialog 2\n"), "x.dlg:2: a second dialog line");
    EXPECT_EQ(layoutError("dialog 1\nslider 2\n"), "x.dlg:2: unknown gadget kind 'slider'");
    EXPECT_EQ(layoutError("dialog 1\nbutton\n"), "x.dlg:2: expected a gadget identifier after the kind");
    EXPECT_EQ(layoutError("dialog 1\nbutton x1\n"), "x.dlg:2: expected a gadget identifier after the kind");
    EXPECT_EQ(layoutError("dialog 1\nbutton 2\nbutton 2\n"), "x.dlg:3: identifier 2 is used twice");
    EXPECT_EQ(layoutError("dialog 1\nbutton 1\n"), "x.dlg:2: identifier 1 is used twice");
    EXPECT_EQ(layoutError("dialog 1\nbutton 2 in\n"), "x.dlg:2: expected a parent identifier after 'in'");
    EXPECT_EQ(layoutError("dialog 1\nbutton 2 in 3\ngroup 3\n"), "x.dlg:2: parent 3 is not on an earlier line");
    EXPECT_EQ(layoutError("dialog 1\ngroup 2\nradio 3 in 2\n"), "x.dlg:3: a radio must be inside a radiogroup");
    EXPECT_EQ(layoutError("dialog 1\nentry 3\n"), "x.dlg:2: an entry must be inside a choice or popup");
    EXPECT_EQ(layoutError("dialog 1\nchoice 2\nbutton 3 in 2\n"), "x.dlg:3: a button cannot be inside the choice 2");
    EXPECT_EQ(layoutError("dialog 1\nbutton 2\ntext 3 in 2\n"), "x.dlg:3: a text cannot be inside the button 2");
    EXPECT_EQ(layoutError("dialog 1\nbutton 2 @x7\n"), "x.dlg:2: unexpected word '@x7'");
    EXPECT_EQ(layoutError("dialog 1\nbutton 2 \"a\" \"b\"\n"), "x.dlg:2: unexpected word 'b'");
    EXPECT_EQ(layoutError("dialog 1\nbutton 2 label\n"), "x.dlg:2: unexpected word 'label'");
    EXPECT_EQ(layoutError("dialog 1\nbutton 2 disabled \"late\"\n"), "x.dlg:2: unexpected word 'late'");
    EXPECT_EQ(layoutError("dialog 1\n\n\nbutton 2 \"a\\z\"\n"), "x.dlg:4: unknown escape \\z");

    ResourceSet set;
    std::string error;
    ASSERT_TRUE(set.readLayout("dialog 9\n", "first.dlg", &error)) << error;
    EXPECT_EQ(layoutError("# again\ndialog 9 \"t\"\n", set), "x.dlg:2: layout 9 is also defined in first.dlg");
}

TEST(ResourceSetOpen, MissingFolderOrStringsFileFails) {
    TempModule m;
    std::string error;
    EXPECT_EQ(ResourceSet::open(m.path(), &error), nullptr);
    EXPECT_NE(error.find("no resource folder"), std::string::npos) << error;

    fs::create_directories(fs::path(m.path()) / "res");
    m.write("res/dialogs/a.dlg", "dialog 1\n");
    error.clear();
    EXPECT_EQ(ResourceSet::open(m.path(), &error), nullptr);
    EXPECT_NE(error.find("strings.txt"), std::string::npos) << error;

    // A folder named like the strings file is no strings file.
    fs::create_directories(fs::path(m.path()) / "res" / "strings.txt");
    EXPECT_EQ(ResourceSet::open(m.path(), &error), nullptr);
}

TEST(ResourceSetOpen, ReadsStringsAndEveryLayoutFile) {
    TempModule m;
    m.write("res/strings.txt", "1 \"Title\"\n");
    // No dialogs folder: strings alone are fine.
    std::unique_ptr<ResourceSet> set = ResourceSet::open(m.path());
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->string(1), "Title");
    EXPECT_TRUE(set->layouts().empty());
    EXPECT_EQ(set->folder(), m.path());

    m.write("res/dialogs/b.dlg", "dialog 20 @1\nbutton 21 \"Go\"\n");
    m.write("res/dialogs/a.dlg", "dialog 10\n");
    m.write("res/dialogs/notes.txt", "this is not a layout\n");
    set = ResourceSet::open(m.path());
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->layouts().size(), 2u);
    ASSERT_NE(set->layout(20), nullptr);
    EXPECT_EQ(set->layout(20)->title, "Title");
    EXPECT_EQ(set->layout(20)->find(21)->label, "Go");
    EXPECT_NE(set->layout(10), nullptr);
}

TEST(ResourceSetOpen, AMalformedFileFailsTheWholeSetNamingFileAndLine) {
    TempModule m;
    m.write("res/strings.txt", "1 \"Title\"\n");
    m.write("res/dialogs/good.dlg", "dialog 10\n");
    m.write("res/dialogs/bad.dlg", "dialog 20\n\nbutton 21 label\n");
    std::string error;
    EXPECT_EQ(ResourceSet::open(m.path(), &error), nullptr);
    EXPECT_NE(error.find("bad.dlg:3: unexpected word 'label'"), std::string::npos) << error;

    m.write("res/dialogs/bad.dlg", "dialog 20\n");
    m.write("res/strings.txt", "1 \"Title\"\n1 \"Again\"\n");
    EXPECT_EQ(ResourceSet::open(m.path(), &error), nullptr);
    EXPECT_NE(error.find("strings.txt:2: string 1 is defined twice"), std::string::npos) << error;
}

// ---------------------------------------------------------------------------------------------
// The module's own resources

namespace {

struct Expected {
    int32_t id;
    GadgetKind kind;
};

const ResourceSet& moduleResources() {
    static std::unique_ptr<ResourceSet> set = [] {
        std::string error;
        auto s = ResourceSet::open(VEXLOR_SOURCE_DIR, &error);
        EXPECT_NE(s, nullptr) << error;
        return s;
    }();
    return *set;
}

// True when `ancestor` encloses gadget `id` (at any depth).
bool inside(const host::Layout& l, int32_t id, int32_t ancestor) {
    const host::LayoutGadget* g = l.find(id);
    for (int guard = 0; g && g->parent && guard < 32; ++guard) {
        if (g->parent == ancestor) return true;
        g = l.find(g->parent);
    }
    return false;
}

std::vector<int32_t> choiceIds(const host::Layout& l, int32_t id) {
    std::vector<int32_t> out;
    for (auto* g : l.choices(id)) out.push_back(g->id);
    return out;
}

std::vector<int32_t> range(int32_t first, int32_t last) {
    std::vector<int32_t> out;
    for (int32_t i = first; i <= last; ++i) out.push_back(i);
    return out;
}

void expectGadgets(const host::Layout& l, const std::vector<Expected>& expected) {
    for (const Expected& e : expected) {
        const host::LayoutGadget* g = l.find(e.id);
        ASSERT_NE(g, nullptr) << "gadget " << e.id << " of layout " << l.id;
        EXPECT_EQ(g->kind, e.kind) << "gadget " << e.id << " is a " << host::gadgetKindName(g->kind);
    }
    // Every gadget a person operates carries a label.
    for (const host::LayoutGadget& g : l.gadgets) {
        if (g.kind != GadgetKind::Text && g.kind != GadgetKind::UserArea) {
            EXPECT_FALSE(g.label.empty()) << "gadget " << g.id << " of layout " << l.id << " has no label";
        }
    }
}

}  // namespace

TEST(ModuleResources, EveryStringTheModuleUsesIsThere) {
    const ResourceSet& set = moduleResources();
    std::vector<int32_t> ids = range(10112, 10118);
    for (int32_t id : range(10120, 10137)) ids.push_back(id);
    for (int32_t id : ids) EXPECT_FALSE(set.string(id).empty()) << "string " << id;
    EXPECT_EQ(set.string(10117), "Vexlor Reduce");
    EXPECT_EQ(set.string(10124), "Vexlor Bake");
    EXPECT_EQ(set.string(10135), "Vexlor Normal Map");
    EXPECT_EQ(set.string(10136), "Vexlor Brush");
    // The displacement text is followed by a number: it ends in a separator.
    EXPECT_EQ(set.string(10134).back(), ' ');
}

TEST(ModuleResources, ReductionDialogHasEveryGadget) {
    const host::Layout* l = moduleResources().layout(10001);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->title, "Vexlor Reduce");
    expectGadgets(*l, {{10002, GadgetKind::Group},
                       {10003, GadgetKind::Checkbox},
                       {10004, GadgetKind::RadioGroup},
                       {10005, GadgetKind::Radio},
                       {10006, GadgetKind::Radio},
                       {10007, GadgetKind::Radio},
                       {10008, GadgetKind::Radio},
                       {10010, GadgetKind::Button},
                       {10011, GadgetKind::Integer},
                       {10013, GadgetKind::UserArea},
                       {10014, GadgetKind::Real},
                       {10015, GadgetKind::Checkbox},
                       {10016, GadgetKind::Real},
                       {10017, GadgetKind::Real},
                       {10018, GadgetKind::Real},
                       {10019, GadgetKind::Integer},
                       {10020, GadgetKind::Text},
                       {10022, GadgetKind::Button}});
    EXPECT_EQ(choiceIds(*l, 10004), range(10005, 10008));
    // Every gadget whose change collects or seeks the objects is in the settings group; the
    // start/stop button must stay usable while a pass runs.
    for (int32_t id : {10003, 10004, 10010, 10011, 10013, 10014, 10015, 10016, 10017, 10018, 10019})
        EXPECT_TRUE(inside(*l, id, 10002)) << id;
    EXPECT_FALSE(inside(*l, 10022, 10002));
    EXPECT_EQ(moduleResources().layout(10001)->find(10010)->label, moduleResources().string(10120));
    EXPECT_EQ(moduleResources().layout(10001)->find(10022)->label, moduleResources().string(10122));
}

TEST(ModuleResources, BakingDialogHasEveryGadget) {
    const host::Layout* l = moduleResources().layout(10023);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->title, "Vexlor Bake");
    std::vector<Expected> expected = {
        {10024, GadgetKind::Group},    {10026, GadgetKind::DropArea}, {10027, GadgetKind::UserArea},
        {10028, GadgetKind::Text},     {10029, GadgetKind::UserArea}, {10030, GadgetKind::Text},
        {10031, GadgetKind::Button},   {10032, GadgetKind::Filename}, {10033, GadgetKind::Percent},
        {10034, GadgetKind::DropArea}, {10035, GadgetKind::UserArea}, {10036, GadgetKind::Text},
        {10037, GadgetKind::UserArea}, {10038, GadgetKind::Text},     {10040, GadgetKind::Integer},
        {10041, GadgetKind::Integer},  {10042, GadgetKind::Choice},   {10054, GadgetKind::Choice},
        {10058, GadgetKind::Choice},   {10061, GadgetKind::Checkbox}, {10062, GadgetKind::Group},
        {10063, GadgetKind::Filename}, {10064, GadgetKind::Button},   {10065, GadgetKind::Checkbox},
        {10066, GadgetKind::Group},    {10067, GadgetKind::Choice},   {10080, GadgetKind::Checkbox},
        {10081, GadgetKind::Choice},   {10085, GadgetKind::Real},     {10086, GadgetKind::Choice},
        {10094, GadgetKind::Filename}, {10095, GadgetKind::Button},   {10096, GadgetKind::Checkbox},
        {10097, GadgetKind::Group},    {10098, GadgetKind::Filename}, {10099, GadgetKind::Button},
        {10100, GadgetKind::Text},     {10102, GadgetKind::Text},     {10103, GadgetKind::Text},
        {10104, GadgetKind::Button},   {10140, GadgetKind::Choice}};
    for (int32_t id : range(10043, 10050)) expected.push_back({id, GadgetKind::Entry});
    for (int32_t id : range(10141, 10142)) expected.push_back({id, GadgetKind::Entry});  // green up, down
    for (int32_t id : range(10055, 10057)) expected.push_back({id, GadgetKind::Entry});
    for (int32_t id : range(10059, 10060)) expected.push_back({id, GadgetKind::Entry});
    for (int32_t id : range(10051, 10053)) expected.push_back({id, GadgetKind::Entry});  // PNG, OpenEXR, 32 bits
    for (int32_t id : range(10068, 10079)) expected.push_back({id, GadgetKind::Entry});
    for (int32_t id : range(10082, 10084)) expected.push_back({id, GadgetKind::Entry});
    for (int32_t id : range(10087, 10093)) expected.push_back({id, GadgetKind::Entry});
    expectGadgets(*l, expected);

    EXPECT_EQ(choiceIds(*l, 10042), range(10043, 10050));  // supersampling N = id - 10042
    EXPECT_EQ(choiceIds(*l, 10054), (std::vector<int32_t>{10055, 10056, 10057, 10051, 10052}));
    EXPECT_EQ(choiceIds(*l, 10058), (std::vector<int32_t>{10059, 10060, 10053}));
    EXPECT_EQ(choiceIds(*l, 10067), range(10068, 10079));  // occlusion grid M = id - 10067
    EXPECT_EQ(choiceIds(*l, 10081), range(10082, 10084));
    EXPECT_EQ(choiceIds(*l, 10086), range(10087, 10093));  // half-space = id - 10087
    EXPECT_EQ(choiceIds(*l, 10140), range(10141, 10142));  // the normal map's green: up, down
    EXPECT_EQ(l->find(10043)->label, "1 x 1");
    EXPECT_EQ(l->find(10050)->label, "8 x 8");
    EXPECT_EQ(l->find(10079)->label, "12 x 12");
    EXPECT_FALSE(l->find(10058)->disabled);  // the bit depth follows the format and can be chosen
    EXPECT_EQ(l->find(10052)->label, "OpenEXR");

    // The map groups hold their file gadgets; group 10024 holds every setting and both drop areas
    // but not the bake/stop button, the status line or the texts around it.
    for (int32_t id : {10063, 10064, 10140}) EXPECT_TRUE(inside(*l, id, 10062)) << id;
    for (int32_t id : {10067, 10080, 10081, 10085, 10086, 10094, 10095}) EXPECT_TRUE(inside(*l, id, 10066)) << id;
    for (int32_t id : {10098, 10099}) EXPECT_TRUE(inside(*l, id, 10097)) << id;
    for (int32_t id : {10027, 10028, 10029, 10030}) EXPECT_TRUE(inside(*l, id, 10026)) << id;
    for (int32_t id : {10035, 10036, 10037, 10038}) EXPECT_TRUE(inside(*l, id, 10034)) << id;
    for (const Expected& e : expected) {
        if (e.id > 10024 && e.id < 10100 && e.kind != GadgetKind::Entry) {
            EXPECT_TRUE(inside(*l, e.id, 10024)) << e.id;
        }
    }
    for (int32_t id : {10100, 10102, 10103, 10104}) EXPECT_FALSE(inside(*l, id, 10024)) << id;
    EXPECT_EQ(l->find(10104)->label, moduleResources().string(10126));
}

TEST(ModuleResources, ToolPanelHasEveryGadget) {
    const ResourceSet& set = moduleResources();
    const host::Layout* l = set.layout(10105);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->title, "Vexlor Brush");
    expectGadgets(*l, {{10106, GadgetKind::Popup},
                       {10107, GadgetKind::Integer},
                       {10108, GadgetKind::Checkbox},
                       {10109, GadgetKind::Real},
                       {10110, GadgetKind::Real},
                       {10111, GadgetKind::Color},
                       {10112, GadgetKind::Entry},
                       {10113, GadgetKind::Entry},
                       {10114, GadgetKind::Entry},
                       {10115, GadgetKind::Entry}});
    EXPECT_EQ(choiceIds(*l, 10106), range(10112, 10115));
    for (int32_t id : range(10112, 10115)) EXPECT_EQ(l->find(id)->label, set.string(id)) << id;
}

TEST(ModuleResources, LayoutsAreExactlyTheThreeDialogs) {
    std::set<int32_t> ids;
    for (const auto& [id, layout] : moduleResources().layouts()) ids.insert(id);
    EXPECT_EQ(ids, (std::set<int32_t>{10001, 10023, 10105}));
}

TEST(ResourceSetOpen, ALabelFromAMissingStringIsEmpty) {
    TempModule m;
    m.write("res/strings.txt", "1 \"Title\"\n");
    m.write("res/dialogs/a.dlg", "dialog 20 @1\nbutton 21 @2\n");
    std::string error;
    auto set = ResourceSet::open(m.path(), &error);
    ASSERT_NE(set, nullptr) << error;
    EXPECT_EQ(set->layout(20)->title, "Title");
    EXPECT_EQ(set->layout(20)->find(21)->label, "");
}
