// Output files are replaced whole or not at all: a replaced file keeps its mode, a link keeps
// pointing at the file it names, a device is written in place and a failed write there is a failure,
// folders are refused, and a write that fails halfway leaves the old file and no temporary behind.
// Same-file detection for the commands' input/output checks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "host/Bitmap.h"
#include "host/ObjFile.h"
#include "host/SafeOutput.h"
#include "tests/support/FileText.h"

using namespace host;
namespace fs = std::filesystem;

namespace {

std::string freshFolder() {
    static int counter = 0;
    const fs::path p = fs::temp_directory_path() /
                       ("vexlor_safe_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(p);
    fs::create_directories(p);
    return p.string();
}

using testsupport::readText;

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat st{};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// A document with one quad, as writeObj takes it.
struct OneQuad {
    Document doc;
    std::vector<Object*> loaded;
    OneQuad(const std::string& folder) {
        const std::string in = folder + "/quad_source.obj";
        writeText(in, "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
        std::string error;
        EXPECT_TRUE(readObj(in, doc, &loaded, &error)) << error;
        fs::remove(in);
    }
    std::vector<const Object*> objects() const { return {loaded.begin(), loaded.end()}; }
};

}  // namespace

TEST(SafeOutput, AReplacedFileKeepsItsModeAndANewFileGetsTheUsualOne) {
    const std::string folder = freshFolder();
    OneQuad quad(folder);
    const std::string privateObj = folder + "/private.obj", privateText = folder + "/private.txt";
    const std::string privateImage = folder + "/private.png";
    for (const std::string& p : {privateObj, privateText, privateImage}) {
        writeText(p, "old");
        ::chmod(p.c_str(), 0600);
    }
    std::string error;
    ASSERT_TRUE(writeObj(privateObj, quad.objects(), &error)) << error;
    ASSERT_TRUE(writeTextFile(privateText, "scale 2\n", &error)) << error;
    Bitmap image;
    ASSERT_TRUE(image.init(4, 4));
    ASSERT_TRUE(image.save(privateImage, 0, &error)) << error;
    for (const std::string& p : {privateObj, privateText, privateImage}) EXPECT_EQ(modeOf(p), 0600u) << p;
    EXPECT_EQ(readText(privateText), "scale 2\n");
    EXPECT_NE(readText(privateObj).find("f 1 2 3 4"), std::string::npos);

    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_TRUE(writeTextFile(folder + "/new.txt", "x", &error)) << error;
    EXPECT_EQ(modeOf(folder + "/new.txt"), 0666u & ~mask);
    // Nothing but the outputs is left in the folder.
    EXPECT_EQ(entries(folder), (std::vector<std::string>{"new.txt", "private.obj", "private.png", "private.txt"}));
}

TEST(SafeOutput, ALinkIsFollowedAndStaysALink) {
    const std::string folder = freshFolder();
    fs::create_directories(folder + "/real");
    writeText(folder + "/real/target.txt", "old");
    fs::create_symlink("real/target.txt", folder + "/link.txt");
    fs::create_symlink("real/later.txt", folder + "/dangling.txt");
    std::string error;
    ASSERT_TRUE(writeTextFile(folder + "/link.txt", "new", &error)) << error;
    ASSERT_TRUE(writeTextFile(folder + "/dangling.txt", "made", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(folder + "/link.txt"));
    EXPECT_TRUE(fs::is_symlink(folder + "/dangling.txt"));
    EXPECT_EQ(readText(folder + "/real/target.txt"), "new");
    EXPECT_EQ(readText(folder + "/real/later.txt"), "made");
    EXPECT_EQ(entries(folder + "/real"), (std::vector<std::string>{"later.txt", "target.txt"}));
}

TEST(SafeOutput, DevicesAreWrittenInPlaceAndAFullDeviceFailsTheWrite) {
    const std::string folder = freshFolder();
    OneQuad quad(folder);
    std::string error;
    EXPECT_TRUE(writeObj("/dev/null", quad.objects(), &error)) << error;
    struct stat st{};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    EXPECT_FALSE(writeObj("/dev/full", quad.objects(), &error));
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    Bitmap image;
    ASSERT_TRUE(image.init(8, 8));
    error.clear();
    EXPECT_FALSE(image.save("/dev/full", IMAGE_BMP, &error));
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    EXPECT_FALSE(writeTextFile("/dev/full", "text", &error));
}

TEST(SafeOutput, FoldersAreRefusedAndNothingIsCreated) {
    const std::string folder = freshFolder();
    fs::create_directories(folder + "/sub");
    OneQuad quad(folder);
    std::string error;
    EXPECT_FALSE(writeObj(folder + "/sub", quad.objects(), &error));
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
    EXPECT_FALSE(writeTextFile(folder + "/missing/x.txt", "x", &error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(folder + "/sub"));
    EXPECT_EQ(entries(folder), (std::vector<std::string>{"sub"}));
    EXPECT_EQ(outputProblem(folder + "/sub"), folder + "/sub is a folder");
    EXPECT_EQ(outputProblem(folder + "/missing/x.obj"), folder + "/missing/x.obj: the folder " + folder + "/missing does not exist");
    EXPECT_EQ(outputProblem(folder + "/fine.obj"), "");
    EXPECT_EQ(outputProblem("/dev/null"), "");
}

// A write cut short (the file size limit stands in for a full disk) fails, leaves the old file as it
// was and no temporary file.
TEST(SafeOutput, AWriteCutShortKeepsTheOldFileAndLeavesNoTemporary) {
    const std::string folder = freshFolder();
    const std::string target = folder + "/kept.txt";
    writeText(target, "the old contents");
    struct rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool written = writeTextFile(target, std::string(5000, 'x'), &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
    EXPECT_EQ(readText(target), "the old contents");
    EXPECT_EQ(entries(folder), (std::vector<std::string>{"kept.txt"}));
}

TEST(SafeOutput, OutputsFinishedButNotCommittedLeaveTheTargetsAlone) {
    const std::string folder = freshFolder();
    writeText(folder + "/a.txt", "old a");
    {
        SafeOutput a, b;
        std::string error;
        ASSERT_TRUE(a.open(folder + "/a.txt", &error)) << error;
        ASSERT_TRUE(b.open(folder + "/b.txt", &error)) << error;
        ASSERT_TRUE(a.write("new a", 5));
        ASSERT_TRUE(b.write("new b", 5));
        ASSERT_TRUE(a.finish(&error)) << error;
        ASSERT_TRUE(b.finish(&error)) << error;
        EXPECT_EQ(readText(folder + "/a.txt"), "old a");
        EXPECT_FALSE(fs::exists(folder + "/b.txt"));
        ASSERT_TRUE(a.commit(&error)) << error;
        // b goes out of scope uncommitted.
    }
    EXPECT_EQ(readText(folder + "/a.txt"), "new a");
    EXPECT_EQ(entries(folder), (std::vector<std::string>{"a.txt"}));
}

TEST(SafeOutput, SameFileSeesThroughLinksDotsAndHardLinks) {
    const std::string folder = freshFolder();
    writeText(folder + "/a.obj", "a");
    writeText(folder + "/b.obj", "b");
    fs::create_directories(folder + "/sub");
    fs::create_symlink("../a.obj", folder + "/sub/link.obj");
    fs::create_hard_link(folder + "/a.obj", folder + "/hard.obj");
    fs::create_symlink("later.obj", folder + "/to_later.obj");
    struct Case {
        std::string x, y;
        bool same;
    };
    const Case cases[] = {
        {folder + "/a.obj", folder + "/a.obj", true},
        {folder + "/a.obj", folder + "/sub/../a.obj", true},
        {folder + "/a.obj", folder + "/sub/link.obj", true},
        {folder + "/a.obj", folder + "/hard.obj", true},
        {folder + "/a.obj", folder + "/b.obj", false},
        // Files not there yet: the same once resolved.
        {folder + "/new.obj", folder + "/sub/../new.obj", true},
        {folder + "/later.obj", folder + "/to_later.obj", true},
        {folder + "/new.obj", folder + "/other.obj", false},
        {folder + "/new.obj", folder + "/a.obj", false},
    };
    for (const Case& c : cases) EXPECT_EQ(sameFile(c.x, c.y), c.same) << c.x << " vs " << c.y;
}

// A closed pipe and a file-size limit would end the process by signal in the middle of a write
// (leaving ".NAME.part-PID-N" beside the target): each becomes a write error with a message, the
// temporary is removed and the old file kept. Each case runs in a child process with the signals at
// their defaults, as a command starts.
TEST(SafeOutput, ClosedPipesAndFileSizeLimitsAreWriteErrorsNotSignals) {
    const std::string folder = freshFolder();
    struct Case {
        const char* what;
        std::function<int()> child;  // the child's exit code: 0 when every check held
    };
    const std::string target = folder + "/kept.txt";
    const std::string fifo = folder + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<Case> cases = {
        {"file-size limit",
         [&] {
             writeText(target, "the old contents");
             struct rlimit small{1000, 1000};
             if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return 10;
             std::string error;
             if (writeTextFile(target, std::string(5000, 'x'), &error)) return 11;
             if (error.find(std::strerror(EFBIG)) == std::string::npos) return 12;
             if (readText(target) != "the old contents") return 13;
             return entries(folder) == std::vector<std::string>{"kept.txt", "pipe"} ? 0 : 14;
         }},
        {"closed pipe",
         [&] {
             // A reader opens the FIFO and goes away before the writer is done.
             const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
             if (reader < 0) return 20;
             SafeOutput out;
             std::string error;
             if (!out.open(fifo, &error)) return 21;
             ::close(reader);
             out.write("lost", 4);
             if (out.commit(&error)) return 22;
             return error.find(std::strerror(EPIPE)) != std::string::npos ? 0 : 23;
         }},
    };
    for (const Case& c : cases) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::signal(SIGPIPE, SIG_DFL);
            ::signal(SIGXFSZ, SIG_DFL);
            ::_exit(c.child());
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status)) << c.what << ": ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << c.what;
        }
    }
}

// A target whose name fits the file system gets a temporary that fits too (a 255-byte name left no
// room for ".NAME.part-PID-N"), and a loop of links is refused instead of being replaced by a file.
TEST(SafeOutput, LongNamesAreWrittenAndLoopsOfLinksRefused) {
    const std::string folder = freshFolder();
    for (size_t length : {236u, 250u, 255u}) {
        const std::string target = folder + "/" + std::string(length - 4, 'n') + ".obj";
        std::string error;
        EXPECT_TRUE(writeTextFile(target, "written", &error)) << length << ": " << error;
        EXPECT_EQ(readText(target), "written");
        EXPECT_TRUE(writeTextFile(target, "again", &error)) << length << ": " << error;  // a replace too
        EXPECT_EQ(readText(target), "again");
        fs::remove(target);
    }
    fs::create_symlink("b", folder + "/a");
    fs::create_symlink("a", folder + "/b");
    std::string error;
    EXPECT_FALSE(writeTextFile(folder + "/a", "x", &error));
    EXPECT_NE(error.find("symbolic links that does not end"), std::string::npos) << error;
    EXPECT_NE(outputProblem(folder + "/a").find("symbolic links that does not end"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(folder + "/a"));
    EXPECT_TRUE(fs::is_symlink(folder + "/b"));
    EXPECT_EQ(entries(folder), (std::vector<std::string>{"a", "b"}));
}
