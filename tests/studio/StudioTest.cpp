// Tests of the studio's model of the document: the binary mesh, the copy that is saved while a
// preview leaves retired polygons in the arrays, counts as shown, undo and redo, and the failure
// paths of open and save.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "host/ObjFile.h"
#include "host/StatusBar.h"
#include "host/studio/MeshChanges.h"
#include "host/studio/Studio.h"
#include "host/studio/StudioBrush.h"
#include "host/studio/StudioFiles.h"
#include "host/studio/StudioRequest.h"

using namespace host;
using namespace host::studio;
namespace fs = std::filesystem;

namespace {

float floatAt(const std::string& b, size_t at) {
    float f;
    std::memcpy(&f, b.data() + at, 4);
    return f;
}
int32_t intAt(const std::string& b, size_t at) {
    int32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// A quad and a triangle (points 0-4), a retired polygon and an unused point 5, with UVs per corner.
std::unique_ptr<PolygonObject> previewLike() {
    auto o = std::make_unique<PolygonObject>("part");
    o->resize(6, 3);
    o->points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {9, 9, 9}};
    o->polygons = {{0, 1, 2, 3}, {0, 0, 0, 0}, {1, 4, 2, 2}};
    auto* uv = static_cast<UVWTag*>(o->addTag(std::make_unique<UVWTag>("uv", 3)));
    uv->data[0] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    uv->data[1] = {{5, 5, 0}, {5, 5, 0}, {5, 5, 0}, {5, 5, 0}};
    uv->data[2] = {{1, 0, 0}, {2, 0, 0}, {1, 1, 0}, {1, 1, 0}};
    return o;
}

TEST(StudioMesh, BinaryLayoutHoldsCountsPointsPolygonsAndCornerUVs) {
    auto o = previewLike();
    const std::string b = encodeMesh(*o);
    ASSERT_EQ(b.size(), 16u + 6 * 12 + 3 * 16 + 3 * 32);
    EXPECT_EQ(b.substr(0, 4), "VXM1");
    EXPECT_EQ(intAt(b, 4), 6);
    EXPECT_EQ(intAt(b, 8), 3);
    EXPECT_EQ(intAt(b, 12), 1);  // UVs, no corner normals
    EXPECT_EQ(floatAt(b, 16 + 5 * 12), 9.0f);
    const size_t polys = 16 + 6 * 12;
    EXPECT_EQ(intAt(b, polys + 2 * 16 + 4), 4);  // third polygon's b
    const size_t uvs = polys + 3 * 16;
    EXPECT_EQ(floatAt(b, uvs + 2 * 32 + 8), 2.0f);  // third polygon, corner b, u
    EXPECT_EQ(floatAt(b, uvs + 0 * 32 + 2 * 8 + 4), 1.0f);  // first polygon, corner c, v
}

// The page's side of a "VXS1" answer, written from the layout: the whole mesh, or the held copy
// with the runs written over it. Fails the test on a malformed answer.
std::string applyAnswer(const std::string& answer, const std::string& held, uint32_t heldSerial, uint32_t* serial) {
    EXPECT_EQ(answer.substr(0, 4), "VXS1");
    *serial = static_cast<uint32_t>(intAt(answer, 4));
    if (answer.substr(8, 4) != "VXP1") return answer.substr(8);
    EXPECT_EQ(static_cast<uint32_t>(intAt(answer, 12)), heldSerial);
    EXPECT_EQ(static_cast<size_t>(intAt(answer, 16)) * 4, held.size());
    std::string out = held;
    const int32_t runs = intAt(answer, 20);
    size_t at = 24;
    for (int32_t r = 0; r < runs; ++r) {
        const size_t first = static_cast<size_t>(intAt(answer, at)), count = static_cast<size_t>(intAt(answer, at + 4));
        at += 8;
        EXPECT_LE(4 * (first + count), out.size());
        out.replace(4 * first, 4 * count, answer.substr(at, 4 * count));
        at += 4 * count;
    }
    EXPECT_EQ(at, answer.size());
    return out;
}

// A preview step moves a few points and retires a polygon: the next answer for the copy the page
// holds is a patch that rebuilds the new mesh exactly, far smaller than the mesh; an answer for a
// copy the host no longer has (or none) is the whole mesh, and so is one whose length changed.
TEST(StudioMesh, AStepIsSentAsItsChangesToTheCopyThePageHolds) {
    auto o = std::make_unique<PolygonObject>("grid");
    const int n = 60;
    o->resize(n * n, (n - 1) * (n - 1));
    for (int i = 0; i < n * n; ++i) o->points[i] = {float(i % n), float(i / n), 0.0f};
    for (int r = 0; r + 1 < n; ++r)
        for (int c = 0; c + 1 < n; ++c) {
            const int32_t p = r * n + c;
            o->polygons[r * (n - 1) + c] = {p, p + 1, p + n + 1, p + n};
        }
    SentMeshes sent;
    uint32_t serial = 0;
    const std::string first = encodeMesh(*o);
    const std::string answer1 = sent.answer(7, 0, first);
    EXPECT_EQ(applyAnswer(answer1, "", 0, &serial), first);
    const uint32_t held = serial;

    o->points[100] = {100.5f, 0.25f, 1.0f};
    o->points[2000] = {1.0f, 2.0f, 3.0f};
    o->polygons[1234] = {5, 5, 5, 5};
    const std::string second = encodeMesh(*o);
    const std::string patch = sent.answer(7, held, second);
    EXPECT_EQ(patch.substr(8, 4), "VXP1");
    EXPECT_LT(patch.size(), second.size() / 20);
    EXPECT_EQ(applyAnswer(patch, first, held, &serial), second);
    EXPECT_NE(serial, held);

    // The copy given up (an older serial, or another object's) brings the whole mesh.
    for (const auto& [id, base] : {std::pair<int64_t, uint32_t>{7, held}, {8, serial}, {7, 0}}) {
        const std::string whole = sent.answer(id, base, second);
        EXPECT_EQ(whole.substr(8), second) << id << " " << base;
    }
    // Same length, everything changed: whole. Different length: whole.
    EXPECT_EQ(meshPatch(std::string(400, 'a'), std::string(400, 'b'), 1), "");
    EXPECT_EQ(meshPatch(std::string(400, 'a'), std::string(404, 'a'), 1), "");
    const std::string none = meshPatch(std::string(400, 'a'), std::string(400, 'a'), 1);
    EXPECT_EQ(none.size(), 16u);  // header only: no runs
}

TEST(StudioMesh, CornerNormalsFollowAsUnitVectors) {
    auto o = std::make_unique<PolygonObject>("n");
    o->resize(3, 1);
    o->polygons = {{0, 1, 2, 2}};
    auto* n = static_cast<NormalTag*>(o->addTag(std::make_unique<NormalTag>("n", 1)));
    n->data[0].v[2] = 32000;
    n->data[0].v[3] = -16000;
    const std::string b = encodeMesh(*o);
    ASSERT_EQ(b.size(), 16u + 3 * 12 + 16 + 48);
    EXPECT_EQ(intAt(b, 12), 2);
    const size_t at = 16 + 3 * 12 + 16;
    EXPECT_EQ(floatAt(b, at + 8), 1.0f);
    EXPECT_EQ(floatAt(b, at + 12), -0.5f);
}

TEST(StudioMesh, ShownCopyDropsRetiredPolygonsAndUnusedPointsWithTheirRows) {
    auto o = previewLike();
    auto copy = shownCopy(*o);
    EXPECT_EQ(copy->points, (std::vector<Vec3f>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}}));
    EXPECT_EQ(copy->polygons, (std::vector<Polygon>{{0, 1, 2, 3}, {1, 4, 2, 2}}));
    auto* uv = static_cast<UVWTag*>(copy->tag(TAG_UVW));
    ASSERT_NE(uv, nullptr);
    ASSERT_EQ(uv->data.size(), 2u);
    EXPECT_EQ(uv->data[1].b, (Vec3f{2, 0, 0}));
    EXPECT_EQ(o->polygonCount(), 3);  // the original is left as it was
}

class StudioModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("vexlor-studio-model-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        object = static_cast<PolygonObject*>(doc.insert(previewLike()));
        StudioHooks hooks;
        // The read runs on a thread of its own, which may outlive the test: it holds the gate, not `this`.
        hooks.readFile = [gate = readGate](const std::string& path, Document& into, std::vector<Object*>* loaded,
                                           std::string* error) {
            gate->pass();  // a file that takes as long to read as the test wants
            return readObj(path, into, loaded, error);
        };
        studio = std::make_unique<Studio>(doc, dialogs, *server, hooks);
        studio->refresh();
    }
    void TearDown() override {
        readGate->open();
        EXPECT_TRUE(readsEnd());
        fs::remove_all(folder);
    }
    // A gate the reading thread passes: closed, it waits there until the test opens it.
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool isOpen = true;
        void pass() {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return isOpen; });
        }
        void close() {
            std::lock_guard<std::mutex> lock(m);
            isOpen = false;
        }
        void open() {
            { std::lock_guard<std::mutex> lock(m); isOpen = true; }
            cv.notify_all();
        }
    };
    std::shared_ptr<Gate> readGate = std::make_shared<Gate>();
    // Waits (a few seconds at most) until no file is being read; whether none is.
    static bool readsEnd() {
        for (int i = 0; i < 500 && BackgroundRead::running() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return BackgroundRead::running() == 0;
    }
    nlohmann::json state() {
        studio->refresh();
        return nlohmann::json::parse(studio->stateJson());
    }
    // Moves point 0, as one undo step.
    void edit(float x) {
        doc.startUndo();
        doc.addUndo(UNDO_OBJECT_CHANGE, object);
        doc.endUndo();
        object->points[0].x = x;
    }

    fs::path folder;
    Document doc;
    DialogHost dialogs;
    MainTasks tasks;
    std::unique_ptr<StudioServer> server = std::make_unique<StudioServer>(".", tasks);
    PolygonObject* object = nullptr;
    std::unique_ptr<Studio> studio;
};

