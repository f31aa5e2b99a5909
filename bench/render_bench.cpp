// Renderer benchmark: a generated torus of about one million triangles at 1024 × 1024, one ray per
// pixel, with the default key and fill lights and their shadows. It prints the seconds of the
// scene build and of the render with one thread and with one per core, and the rays per second.
//
// Baseline, measured in the same run: the primary rays alone (the same camera rays through the ray
// kernel, nothing shaded, no shadow rays). The ratio of the render to it is the cost of shading and
// shadows on top of finding the visible surface.
//
//   render_bench [--size N] [--segments U V]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "host/Object.h"
#include "host/render/Renderer.h"

namespace {

constexpr double kPi = 3.141592653589793;

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A torus of ring radius 1 and tube radius 0.4 with u × v quads (2·u·v triangles).
std::unique_ptr<host::PolygonObject> torus(int u, int v) {
    auto owned = std::make_unique<host::PolygonObject>("torus");
    host::PolygonObject& o = *owned;
    o.points.reserve(size_t(u) * v);
    for (int j = 0; j < v; ++j)
        for (int i = 0; i < u; ++i) {
            const double a = 2 * kPi * i / u, b = 2 * kPi * j / v;
            const double r = 1.0 + 0.4 * std::cos(b);
            o.points.push_back({float(r * std::cos(a)), float(r * std::sin(a)), float(0.4 * std::sin(b))});
        }
    o.polygons.reserve(size_t(u) * v);
    for (int j = 0; j < v; ++j)
        for (int i = 0; i < u; ++i) {
            const int i1 = (i + 1) % u, j1 = (j + 1) % v;
            o.polygons.push_back({j * u + i, j * u + i1, j1 * u + i1, j1 * u + i});
        }
    return owned;
}

}  // namespace

int main(int argc, char** argv) {
    int size = 1024, segU = 1000, segV = 500;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size") && i + 1 < argc) size = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--segments") && i + 2 < argc) {
            segU = std::atoi(argv[++i]);
            segV = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: render_bench [--size N] [--segments U V]\n");
            return 2;
        }
    }
    const int cores = std::max(1u, std::thread::hardware_concurrency());
    const std::unique_ptr<host::PolygonObject> owned = torus(segU, segV);
    const host::PolygonObject& mesh = *owned;
    std::printf("torus: %zu points, %zu triangles; image %d x %d, 1 ray per pixel; %d cores\n", mesh.points.size(),
                2 * mesh.polygons.size(), size, size, cores);

    auto t = std::chrono::steady_clock::now();
    host::render::Scene scene;
    host::render::Material material;
    scene.add(mesh, &material);
    std::string error;
    if (!scene.commit(&error)) {
        std::fprintf(stderr, "render_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("scene build (smooth normals, ray structures): %.3f s\n", seconds(t));
    const host::render::Camera camera =
        host::render::Camera::framed(host::render::View::Perspective, scene.bounds(), size, size);
    const double pixels = double(size) * size;

    for (int threads : {1, cores}) {
        t = std::chrono::steady_clock::now();
        const uint64_t hits = scene.castPrimaryRays(camera, threads);
        const double primary = seconds(t);
        host::render::RenderSettings settings;
        settings.threads = threads;
        host::render::Image image;
        host::render::RenderStats stats;
        if (!scene.render(camera, settings, nullptr, &image, &error, &stats)) {
            std::fprintf(stderr, "render_bench: %s\n", error.c_str());
            return 1;
        }
        const double rays = double(stats.primaryRays + stats.shadowRays);
        std::printf("\n%d thread%s:\n", threads, threads == 1 ? "" : "s");
        std::printf("  primary rays alone (baseline): %.3f s, %.2f M rays/s, %.2f M rays/s per thread (%.0f%% hit)\n",
                    primary, pixels / primary / 1e6, pixels / primary / 1e6 / threads, 100.0 * hits / pixels);
        std::printf("  full render:                   %.3f s, %.2f M primary rays/s, %.2f M rays/s in all "
                    "(%.0f shadow rays)\n",
                    stats.seconds, stats.primaryRays / stats.seconds / 1e6, rays / stats.seconds / 1e6,
                    double(stats.shadowRays));
        std::printf("  render / primary rays alone:   %.2f\n", stats.seconds / primary);
        if (cores == 1) break;
    }
    return 0;
}
