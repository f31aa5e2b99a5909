// OBJ loading and writing speed. Generates a UV-mapped grid of 708 x 708 quads, each cut into two
// triangles (about one million triangles), with a texture seam down the middle column, writes it to a
// temporary folder and reports, each as the best of a few runs:
//   raw read   reading the file's bytes into memory (the floor any loader has to pay),
//   readObj    loading it into a document, and its ratio to the raw read,
//   writeObj   writing the loaded object back out, and its ratio to the raw read.
// Usage: obj_load_bench [runs]   (default 5)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchTiming.h"
#include "bench/GridObj.h"
#include "host/ObjFile.h"

namespace {

constexpr int kQuads = 708;  // per side

using bench::Best;

size_t rawRead(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::lseek(fd, 0, SEEK_SET);
    auto buffer = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(size));
    size_t done = 0;
    while (done < static_cast<size_t>(size)) {
        const ssize_t n = ::read(fd, buffer.get() + done, static_cast<size_t>(size) - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    volatile char sink = done ? buffer[done / 2] : 0;
    (void)sink;
    return done;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string folderTemplate = (std::filesystem::temp_directory_path() / "objbench-XXXXXX").string();
    if (!mkdtemp(folderTemplate.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = folderTemplate;
    const std::string path = folder + "/grid.obj";
    const std::string outPath = folder + "/written.obj";

    {
        const std::string text = bench::makeGrid(kQuads);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);

    Best raw, load, write;
    size_t points = 0, polygons = 0;
    bool hasUV = false;
    for (int r = 0; r < runs; ++r) {
        raw.start();
        if (rawRead(path) == 0) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        raw.stop();

        auto doc = std::make_unique<host::Document>();
        std::vector<host::Object*> loaded;
        std::string error;
        load.start();
        if (!host::readObj(path, *doc, &loaded, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        load.stop();
        auto* obj = dynamic_cast<host::PolygonObject*>(loaded.at(0));
        points = obj->points.size();
        polygons = obj->polygons.size();
        hasUV = obj->tag(host::TAG_UVW) != nullptr;

        write.start();
        if (!host::writeObj(outPath, {obj}, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        write.stop();
    }
    const double writtenMegabytes = static_cast<double>(std::filesystem::file_size(outPath)) / (1 << 20);
    std::filesystem::remove_all(folder);

    std::printf("OBJ grid: %zu points, %zu triangles, UVs %s, %.1f MiB (written back: %.1f MiB), best of %d\n",
                points, polygons, hasUV ? "with a seam" : "MISSING", megabytes, writtenMegabytes, runs);
    std::printf("             wall s    MiB/s   x raw read |  cpu s   x raw read\n");
    auto row = [&](const char* name, const Best& b, double mib) {
        std::printf("  %-9s %8.4f %8.0f %9.2f    | %7.4f %9.2f\n", name, b.wall, mib / b.wall, b.wall / raw.wall,
                    b.cpu, b.cpu / raw.cpu);
    };
    row("raw read", raw, megabytes);
    row("readObj", load, megabytes);
    row("writeObj", write, writtenMegabytes);
    return 0;
}