TEST_F(StudioModelTest, StateCountsWhatIsShownAndVersionsChangeOnlyWithTheDocument) {
    nlohmann::json s = state();
    const uint64_t v = s["version"];
    ASSERT_EQ(s["objects"].size(), 1u);
    const auto& o = s["objects"][0];
    EXPECT_EQ(o["name"], "part");
    EXPECT_EQ(o["points"], 5);  // point 5 is used by no live polygon
    EXPECT_EQ(o["polygons"], 2);
    EXPECT_EQ(o["quads"], 1);
    EXPECT_EQ(o["triangles"], 1);
    EXPECT_EQ(o["tags"][0]["typeName"], "uvw");
    const int mesh = o["meshVersion"];
    EXPECT_EQ(state()["version"], v) << "nothing changed";
    object->points[1].y = 0.5f;
    s = state();
    EXPECT_EQ(s["version"], v + 1);
    EXPECT_EQ(s["objects"][0]["meshVersion"], mesh + 1);
    object->visible = false;
    s = state();
    EXPECT_EQ(s["objects"][0]["meshVersion"], mesh + 1) << "visibility is not geometry";
    EXPECT_EQ(s["objects"][0]["visible"], false);
}

TEST_F(StudioModelTest, UndoRedoAndNewWorkClearsWhatCouldBeRedone) {
    edit(5);
    edit(7);
    EXPECT_EQ(studio->undo().status, 200);
    EXPECT_EQ(object->points[0].x, 5);
    EXPECT_EQ(studio->undo().status, 200);
    EXPECT_EQ(object->points[0].x, 0);
    EXPECT_EQ(studio->undo().status, 409) << "nothing left to undo";
    EXPECT_EQ(state()["document"]["redo"], 2);
    EXPECT_EQ(studio->redo().status, 200);
    EXPECT_EQ(object->points[0].x, 5);
    EXPECT_EQ(doc.undoDepth(), 1) << "a redo can be undone again";
    EXPECT_EQ(studio->undo().status, 200);
    EXPECT_EQ(object->points[0].x, 0);
    EXPECT_EQ(studio->redo().status, 200);
    EXPECT_EQ(studio->redo().status, 200);
    EXPECT_EQ(object->points[0].x, 7);
    EXPECT_EQ(studio->redo().status, 409);
    EXPECT_EQ(studio->undo().status, 200);
    edit(3);  // new work: the undone step cannot come back
    EXPECT_EQ(state()["document"]["redo"], 0) << "the page's Redo goes off with the new work, before it is pressed";
    const ApiResponse r = studio->redo();
    EXPECT_EQ(r.status, 409);
    EXPECT_EQ(object->points[0].x, 3);
}

