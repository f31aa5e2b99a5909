// The commands facing hostile inputs and options: a FIFO, a folder or a device as any input of any
// command is refused at once (nothing waits for a writer); render refuses an image that would
// replace one of its inputs and cameras absurdly far away; --host-version is honoured by every
// command that loads the module and refused by those that do not; names from files reach the
// terminal with their control characters escaped; bake's thread count is held to its range.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "RunVexlor.h"

namespace fs = std::filesystem;

namespace {

const std::string kHigh = std::string(VEXLOR_SOURCE_DIR) + "/samples/bake_high.obj";
const std::string kLow = std::string(VEXLOR_SOURCE_DIR) + "/samples/bake_low.obj";

void expectRefused(const RunResult& r, const std::string& message, const std::string& what) {
    EXPECT_NE(r.exitCode, 0) << what;
    EXPECT_NE(r.err.find(message), std::string::npos) << what << ": expected \"" << message << "\" in: " << r.err;
}

}  // namespace

TEST(HostileInputs, AFifoAFolderOrADeviceIsRefusedAsAnyInputOfAnyCommand) {
    const std::string folder = makeTempFolder();
    const std::string fifo = folder + "/pipe.obj", fifoImage = folder + "/pipe.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(fifoImage.c_str(), 0600), 0);
    fs::create_directory(folder + "/dir.obj");
    const std::string out = folder + "/out.obj", image = folder + "/out.png";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"info", fifo}, "it is a FIFO, not a regular file"},
        {{"info", folder + "/dir.obj"}, "it is a folder, not a regular file"},
        {{"info", "/dev/zero"}, "it is a device, not a regular file"},
        {{"convert", fifo, "-o", out}, "it is a FIFO"},
        {{"reduce", fifo, "-o", out, "--ratio", "50"}, "it is a FIFO"},
        {{"lod", fifo, "-o", folder + "/l{n}.obj", "--levels", "50%"}, "it is a FIFO"},
        {{"brush", fifo, "-o", out, "--stroke", "1,1"}, "it is a FIFO"},
        {{"show-dialog", "reduce", fifo}, "it is a FIFO"},
        {{"bake", "--high", fifo, "--low", kLow, "--normal", image}, "it is a FIFO"},
        {{"bake", "--high", kHigh, "--low", kLow, "--normal", image, "--bump", fifoImage}, "it is a FIFO"},
        {{"render", fifo, "-o", image}, "it is a FIFO"},
        {{"render", kLow, "-o", image, "--normal-map", fifoImage}, "it is a FIFO"},
        {{"render", kLow, "-o", image, "--frame-on", fifo}, "it is a FIFO"},
        {{"render", "--compare-reduction", kSample, fifo, "-o", image}, "it is a FIFO"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        expectRefused(runVexlor(c.args), c.message, line);
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(image));
}

TEST(HostileInputs, RenderRefusesAnImageThatIsOneOfItsInputsAndAbsurdCameras) {
    const std::string folder = makeTempFolder();
    const std::string map = folder + "/nm.png";
    writeFile(map, "the normal map");
    fs::create_symlink("nm.png", folder + "/alias.png");
    fs::create_hard_link(map, folder + "/hard.png");
    const std::string image = folder + "/img.png";
    writeFile(image, "an older image");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"render", kLow, "-o", map, "--normal-map", map}, "-o " + map + " is the input file " + map},
        {{"render", kLow, "-o", folder + "/alias.png", "--normal-map", map}, "is the input file " + map},
        {{"render", kLow, "-o", folder + "/hard.png", "--normal-map", map}, "is the input file " + map},
        {{"render", "--compare", kHigh, kLow, map, "-o", map}, "is the input file " + map},
        {{"render", "--compare", kHigh, kLow, map, "-o", folder + "/alias.png"}, "is the input file " + map},
        {{"render", kSample, "-o", image, "--camera", "1e20,0,0", "0,0,0"}, "--camera: coordinates beyond 1e15"},
        {{"render", kSample, "-o", image, "--camera", "0,0,0", "0,-1e300,0"}, "--camera: coordinates beyond 1e15"},
        {{"render", kSample, "-o", image, "--camera", "inf,0,0", "0,0,0"}, "--camera needs the eye and the target"},
    };
    for (const Case& c : cases) expectRefused(runVexlor(c.args), c.message, c.args[1] + " " + c.args.back());
    EXPECT_EQ(readFile(map), "the normal map");
    EXPECT_EQ(readFile(image), "an older image");
    // Far, but within what the tracer takes: the image is made (the sample is a speck in it).
    const RunResult far = runVexlor({"render", kSample, "-o", image, "--camera", "1e14,1,1", "0,0,0", "--size", "16x16"});
    EXPECT_EQ(far.exitCode, 0) << far.err;
}

TEST(HostileInputs, HostVersionIsHonouredOrRefusedByEveryCommand) {
    // Too old a version is refused by the module wherever the module is loaded...
    const std::string folder = makeTempFolder();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"show-dialog", "reduce", kSample}, {"reduce", kSample, "-o", folder + "/r.obj", "--ratio", "50"},
          {"render", kSample, "-o", folder + "/r.png", "--size", "16x16"}}) {
        std::vector<std::string> withVersion = args;
        withVersion.insert(withVersion.end(), {"--host-version", "7499"});
        expectRefused(runVexlor(withVersion), "init answered -3", args[0]);
    }
    EXPECT_FALSE(fs::exists(folder + "/r.obj"));
    // ...and refused outright by the commands that never load it.
    expectRefused(runVexlor({"info", kSample, "--host-version", "7500"}), "--host-version applies to commands that load the module", "info");
    expectRefused(runVexlor({"convert", kSample, "-o", folder + "/c.obj", "--host-version", "7500"}),
                  "--host-version applies to commands that load the module", "convert");
}

TEST(HostileInputs, NamesFromFilesReachTheTerminalEscapedAndBakeThreadsStayInRange) {
    const std::string folder = makeTempFolder();
    writeFile(folder + "/n.obj", "o evil\x1b]0;owned\x07\x1b[2J\x9b" "name\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const RunResult r = runVexlor({"info", folder + "/n.obj"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x07'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("object \"evil\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << r.out;
    expectRefused(runVexlor({"bake", "--high", kHigh, "--low", kLow, "--normal", folder + "/n.png", "--threads", "0"}),
                  "--threads 0 is outside 1 to 256", "bake --threads 0");
}
