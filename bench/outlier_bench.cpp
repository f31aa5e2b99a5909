// A single far-away point must not slow the reduction down: `vexlor reduce --ratio 10` on the bundled
// sample and on the bake sample scaled by 1e6, each plain and with one point moved far away (3e38
// and 1e25), timed as the child processes' processor time, best of three. Prints each time, the
// ratio outlier / plain (about 1 is right; the reduction measures in a frame where the outlier
// squeezes the rest toward zero error), and the point counts, which must agree.
//
//   build/rel/bin/outlier_bench
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

double childSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// The OBJ text with every point scaled, and the first point replaced by `outlier` when given.
std::string transformed(const std::string& path, double scale, const char* outlier) {
    std::ifstream in(path);
    std::ostringstream out;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (line.rfind("v ", 0) == 0) {
            if (first && outlier) {
                out << "v " << outlier << " 0 0\n";
            } else {
                double x, y, z;
                std::sscanf(line.c_str() + 2, "%lf %lf %lf", &x, &y, &z);
                char buffer[128];
                std::snprintf(buffer, sizeof buffer, "v %.9g %.9g %.9g\n", x * scale, y * scale, z * scale);
                out << buffer;
            }
            first = false;
        } else {
            out << line << "\n";
        }
    }
    return out.str();
}

// Runs the reduction; the seconds it took and the points it kept (from the summary line).
std::pair<double, std::string> reduce(const std::string& vexlor, const std::string& input, const std::string& output) {
    double best = 1e30;
    std::string kept;
    for (int run = 0; run < 3; ++run) {
        const double t0 = childSeconds();
        const std::string command = "'" + vexlor + "' reduce '" + input + "' -o '" + output + "' --ratio 10 2>/dev/null";
        FILE* p = ::popen(command.c_str(), "r");
        if (!p) std::exit(1);
        char line[512];
        std::string last;
        while (std::fgets(line, sizeof line, p)) last = line;
        if (::pclose(p) != 0) {
            std::fprintf(stderr, "outlier_bench: %s failed\n", command.c_str());
            std::exit(1);
        }
        best = std::min(best, childSeconds() - t0);
        const size_t arrow = last.find("-> ");
        kept = arrow == std::string::npos ? "?" : last.substr(arrow + 3, last.find(' ', arrow + 3) - arrow - 3);
    }
    return {best, kept};
}

}  // namespace

int main() {
    const std::string vexlor = fs::read_symlink("/proc/self/exe").parent_path() / "vexlor";
    const fs::path folder = fs::temp_directory_path() / ("vexlor_outlier_bench_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    struct Case {
        const char* name;
        std::string source;
        double scale;
        const char* outlier;
    };
    const std::string samples = std::string(VEXLOR_SOURCE_DIR) + "/samples/";
    const Case cases[] = {{"sample, one point at 3e38", samples + "sample.obj", 1.0, "3e38"},
                          {"bake sample x1e6, one point at 1e25", samples + "bake_high.obj", 1e6, "1e25"}};
    std::printf("%-38s %10s %10s %8s %8s %8s\n", "case", "plain s", "outlier s", "ratio", "points", "points");
    for (const Case& c : cases) {
        const std::string plain = (folder / "plain.obj").string(), far = (folder / "far.obj").string();
        std::ofstream(plain) << transformed(c.source, c.scale, nullptr);
        std::ofstream(far) << transformed(c.source, c.scale, c.outlier);
        const auto [tp, np] = reduce(vexlor, plain, (folder / "out.obj").string());
        const auto [tf, nf] = reduce(vexlor, far, (folder / "out.obj").string());
        std::printf("%-38s %10.3f %10.3f %8.2f %8s %8s\n", c.name, tp, tf, tf / tp, np.c_str(), nf.c_str());
    }
    fs::remove_all(folder);
    return 0;
}