TEST_F(StudioModelTest, SaveWritesWhatIsShownAndFailsWithoutLeavingAFile) {
    const std::string file = (folder / "out.obj").string();
    ApiResponse r = studio->save(file);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(nlohmann::json::parse(r.body)["points"], 5);
    Document back;
    std::vector<Object*> loaded;
    std::string error;
    ASSERT_TRUE(readObj(file, back, &loaded, &error)) << error;
    ASSERT_EQ(loaded.size(), 1u);
    auto* p = static_cast<PolygonObject*>(loaded[0]);
    EXPECT_EQ(p->pointCount(), 5);
    EXPECT_EQ(p->polygons, (std::vector<Polygon>{{0, 1, 2, 3}, {1, 4, 2, 2}}));

    const std::string nowhere = (folder / "missing" / "out.obj").string();
    r = studio->save(nowhere);
    EXPECT_EQ(r.status, 422);
    EXPECT_NE(r.body.find("missing"), std::string::npos) << r.body;
    EXPECT_FALSE(fs::exists(nowhere));
    EXPECT_EQ(studio->save("").status, 400);
}

TEST_F(StudioModelTest, UnsavedFollowsTheContentAndSavingAsMakesTheFileTheDocument) {
    EXPECT_EQ(state()["document"]["unsaved"], false) << "as opened";
    object->visible = false;
    object->polygonSelection.resize(object->polygonCount());
    object->polygonSelection.select(0);
    EXPECT_EQ(state()["document"]["unsaved"], false) << "visibility and selection are kept in no file";
    edit(5);
    EXPECT_EQ(state()["document"]["unsaved"], true);
    ASSERT_EQ(studio->undo().status, 200);
    EXPECT_EQ(state()["document"]["unsaved"], false) << "undone back to what was opened";
    edit(6);
    const std::string file = (folder / "part.obj").string();
    ASSERT_EQ(studio->save(file).status, 200);
    nlohmann::json s = state();
    EXPECT_EQ(s["document"]["unsaved"], false);
    EXPECT_EQ(s["document"]["path"], file) << "saved as: the view names the new file";

    // Work the host could not save goes beside the document, as the view shows it.
    object->points[1].y = 2.0f;
    EXPECT_EQ(state()["document"]["unsaved"], true);
    std::string error;
    const std::string kept = studio->writeRecovery(&error);
    ASSERT_EQ(kept, (folder / "part.recovery.obj").string()) << error;
    Document back;
    std::vector<Object*> loaded;
    ASSERT_TRUE(readObj(kept, back, &loaded, &error)) << error;
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(static_cast<PolygonObject*>(loaded[0])->pointCount(), 5) << "without the points no polygon uses";
    EXPECT_EQ(static_cast<PolygonObject*>(loaded[0])->points[1].y, 2.0f);
    EXPECT_EQ(recoveryPathFor(""), "untitled.recovery.obj");
}

TEST_F(StudioModelTest, OpenAddsAndSelectsTheObjectsOrChangesNothing) {
    const std::string good = (folder / "tri.obj").string();
    std::ofstream(good) << "o tri\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const std::string bad = (folder / "bad.obj").string();
    std::ofstream(bad) << "o broken\nv 0 0 0\nf 1 2 7\n";
    ApiResponse r = studio->open(bad);
    EXPECT_EQ(r.status, 422);
    EXPECT_NE(r.body.find("bad.obj"), std::string::npos) << r.body;
    EXPECT_EQ(doc.allObjects().size(), 1u);
    EXPECT_EQ(studio->open((folder / "none.obj").string()).status, 422);
    r = studio->open(good);
    ASSERT_EQ(r.status, 200) << r.body;
    ASSERT_EQ(doc.allObjects().size(), 2u);
    Object* tri = doc.find("tri");
    ASSERT_NE(tri, nullptr);
    EXPECT_EQ(nlohmann::json::parse(r.body)["loaded"][0], studio->idOf(tri));
    EXPECT_EQ(doc.activeObjects(), std::vector<Object*>{tri});
}

