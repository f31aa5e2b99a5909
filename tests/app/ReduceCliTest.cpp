// `vexlor reduce` and `vexlor lod` end to end, as a user runs them: the reduced sample keeps its
// quads, UV seams and groups and has no broken polygon; --group leaves the rest of the object as it
// was; the preview road writes the same file as the direct road; a level chain; bad input refused
// with a message; Ctrl-C taking the pass back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "RunVexlor.h"
#include "host/Document.h"
#include "host/ObjFile.h"
#include "host/Tags.h"
#include "tests/support/ObjGrid.h"
#include "tests/support/MeshFlaw.h"
#include "tests/app/LoadedFile.h"

extern char** environ;

namespace {

using testsupport::meshFlaw;

int quads(const host::PolygonObject& obj) {
    return static_cast<int>(std::count_if(obj.polygons.begin(), obj.polygons.end(),
                                          [](const host::Polygon& p) { return p.c != p.d; }));
}

const host::SelectionTag* group(const host::PolygonObject& obj, const std::string& name) {
    for (const auto& t : obj.tags())
        if (t->type() == host::TAG_POLYGON_SELECTION && t->name() == name)
            return static_cast<const host::SelectionTag*>(t.get());
    return nullptr;
}

// A polygon as what it shows: each corner's position and texture coordinates, in order.
using Corner = std::tuple<float, float, float, float, float>;
std::multiset<std::vector<Corner>> polygonsOutside(const host::PolygonObject& obj, const std::string& name) {
    const host::SelectionTag* g = group(obj, name);
    const auto* uvw = static_cast<const host::UVWTag*>(obj.tag(host::TAG_UVW));
    std::multiset<std::vector<Corner>> out;
    for (int i = 0; i < obj.polygonCount(); ++i) {
        if (g && g->set.isSelected(i)) continue;
        const host::Polygon& p = obj.polygons[i];
        const int c[4] = {p.a, p.b, p.c, p.d};
        std::vector<Corner> corners;
        for (int k = 0; k < 4; ++k) {
            const host::Vec3f& at = obj.points[c[k]];
            const host::Vec3f uv = uvw ? uvw->data[i].corner(k) : host::Vec3f{};
            corners.emplace_back(at.x, at.y, at.z, uv.x, uv.y);
        }
        out.insert(corners);
    }
    return out;
}

// A flat-ish OBJ grid of n x n quads with texture coordinates.
std::string gridObj(int n) {
    return testsupport::objGridText({.quads = n,
                                     .point = [](int x, int y) {
                                         return std::array<double, 3>{double(x), double(y), 0.3 * std::sin(x * 0.7 + y)};
                                     },
                                     .uv = testsupport::ObjUv::PerPoint});
}

// Runs vexlor in the background, so that a test can signal it.
class Background {
public:
    explicit Background(const std::vector<std::string>& args) {
        folder_ = makeTempFolder();
        errPath_ = folder_ + "/stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (folder_ + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> store{std::string(VEXLOR_BIN_DIR) + "/vexlor"};
        store.insert(store.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : store) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, store[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Background() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Waits until stderr holds `text` (false when the program ended or the time ran out).
    bool waitForError(const std::string& text, int seconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            if (readFile(errPath_).find(text) != std::string::npos) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void interrupt() { kill(pid_, SIGINT); }
    int wait() {
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return exitCode_;
    }
    std::string err() const { return readFile(errPath_); }

private:
    std::string folder_, errPath_;
    pid_t pid_ = -1;
    int exitCode_ = -1;
};

TEST(VexlorReduce, TheReducedSampleKeepsItsQuadsSeamsAndGroups) {
    const std::string out = makeTempFolder() + "/quarter.obj";
    const RunResult r = runVexlor({"reduce", kSample, "-o", out, "--ratio", "25"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(out), std::string::npos) << r.out;
    LoadedFile l = loadObj(out);
    ASSERT_EQ(l.objects.size(), 1u);
    const host::PolygonObject& obj = l.first();
    EXPECT_EQ(obj.pointCount(), 864);
    EXPECT_EQ(meshFlaw(obj), "");
    EXPECT_GT(quads(obj), obj.polygonCount() - quads(obj)) << "mostly quads";
    // The UV map is cut open along the torus's seams: points there keep two texture coordinates.
    const auto* uvw = static_cast<const host::UVWTag*>(obj.tag(host::TAG_UVW));
    ASSERT_NE(uvw, nullptr);
    std::map<int, std::set<std::pair<float, float>>> uvs;
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const host::Polygon& p = obj.polygons[i];
        const int c[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < (p.c == p.d ? 3 : 4); ++k) uvs[c[k]].insert({uvw->data[i].corner(k).x, uvw->data[i].corner(k).y});
    }
    const long seamPoints = std::count_if(uvs.begin(), uvs.end(), [](const auto& e) { return e.second.size() > 1; });
    EXPECT_GE(seamPoints, 40);
    for (const char* name : {"rim", "hole"}) {
        const host::SelectionTag* g = group(obj, name);
        ASSERT_NE(g, nullptr) << name;
        EXPECT_GT(g->set.count(), 50) << name;
        EXPECT_LT(g->set.count(), obj.polygonCount() / 2) << name;
    }
    // The corner normals come along too.
    EXPECT_NE(obj.tag(host::TAG_NORMALS), nullptr);
}

TEST(VexlorReduce, ThePreviewRoadWritesTheSameFileAsTheDirectRoad) {
    const std::string folder = makeTempFolder();
    for (const std::vector<std::string>& target :
         {std::vector<std::string>{"--points", "700"}, {"--ratio", "12.5"}}) {
        std::vector<std::string> direct = {"reduce", kSample, "-o", folder + "/direct.obj"};
        std::vector<std::string> preview = {"reduce", kSample, "-o", folder + "/preview.obj", "--preview"};
        direct.insert(direct.end(), target.begin(), target.end());
        preview.insert(preview.end(), target.begin(), target.end());
        const RunResult d = runVexlor(direct), p = runVexlor(preview);
        ASSERT_EQ(d.exitCode, 0) << d.err;
        ASSERT_EQ(p.exitCode, 0) << p.err;
        const std::string a = readFile(folder + "/direct.obj"), b = readFile(folder + "/preview.obj");
        EXPECT_FALSE(a.empty());
        EXPECT_TRUE(a == b) << target[0] << " " << target[1];
    }
    EXPECT_EQ(loadObj(folder + "/direct.obj").first().pointCount() < 3456, true);
}

TEST(VexlorReduce, AnyThreadCountWritesTheSameFile) {
    // 10201 points: the set-up spreads over three blocks of points.
    const std::string folder = makeTempFolder();
    writeFile(folder + "/grid.obj", gridObj(100));
    std::string first;
    for (const char* threads : {"1", "3"}) {
        const std::string out = folder + "/t" + threads + ".obj";
        const RunResult r = runVexlor({"reduce", folder + "/grid.obj", "-o", out, "--ratio", "10", "--threads", threads});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string written = readFile(out);
        ASSERT_FALSE(written.empty());
        if (first.empty())
            first = written;
        else
            EXPECT_TRUE(written == first) << threads << " threads";
    }
}

TEST(VexlorReduce, AGroupIsReducedAndEverythingOutsideItStaysExactlyAsItWas) {
    const std::string out = makeTempFolder() + "/rim.obj";
    const RunResult r = runVexlor({"reduce", kSample, "-o", out, "--group", "rim", "--ratio", "30"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    LoadedFile before = loadObj(kSample), after = loadObj(out);
    EXPECT_EQ(meshFlaw(after.first()), "");
    EXPECT_LT(after.first().pointCount(), before.first().pointCount());
    EXPECT_LT(group(after.first(), "rim")->set.count(), group(before.first(), "rim")->set.count());
    EXPECT_EQ(group(after.first(), "hole")->set.count(), group(before.first(), "hole")->set.count());
    EXPECT_TRUE(polygonsOutside(after.first(), "rim") == polygonsOutside(before.first(), "rim"));
}

TEST(VexlorReduce, SettingsAndTheDialogAreShown) {
    const std::string out = makeTempFolder() + "/s.obj";
    const RunResult r = runVexlor({"reduce", kSample, "-o", out, "--ratio", "25", "--weighting", "angle", "--no-checks",
                                   "--boundary-weight", "50", "--show-dialog"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Vexlor Reduce"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(*) Angle"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[ ] Quality checks"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Boundary weight: 50"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Target: 864"), std::string::npos) << r.out;
    EXPECT_EQ(loadObj(out).first().pointCount(), 864);
}

TEST(VexlorReduce, AnErrorLimitMeansTheSameInAnyUnits) {
    // The sample and the sample in units a thousand times smaller (every point x1000).
    const std::string folder = makeTempFolder();
    LoadedFile big = loadObj(kSample);
    for (host::Vec3f& p : big.first().points) p = {p.x * 1000.0f, p.y * 1000.0f, p.z * 1000.0f};
    std::string error;
    const std::string bigPath = folder + "/big.obj";
    ASSERT_TRUE(host::writeObj(bigPath, {big.objects.front()}, &error)) << error;
    const RunResult a = runVexlor({"reduce", kSample, "-o", folder + "/a.obj", "--error", "10000"});
    const RunResult b = runVexlor({"reduce", bigPath, "-o", folder + "/b.obj", "--error", "10000"});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    const int small = loadObj(folder + "/a.obj").first().pointCount();
    const int large = loadObj(folder + "/b.obj").first().pointCount();
    EXPECT_LT(small, 3456 * 9 / 10);
    EXPECT_GT(small, 3456 / 10);
    EXPECT_NEAR(large, small, small / 200 + 1);
}

TEST(VexlorLod, OneReductionWritesEveryLevelAndTheFinestToCoarsestMatchDirectRuns) {
    const std::string folder = makeTempFolder();
    const RunResult r = runVexlor({"lod", kSample, "-o", folder + "/torus_lod{n}.obj", "--levels", "50%,25%,10%,e0.0005"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const int expected[] = {1728, 864, 345};
    for (int i = 0; i < 3; ++i) {
        const std::string path = folder + "/torus_lod" + std::to_string(i + 1) + ".obj";
        EXPECT_NE(r.out.find(path), std::string::npos) << r.out;
        LoadedFile l = loadObj(path);
        EXPECT_EQ(l.first().pointCount(), expected[i]) << path;
        EXPECT_EQ(meshFlaw(l.first()), "") << path;
        // Most polygons come back as quads; at 10 % of the points the torus is coarse enough that
        // a good share of them stay triangles (about two fifths are quads there, give or take a
        // few polygons with any change in the order of the contractions).
        EXPECT_GT(quads(l.first()) * 100, l.first().polygonCount() * (i < 2 ? 50 : 38)) << path;
    }
    // A level is the same mesh that a direct reduction to it writes.
    const RunResult d = runVexlor({"reduce", kSample, "-o", folder + "/direct25.obj", "--ratio", "25"});
    ASSERT_EQ(d.exitCode, 0) << d.err;
    EXPECT_TRUE(readFile(folder + "/direct25.obj") == readFile(folder + "/torus_lod2.obj"));
    // The error level stops where the recorded costs pass the limit.
    LoadedFile byError = loadObj(folder + "/torus_lod4.obj");
    EXPECT_EQ(meshFlaw(byError.first()), "");
    EXPECT_LE(byError.first().pointCount(), 3456);
    // The input is as it was.
    EXPECT_EQ(loadObj(kSample).first().pointCount(), 3456);
}

TEST(VexlorReduce, BadInputIsRefusedWithAClearMessageAndNothingIsWritten) {
    const std::string folder = makeTempFolder();
    const std::string out = folder + "/out.obj";
    const std::string pointsOnly = folder + "/points.obj";
    writeFile(pointsOnly, "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    const std::string twoObjects = folder + "/two.obj";
    writeFile(twoObjects, "o a\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\no b\nv 5 0 0\nv 6 0 0\nv 6 1 0\nf 5 6 7\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"reduce", kSample, "-o", out, "--points", "0"}, "--points 0: the target must keep at least 1 point"},
        {{"reduce", kSample, "-o", out, "--points", "5000"}, "the target 5000 is above the 3456 reducible points"},
        {{"reduce", kSample, "-o", out, "--points", "many"}, "--points many is not a whole number"},
        {{"reduce", kSample, "-o", out, "--points", "12.5"}, "--points 12.5 is not a whole number"},
        {{"reduce", kSample, "-o", out, "--ratio", "0"}, "must keep more than 0 %"},
        {{"reduce", kSample, "-o", out, "--ratio", "150"}, "--ratio 150 is above 100 % of the points"},
        {{"reduce", kSample, "-o", out, "--ratio", "half"}, "--ratio half is not a number"},
        {{"reduce", kSample, "-o", out, "--error", "-1"}, "cannot be negative"},
        {{"reduce", kSample, "-o", out}, "give a target"},
        {{"reduce", pointsOnly, "-o", out, "--ratio", "50"}, "points.obj: no polygons"},
        {{"reduce", twoObjects, "-o", out, "--points", "3"}, "needs a single object"},
        {{"reduce", kSample, "-o", out, "--ratio", "50", "--group", "nope"}, "has no group \"nope\" (its groups: \"hole\", \"rim\")"},
        {{"reduce", kSample, "-o", folder + "/missing/out.obj", "--ratio", "50"}, "does not exist"},
        {{"reduce", kSample, "-o", folder, "--ratio", "50"}, "is a folder"},
        {{"reduce", folder + "/absent.obj", "-o", out, "--ratio", "50"}, "absent.obj"},
        {{"reduce", kSample, "-o", out, "--ratio", "50", "--weighting", "heavy"}, "--weighting heavy is not one of"},
        {{"reduce", kSample, "-o", out, "--ratio", "50", "--no-checks", "--flip", "3"}, "--no-checks turns off"},
        {{"reduce", kSample, "-o", out, "--ratio", "50", "--valence", "2.5"}, "--valence 2.5 is not a whole number"},
        {{"reduce", kSample, "-o", out, "--ratio", "50", "--threads", "0"}, "--threads 0 is outside 1 to 256"},
        {{"reduce", kSample, "-o", out, "--ratio", "50", "--threads", "two"}, "--threads two is not a whole number"},
        {{"lod", kSample, "-o", folder + "/lod.obj", "--levels", "50%,25%"}, "needs {n}"},
        {{"lod", kSample, "-o", folder + "/l{n}.obj", "--levels", "50%,,10%"}, "empty level"},
        {{"lod", kSample, "-o", folder + "/l{n}.obj", "--levels", "50%,0"}, "at least 1 point"},
    };
    for (const Case& c : cases) {
        const RunResult r = runVexlor(c.args);
        EXPECT_NE(r.exitCode, 0) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << "expected \"" << c.message << "\" in: " << r.err;
    }
    EXPECT_FALSE(fileExists(out));
    EXPECT_FALSE(fileExists(folder + "/l1.obj"));
}

TEST(VexlorReduce, CtrlCStopsThePassWritesNothingAndLeavesTheInputAlone) {
    const std::string folder = makeTempFolder();
    const std::string input = folder + "/big.obj";
    // Ctrl-C must come while the contractions run. Progress from the status bar shows that they
    // are under way; it is printed at most once a second when stderr is no terminal, so an
    // optimised build may reduce a small grid before it shows any: then the grid grows (and a
    // size that ended too soon is not tried again).
    const int sizes[] = {300, 700, 1400};
    size_t from = 0;
    for (const bool preview : {false, true}) {
        const std::string out = folder + (preview ? "/preview.obj" : "/direct.obj");
        std::vector<std::string> args = {"reduce", input, "-o", out, "--ratio", "5"};
        if (preview) args.push_back("--preview");
        bool interrupted = false;
        for (size_t k = from; k < std::size(sizes) && !interrupted; ++k) {
            const int quads = sizes[k];
            writeFile(input, gridObj(quads));
            const std::string original = readFile(input);
            Background run(args);
            if (!run.waitForError("%", 300)) {
                ASSERT_EQ(run.wait(), 0) << "the " << quads << " grid: " << run.err();
                std::remove(out.c_str());
                from = k + 1;
                continue;
            }
            run.interrupt();
            EXPECT_EQ(run.wait(), 130) << run.err();
            EXPECT_NE(run.err().find("stopped"), std::string::npos) << run.err();
            EXPECT_FALSE(fileExists(out));
            EXPECT_TRUE(readFile(input) == original);
            interrupted = true;
        }
        EXPECT_TRUE(interrupted) << "every grid was reduced before any progress was shown";
    }
}

}  // namespace

// An error limit means the quadric error on every road: the direct reduction, the preview (prepare,
// move the target, commit) and a level of lod keep the same points. The penalties order the
// contractions but are not part of the error the limit is compared with.
TEST(VexlorReduce, AnErrorLimitKeepsTheSamePointsOnEveryRoad) {
    const std::string folder = makeTempFolder();
    const std::string grid = folder + "/wave.obj";
    writeFile(grid, gridObj(24));
    struct Mesh {
        std::string path;
        int points;
        std::vector<std::string> limits;
    };
    const Mesh meshes[] = {{kSample, 3456, {"100", "1000", "10000", "100000", "1000000"}},
                           // On the wave grid no contraction placed within reach of its edge
                           // costs less than about 28000 (the cheaper optimal points run off along
                           // the surface and fold polygons): the second limit is above that.
                           {grid, 625, {"1000", "50000", "100000", "1000000", "10000000"}}};
    for (const Mesh& m : meshes) {
        std::string levels;
        for (const std::string& l : m.limits) levels += (levels.empty() ? "e" : ",e") + l;
        const RunResult lod = runVexlor({"lod", m.path, "-o", folder + "/lod{n}.obj", "--levels", levels});
        ASSERT_EQ(lod.exitCode, 0) << lod.err;
        std::vector<int> counts;
        for (size_t i = 0; i < m.limits.size(); ++i) {
            const std::string& limit = m.limits[i];
            const RunResult direct = runVexlor({"reduce", m.path, "-o", folder + "/direct.obj", "--error", limit});
            const RunResult preview =
                runVexlor({"reduce", m.path, "-o", folder + "/preview.obj", "--error", limit, "--preview"});
            ASSERT_EQ(direct.exitCode, 0) << direct.err;
            ASSERT_EQ(preview.exitCode, 0) << preview.err;
            const int d = loadObj(folder + "/direct.obj").first().pointCount();
            EXPECT_EQ(loadObj(folder + "/preview.obj").first().pointCount(), d) << m.path << " --error " << limit;
            EXPECT_EQ(loadObj(folder + "/lod" + std::to_string(i + 1) + ".obj").first().pointCount(), d)
                << m.path << " level e" << limit;
            counts.push_back(d);
        }
        // The limits reach different levels: fewer points the larger the limit, and some reduction
        // already at the second limit.
        for (size_t i = 1; i < counts.size(); ++i) EXPECT_LE(counts[i], counts[i - 1]) << m.path;
        EXPECT_LT(counts[1], m.points) << m.path;
        EXPECT_LT(counts.back(), counts.front()) << m.path;
    }
}

TEST(VexlorReduce, ATargetThatChangesNothingSaysSo) {
    const std::string folder = makeTempFolder();
    const std::string flat = folder + "/flat.obj";
    // Two triangles sharing an edge: no contraction can be made for free on their outline.
    writeFile(flat, "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 1\nf 1 2 3\nf 1 3 4\n");
    const RunResult r = runVexlor({"reduce", flat, "-o", folder + "/out.obj", "--error", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("the target 0 removes no point of " + flat + "; written to " + folder + "/out.obj"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"flat\": no point removed, 4 points, 2 polygons"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("reduced "), std::string::npos) << r.out;
}

// One point far away squeezes the rest of the object toward zero error in the reduction's frame; the
// reduction still reaches its target with the same points as without it (its speed is shown by
// bench/outlier_bench).
TEST(VexlorReduce, AFarAwayPointDoesNotChangeWhatIsKept) {
    const std::string folder = makeTempFolder();
    auto withOutlier = [](const std::string& text, double scale, const std::string& outlier) {
        std::string out;
        bool first = true;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = text.find('\n', at);
            const std::string line = text.substr(at, end - at);
            at = end == std::string::npos ? text.size() : end + 1;
            if (line.rfind("v ", 0) != 0) {
                out += line + "\n";
                continue;
            }
            if (first && !outlier.empty()) {
                out += "v " + outlier + " 0 0\n";
            } else {
                double x, y, z;
                std::sscanf(line.c_str() + 2, "%lf %lf %lf", &x, &y, &z);
                char buffer[128];
                std::snprintf(buffer, sizeof buffer, "v %.9g %.9g %.9g\n", x * scale, y * scale, z * scale);
                out += buffer;
            }
            first = false;
        }
        return out;
    };
    struct Case {
        std::string text;
        double scale;
        std::string outlier;
    };
    const Case cases[] = {{readFile(kSample), 1.0, "3e38"},
                          {readFile(std::string(VEXLOR_SOURCE_DIR) + "/samples/bake_high.obj"), 1e6, "1e25"}};
    for (const Case& c : cases) {
        writeFile(folder + "/plain.obj", withOutlier(c.text, c.scale, ""));
        writeFile(folder + "/far.obj", withOutlier(c.text, c.scale, c.outlier));
        const RunResult plain = runVexlor({"reduce", folder + "/plain.obj", "-o", folder + "/plain_out.obj", "--ratio", "10"});
        const RunResult far = runVexlor({"reduce", folder + "/far.obj", "-o", folder + "/far_out.obj", "--ratio", "10"});
        ASSERT_EQ(plain.exitCode, 0) << plain.err;
        ASSERT_EQ(far.exitCode, 0) << far.err;
        const int kept = loadObj(folder + "/plain_out.obj").first().pointCount();
        EXPECT_EQ(loadObj(folder + "/far_out.obj").first().pointCount(), kept) << c.outlier;
        EXPECT_EQ(meshFlaw(loadObj(folder + "/far_out.obj").first()), "") << c.outlier;
    }
}
