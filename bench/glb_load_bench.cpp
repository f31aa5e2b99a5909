// glTF binary loading against OBJ loading of the same mesh. Generates the UV-mapped grid of the OBJ
// benchmark (708 x 708 quads cut into triangles, about one million triangles, a texture seam down the
// middle), loads the OBJ once and writes it as .glb (whose vertices are split at the seam and welded
// back on load), then reports, each as the best of a few runs:
//   OBJ load   readMeshFile on the .obj (the exact OBJ reader)
//   glb load   readMeshFile on the .glb (tinygltf, then welding), and its ratio to the OBJ load
// and checks that both loads give the same points and polygons.
// Usage: glb_load_bench [runs]   (default 5)
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchTiming.h"
#include "bench/GridObj.h"
#include "host/formats/MeshFile.h"

namespace {

constexpr int kQuads = 708;  // per side

using bench::Best;

// Loads the file; the polygon object's point and polygon counts, or -1 on failure.
std::pair<long, long> loadCounts(const std::string& path, Best& timing) {
    auto doc = std::make_unique<host::Document>();
    std::vector<host::Object*> loaded;
    std::string error;
    timing.start();
    const bool ok = host::formats::readMeshFile(path, *doc, &loaded, &error);
    timing.stop();
    if (!ok) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return {-1, -1};
    }
    auto* obj = dynamic_cast<host::PolygonObject*>(loaded.at(0));
    return {obj->pointCount(), obj->polygonCount()};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string folderTemplate = (std::filesystem::temp_directory_path() / "glbbench-XXXXXX").string();
    if (!mkdtemp(folderTemplate.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = folderTemplate;
    const std::string obj = folder + "/grid.obj", glb = folder + "/grid.glb";
    {
        const std::string text = bench::makeGrid(kQuads);
        FILE* f = std::fopen(obj.c_str(), "wb");
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "cannot write %s\n", obj.c_str());
            return 1;
        }
        host::Document doc;
        std::vector<host::Object*> loaded;
        std::string error;
        if (!host::formats::readMeshFile(obj, doc, &loaded, &error) ||
            !host::formats::writeMeshFile(glb, {loaded.at(0)}, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    Best objLoad, glbLoad;
    std::pair<long, long> a, b;
    for (int r = 0; r < runs; ++r) {
        a = loadCounts(obj, objLoad);
        b = loadCounts(glb, glbLoad);
        if (a.first < 0 || b.first < 0) return 1;
    }
    std::printf("mesh: %ld points, %ld polygons (OBJ %.1f MiB, glb %.1f MiB)\n", a.first, a.second,
                std::filesystem::file_size(obj) / 1048576.0, std::filesystem::file_size(glb) / 1048576.0);
    std::printf("glb welds back to the OBJ's points and polygons: %s (%ld points, %ld polygons)\n",
                a.first == b.first ? "yes" : "NO", b.first, b.second);
    std::printf("OBJ load: %8.1f ms wall, %8.1f ms processor\n", objLoad.wall * 1e3, objLoad.cpu * 1e3);
    std::printf("glb load: %8.1f ms wall, %8.1f ms processor\n", glbLoad.wall * 1e3, glbLoad.cpu * 1e3);
    std::printf("glb / OBJ: %.2f wall, %.2f processor (below 1: the glb loads faster)\n", glbLoad.wall / objLoad.wall,
                glbLoad.cpu / objLoad.cpu);
    std::filesystem::remove_all(folder);
    return a.first == b.first ? 0 : 1;
}