// A file that takes long to read: the open is answered 202 at once, the host keeps answering, the
// state names the file while it is read and its outcome after; a stopped open adds nothing.
TEST_F(StudioModelTest, ALongOpenGoesOnBesideOtherCallsAndCanBeStopped) {
    const std::string good = (folder / "tri.obj").string(), other = (folder / "other.obj").string();
    const std::string bad = (folder / "bad.obj").string();
    std::ofstream(good) << "o tri\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    std::ofstream(other) << "o other\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    std::ofstream(bad) << "o broken\nv 0 0 0\nf 1 2 7\n";
    studio->setOpenWait(std::chrono::milliseconds(0));
    const int64_t first = studio->idOf(object);

    readGate->close();
    ApiResponse r = studio->open(good);
    ASSERT_EQ(r.status, 202) << r.body;
    EXPECT_EQ(state()["opening"]["path"], good);
    EXPECT_EQ(studio->select({first}).status, 200) << "other calls are answered meanwhile";
    EXPECT_EQ(studio->open(other).status, 409) << "one file at a time";
    readGate->open();
    ASSERT_TRUE(readsEnd());
    nlohmann::json s = state();
    Object* tri = doc.find("tri");
    ASSERT_NE(tri, nullptr);
    EXPECT_TRUE(s["opening"].is_null());
    EXPECT_EQ(s["opened"]["loaded"][0], studio->idOf(tri));
    EXPECT_EQ(doc.activeObjects(), std::vector<Object*>{tri});

    // Stopped: the read ends on its own later, and nothing of it joins the document.
    readGate->close();
    ASSERT_EQ(studio->open(other).status, 202);
    EXPECT_EQ(studio->stopOpening().status, 200);
    s = state();
    EXPECT_TRUE(s["opening"].is_null());
    EXPECT_EQ(s["opened"]["stopped"], true);
    EXPECT_EQ(s["opened"]["path"], other);
    readGate->open();
    ASSERT_TRUE(readsEnd());
    state();
    EXPECT_EQ(doc.find("other"), nullptr);
    EXPECT_EQ(doc.allObjects().size(), 2u);
    EXPECT_EQ(studio->stopOpening().status, 409) << "nothing is being opened";

    // A file that turns out broken: its error is the open's outcome, and the document is as it was.
    readGate->close();
    ASSERT_EQ(studio->open(bad).status, 202);
    readGate->open();
    ASSERT_TRUE(readsEnd());
    s = state();
    EXPECT_NE(s["opened"]["error"].get<std::string>().find("bad.obj"), std::string::npos) << s["opened"];
    EXPECT_EQ(doc.allObjects().size(), 2u);
}

TEST_F(StudioModelTest, SelectionByIdRefusesUnknownObjects) {
    const int id = studio->idOf(object);
    EXPECT_EQ(studio->select({id}).status, 200);
    EXPECT_TRUE(object->active);
    EXPECT_EQ(studio->select({id + 100}).status, 404);
    EXPECT_TRUE(object->active) << "a refused selection changes nothing";
    EXPECT_EQ(studio->select({}).status, 200);
    EXPECT_FALSE(object->active);
}

TEST_F(StudioModelTest, AGroupBecomesThePolygonSelectionInPolygonModeAndTheMeshCarriesIt) {
    auto* group = static_cast<SelectionTag*>(
        object->addTag(std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "rim", 3)));
    group->set.select(2);
    object->polygonSelection.resize(3);
    object->polygonSelection.resize(object->polygonCount());
    object->polygonSelection.select(0);  // an earlier selection is replaced
    const int id = studio->idOf(object);
    EXPECT_EQ(studio->selectGroup(id, 0).status, 404) << "tag 0 is the UVW tag, not a group";
    EXPECT_EQ(studio->selectGroup(id + 1, 1).status, 404);
    const ApiResponse r = studio->selectGroup(id, 1);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_FALSE(object->polygonSelection.isSelected(0));
    EXPECT_TRUE(object->polygonSelection.isSelected(2));
    EXPECT_EQ(object->polygonSelection.count(), 1);
    EXPECT_EQ(doc.editingMode(), MODE_POLYGONS);
    EXPECT_EQ(doc.activeObjects(), std::vector<Object*>{object});
    const std::string b = encodeMesh(*object);
    EXPECT_EQ(intAt(b, 12), 1 | 4);
    ASSERT_EQ(b.size(), 16u + 6 * 12 + 3 * 16 + 3 * 32 + 4);
    EXPECT_EQ(b.substr(b.size() - 4), std::string("\0\0\1\0", 4));
}

