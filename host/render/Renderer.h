// A ray-tracing renderer over polygon objects: ray queries through embree, a key and a fill light
// with shadows, Lambert shading plus a Blinn highlight, materials with a colour and an optional
// shader (which may write the shading normal), wireframe over the shading, and anti-aliasing.
// Rows are shared among render threads; every pixel depends on nothing but its own rays, so the
// image is the same for any thread count.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/render/Camera.h"
#include "host/render/RenderObject.h"

namespace host::render {

// A directional light: the direction toward it and its strength.
struct Light {
    V3 direction;
    double intensity = 1.0;
};

struct RenderSettings {
    int samples = 1;    // rays per pixel (anti-aliasing), 1 to 64
    int threads = 0;    // 0: as many as the machine has cores
    bool wireframe = false;
    bool shadows = true;
    V3 background{0.16, 0.17, 0.19};
    V3 wireColour{0.05, 0.06, 0.09};
    double ambient = 0.08;
    // Empty: the default key and fill lights, placed relative to the camera (see defaultLights).
    std::vector<Light> lights;
    // Called with the share done (0 to 100) as rows finish, from any render thread.
    std::function<void(int)> progress;
};

// The key light from the camera's upper left, the fill from its lower right, both in front.
std::vector<Light> defaultLights(const Camera& camera);

// A rendered image in linear floats (red, green, blue per pixel, rows top to bottom) and, per
// pixel, the share of its rays that hit an object.
struct Image {
    int width = 0, height = 0;
    std::vector<float> rgb;
    std::vector<float> coverage;
    // 8-bit RGB, each component rounded from its value clamped to [0, 1].
    Bitmap toBitmap() const;
};

struct RenderStats {
    uint64_t primaryRays = 0;
    uint64_t shadowRays = 0;
    double seconds = 0.0;
};

class Scene {
public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // Adds a polygon object as it is now, with its material (which must outlive the scene; null
    // takes a plain grey one). Objects without polygons are skipped.
    void add(const PolygonObject& object, const Material* material);
    // Builds the ray-query structures; false with `error` set when the ray kernel fails.
    bool commit(std::string* error);
    Bounds bounds() const;
    const std::vector<std::unique_ptr<RenderObject>>& objects() const { return objects_; }

    // Renders through `camera`; shaders of the materials are started in `doc` before and ended
    // after. False with `error` set when the scene was not committed.
    bool render(const Camera& camera, const RenderSettings& settings, Document* doc, Image* out,
                std::string* error, RenderStats* stats = nullptr) const;

    // Casts only the primary rays of a render (one per pixel) and counts the hits: the ray
    // kernel's share of a render, for benchmarks.
    uint64_t castPrimaryRays(const Camera& camera, int threads) const;

private:
    struct Kernel;
    std::unique_ptr<Kernel> kernel_;
    std::vector<std::unique_ptr<RenderObject>> objects_;
    Material plain_;
};

}  // namespace host::render