// Fault 3 of issue 22: a save to "notes.txt\u0000.glb" took its format from the part after the NUL and
// wrote the part before it (and the reply named another file). Every control character in a path
// is refused, by open and save alike, and nothing is written.
TEST_F(StudioModelTest, PathsWithControlCharactersAreRefusedAndNothingIsWritten) {
    const std::string base = (folder / "notes.txt").string();
    const struct {
        const char* what;
        std::string path;
    } cases[] = {
        {"a NUL", base + std::string("\0.glb", 5)},
        {"a NUL at the end", base + std::string("\0", 1)},
        {"a newline", base + "\n.obj"},
        {"a carriage return", base + "\r.obj"},
        {"a tab", base + "\t.obj"},
        {"an escape sequence", base + "\x1b[31m.obj"},
        {"a delete", base + "\x7f.obj"},
        {"a bell", base + "\x07.obj"},
    };
    for (const auto& c : cases) {
        const ApiResponse saved = studio->save(c.path);
        EXPECT_EQ(saved.status, 400) << c.what;
        EXPECT_NE(saved.body.find("control character"), std::string::npos) << c.what << ": " << saved.body;
        const ApiResponse opened = studio->open(c.path);
        EXPECT_EQ(opened.status, 400) << c.what;
        EXPECT_NE(opened.body.find("control character"), std::string::npos) << c.what << ": " << opened.body;
    }
    EXPECT_TRUE(fs::is_empty(folder)) << "nothing was written";
    EXPECT_EQ(pathProblem(std::string("a\0b", 3)), "the path holds a control character (NUL, U+0000) at byte 2: no file is named so");
    EXPECT_EQ(pathProblem("ünïcode name.obj"), "") << "other characters are fine";
    EXPECT_NE(pathProblem(std::string(5000, 'a')), "");
    // A plain path: the reply names the file written, as a whole path.
    const fs::path here = fs::current_path();
    fs::current_path(folder);
    const ApiResponse r = studio->save("saved.obj");
    fs::current_path(here);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(nlohmann::json::parse(r.body)["saved"], (folder / "saved.obj").string());
    EXPECT_TRUE(fs::exists(folder / "saved.obj"));
}

// Fault 7 of issue 22: opening a FIFO wedged the main thread until a writer came. The studio reads
// and writes regular files only, and says so at once.
TEST_F(StudioModelTest, FifosFoldersAndDevicesAreRefusedAtOnce) {
    const std::string fifo = (folder / "pipe.obj").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string dir = (folder / "dir.obj").string();
    fs::create_directory(dir);
    const struct {
        std::string path;
        const char* kind;
        bool openRefused, saveRefused;
    } cases[] = {
        {fifo, "a FIFO", true, true},
        {dir, "a folder", true, true},
        {"/dev/null", "a device", true, true},
        {"/dev/zero", "a device", true, true},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const ApiResponse opened = studio->open(c.path);
        const ApiResponse saved = studio->save(c.path);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.path;
        EXPECT_EQ(opened.status, 422) << c.path;
        EXPECT_NE(opened.body.find(std::string(c.path) + " is " + c.kind), std::string::npos) << opened.body;
        EXPECT_EQ(saved.status, 422) << c.path;
        EXPECT_NE(saved.body.find("regular files only"), std::string::npos) << saved.body;
    }
    EXPECT_EQ(doc.allObjects().size(), 1u);
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo) << "the FIFO is left as it was";
}

// Fault 10 of issue 22: the studio cut 64-bit ids to int, so an id beyond 32 bits named another
// object. Ids are kept whole; one that names no object is refused.
TEST_F(StudioModelTest, SixtyFourBitIdsAreKeptWhole) {
    const int64_t small = studio->idOf(object);
    const int64_t big = (int64_t{1} << 32) + small;
    studio->startIdsAt(big);
    const std::string good = (folder / "tri.obj").string();
    std::ofstream(good) << "o tri\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const ApiResponse r = studio->open(good);
    ASSERT_EQ(r.status, 200) << r.body;
    Object* tri = doc.find("tri");
    ASSERT_NE(tri, nullptr);
    EXPECT_EQ(studio->idOf(tri), big);
    EXPECT_EQ(nlohmann::json::parse(r.body)["loaded"][0].get<int64_t>(), big);
    EXPECT_EQ(studio->objectById(big), tri);
    EXPECT_EQ(studio->objectById(small), object) << "not one for the other";
    const nlohmann::json s = state();
    EXPECT_EQ(s["objects"][1]["id"].get<int64_t>(), big);
    const struct {
        int64_t id;
        int status;
        Object* active;
    } cases[] = {
        {big, 200, tri},
        {small, 200, object},
        {big + (int64_t{1} << 32), 404, nullptr},
        {small + (int64_t{1} << 32) * 2, 404, nullptr},
        {-big, 404, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(studio->select({c.id}).status, c.status) << c.id;
        if (c.active) {
            EXPECT_EQ(doc.activeObjects(), std::vector<Object*>{c.active}) << c.id;
        }
    }
}

// The interface as the page calls it, over HTTP: whole 64-bit ids in bodies and queries, plug-in and
// gadget numbers beyond 32 bits refused rather than cut, paths with control characters refused, a
// malformed value answered 400 (never the end of the host), a brush move of 10,000 positions refused.
TEST_F(StudioModelTest, TheInterfaceRefusesWhatItCannotTakeWhole) {
    studio->addRoutes();
    StudioBrush brush(doc, *server, tasks, studio->sentMeshes(), nullptr, [this](Object* o) { return studio->idOf(o); });
    brush.addRoutes();
    std::string error;
    ASSERT_TRUE(server->start(0, &error)) << error;
    const int64_t small = studio->idOf(object);
    const std::string wrapped = std::to_string((int64_t{1} << 32) + small);
    const struct {
        const char* what;
        std::string method, path, body;
        int status;
    } cases[] = {
        {"select, an id beyond 32 bits", "POST", "/api/select", "{\"ids\": [" + wrapped + "]}", 404},
        {"select, an id beyond 64 bits", "POST", "/api/select", "{\"ids\": [18446744073709551615]}", 400},
        {"select, the object's own id", "POST", "/api/select", "{\"ids\": [" + std::to_string(small) + "]}", 200},
        {"visible, an id beyond 32 bits", "POST", "/api/visible", "{\"id\": " + wrapped + ", \"visible\": false}", 404},
        {"mesh, an id beyond 32 bits", "GET", "/api/mesh?id=" + wrapped, "", 404},
        {"mesh, an id beyond 64 bits", "GET", "/api/mesh?id=99999999999999999999", "", 400},
        {"mesh, a signed id", "GET", "/api/mesh?id=-1", "", 400},
        {"mesh, the object's own id", "GET", "/api/mesh?id=" + std::to_string(small), "", 200},
        {"mesh, a base beyond 32 bits", "GET", "/api/mesh?id=" + std::to_string(small) + "&base=4294967296", "", 400},
        {"mesh, a base with a sign", "GET", "/api/mesh?id=" + std::to_string(small) + "&base=-1", "", 400},
        {"group, an id beyond 32 bits", "POST", "/api/select-group", "{\"object\": " + wrapped + ", \"tag\": 0}", 404},
        {"group, a tag beyond 32 bits", "POST", "/api/select-group",
         "{\"object\": " + std::to_string(small) + ", \"tag\": 4294967296}", 404},
        {"mode beyond 32 bits", "POST", "/api/mode", "{\"mode\": 4294967303}", 400},
        {"a plug-in beyond 32 bits", "POST", "/api/command", "{\"plugin\": 4294967296}", 400},
        {"a dialog beyond 32 bits", "POST", "/api/dialog", "{\"plugin\": 4296983123, \"action\": \"close\"}", 400},
        {"an action that is no text", "POST", "/api/dialog", "{\"plugin\": 1, \"action\": 5}", 404},
        {"an area beyond 32 bits", "GET", "/api/area.png?plugin=4294967296&gadget=1", "", 400},
        {"save with a NUL", "POST", "/api/save", "{\"path\": \"" + (folder / "notes.txt").string() + "\\u0000.glb\"}", 400},
        {"open with a newline", "POST", "/api/open", "{\"path\": \"" + (folder / "a").string() + "\\n.obj\"}", 400},
        {"a brush move of 10,000 positions", "POST", "/api/brush/event", "", 400},
    };
    std::string longMove = "{\"kind\": \"move\", \"path\": [";
    for (int i = 0; i < 10000; ++i) longMove += std::string(i ? "," : "") + "[" + std::to_string(i % 500) + ", 10]";
    longMove += "]}";
    std::atomic<bool> done{false};
    std::thread client([&] {
        for (const auto& c : cases) {
            httplib::Client http("127.0.0.1", server->port());
            const httplib::Headers headers = {{"X-Vexlor-Token", server->token()}};
            const std::string body = c.body.empty() && c.method == "POST" ? longMove : c.body;
            const auto start = std::chrono::steady_clock::now();
            auto r = c.method == "POST" ? http.Post(c.path.c_str(), headers, body, "application/json")
                                        : http.Get(c.path.c_str(), headers);
            ASSERT_TRUE(r) << c.what;
            EXPECT_EQ(r->status, c.status) << c.what << ": " << r->body;
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
        }
        done = true;
    });
    while (!done) {
        tasks.waitForWork(5);
        tasks.runPending();
    }
    client.join();
    server->stop();
    EXPECT_TRUE(fs::is_empty(folder)) << "nothing was written";
    EXPECT_EQ(doc.allObjects().size(), 1u);
}

// A long call holds the main thread; the host's progress is still answered, from the status bar.
TEST_F(StudioModelTest, ProgressIsAnsweredWhileTheMainThreadIsHeld) {
    studio->addRoutes();
    std::string error;
    ASSERT_TRUE(server->start(0, &error)) << error;
    host::StatusBar& bar = host::StatusBar::main();
    bar.setQuiet(true);
    bar.text("Preparing the preview");
    bar.bar(40);
    // Nothing pumps the main tasks here: a main-thread route would wait for them.
    httplib::Client http("127.0.0.1", server->port());
    auto r = http.Get("/api/progress", {{"X-Vexlor-Token", server->token()}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    const nlohmann::json p = nlohmann::json::parse(r->body);
    EXPECT_EQ(p["percent"], 40);
    EXPECT_EQ(p["line"], "[########............] 40% Preparing the preview");
    bar.clear();
    bar.setQuiet(false);
    server->stop();
}

}  // namespace

// The file picker lists folders and mesh files under the start folder and refuses any folder outside,
// however it is named.
TEST(StudioFiles, ListsFoldersAndMeshFilesUnderTheStartFolderOnly) {
    const fs::path root = fs::temp_directory_path() / ("vexlor-studio-files-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "parts" / "deeper");
    fs::create_directories(root / ".hidden");
    std::ofstream(root / "parts" / "b.obj") << "v 0 0 0\n";
    std::ofstream(root / "parts" / "notes.txt") << "not a mesh\n";
    std::ofstream(root / "a.GLB") << "glTF";
    fs::create_directory_symlink(fs::temp_directory_path(), root / "outside");
    std::ofstream(root.string() + "-secret.obj") << "v 0 0 0\n";
    fs::create_symlink(root.string() + "-secret.obj", root / "secret.obj");
    fs::create_symlink(root / "parts" / "b.obj", root / "parts" / "alias.obj");
    ASSERT_EQ(::mkfifo((root / "pipe.obj").c_str(), 0600), 0);

    auto list = [&](const std::string& dir) {
        const ApiResponse r = listFolder(root.string(), dir);
        return std::make_pair(r.status, r.status == 200 ? nlohmann::json::parse(r.body) : nlohmann::json());
    };
    auto names = [](const nlohmann::json& j) {
        std::vector<std::string> out;
        for (const auto& e : j["entries"]) out.push_back(e["path"].get<std::string>() + (e["folder"] ? "/" : ""));
        return out;
    };
    auto [status, top] = list("");
    ASSERT_EQ(status, 200);
    EXPECT_EQ(names(top), (std::vector<std::string>{"parts/", "a.GLB"})) << "no hidden entry, no link leading outside (folder or file), no FIFO";
    EXPECT_TRUE(top["parent"].is_null());
    EXPECT_EQ(top["entries"][1]["format"], "glTF binary") << top.dump();
    auto [status2, parts] = list("parts");
    ASSERT_EQ(status2, 200);
    EXPECT_EQ(names(parts), (std::vector<std::string>{"parts/deeper/", "parts/alias.obj", "parts/b.obj"}))
        << "a link that stays inside is listed";
    EXPECT_EQ(parts["parent"], "");

    const std::vector<std::pair<std::string, int>> refused = {
        {"..", 403}, {"parts/../..", 403}, {"/etc", 403}, {"outside", 403}, {"missing", 404},
        {"parts/b.obj", 404}, {std::string("parts\0x", 7), 400},
    };
    for (const auto& [dir, expected] : refused) EXPECT_EQ(list(dir).first, expected) << dir;
    fs::remove_all(root);
    fs::remove(root.string() + "-secret.obj");
}
