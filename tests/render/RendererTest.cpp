// The host's renderer: lighting values worked out by hand, shadows, cameras, smoothing, texture
// filtering and the independence of the image from the number of render threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "host/render/Renderer.h"
#include "host/render/ShaderNode.h"
#include "tests/module/ModuleTestSupport.h"

namespace {

using namespace host::render;
using host::Bitmap;

// A square of side 2·half in the plane z = height, centred on (cx, cy), facing +z, as nx × nx quads.
std::unique_ptr<host::PolygonObject> square(double cx, double cy, double half, double height, int nx = 1) {
    auto o = std::make_unique<host::PolygonObject>("square");
    for (int j = 0; j <= nx; ++j)
        for (int i = 0; i <= nx; ++i)
            o->points.push_back({float(cx - half + 2 * half * i / nx), float(cy - half + 2 * half * j / nx),
                                 float(height)});
    auto uvw = std::make_unique<host::UVWTag>("UVW", 0);
    for (int j = 0; j < nx; ++j)
        for (int i = 0; i < nx; ++i) {
            const int a = j * (nx + 1) + i;
            o->polygons.push_back({a, a + 1, a + nx + 2, a + nx + 1});
            auto uv = [&](int di, int dj) { return host::Vec3f{float(i + di) / nx, float(j + dj) / nx, 0}; };
            uvw->data.push_back({uv(0, 0), uv(1, 0), uv(1, 1), uv(0, 1)});
        }
    o->addTag(std::move(uvw));
    return o;
}

RenderSettings plainSettings(std::vector<Light> lights) {
    RenderSettings s;
    s.ambient = 0.0;
    s.lights = std::move(lights);
    s.threads = 1;
    return s;
}

// The 8-bit red value of the pixel that a world point projects into.
int pixelAt(const Image& image, const Camera& camera, const V3& p) {
    double px, py;
    EXPECT_TRUE(camera.project(p, &px, &py));
    const int x = static_cast<int>(px), y = static_cast<int>(py);
    return static_cast<int>(std::lround(std::clamp(image.rgb[3 * (size_t(y) * image.width + x)], 0.0f, 1.0f) * 255));
}

TEST(Renderer, PlaneLitHeadOnGivesTheLambertValue) {
    auto plane = square(0, 0, 1, 0);
    Material m;
    m.colour = {0.8, 0.6, 0.4};
    m.specular = 0.0;
    Scene scene;
    scene.add(*plane, &m);
    std::string error;
    ASSERT_TRUE(scene.commit(&error)) << error;
    const Camera camera = Camera::framed(View::Front, scene.bounds(), 32, 32);
    // Head-on light of strength 0.75: colour × 0.75 = (0.6, 0.45, 0.3) → 153, 115 (114.75), 77 (76.5).
    Image image;
    ASSERT_TRUE(scene.render(camera, plainSettings({{{0, 0, 1}, 0.75}}), nullptr, &image, &error)) << error;
    const Bitmap b = image.toBitmap();
    EXPECT_EQ(b.get8(16, 16, 0), 153);
    EXPECT_EQ(b.get8(16, 16, 1), 115);
    EXPECT_EQ(b.get8(16, 16, 2), 77);
    // A light at 60° from the normal gives half of it: 0.8 × 0.75 × 0.5 = 0.3 → 77 (76.5).
    const double s = std::sqrt(3.0) / 2;
    ASSERT_TRUE(scene.render(camera, plainSettings({{{s, 0, 0.5}, 0.75}}), nullptr, &image, &error));
    EXPECT_EQ(image.toBitmap().get8(16, 16, 0), 77);
    // A light behind the plane lights its far side only; the side seen stays black. Both sides are
    // lit alike: seen from behind, that light is head-on.
    ASSERT_TRUE(scene.render(camera, plainSettings({{{0, 0, -1}, 0.75}}), nullptr, &image, &error));
    EXPECT_EQ(image.toBitmap().get8(16, 16, 0), 0);
    EXPECT_EQ(image.coverage[16 * 32 + 16], 1.0f);
}

TEST(Renderer, ShadowedPointLosesTheKeyLightsShare) {
    // A floor, and a small square 0.5 above its centre. The key light leans toward +x, so the
    // blocker's shadow falls 0.25 toward −x; the fill leans toward −x and its shadow falls toward +x.
    auto floor = square(0, 0, 1, 0, 8);
    auto blocker = square(0, 0, 0.1, 0.5);
    Material m;
    m.colour = {1, 1, 1};
    m.specular = 0.0;
    Scene scene;
    scene.add(*floor, &m);
    scene.add(*blocker, &m);
    std::string error;
    ASSERT_TRUE(scene.commit(&error));
    const Camera camera = Camera::framed(View::Front, scene.bounds(), 128, 128);
    const V3 key = normalized(V3{0.5, 0, 1}), fill = normalized(V3{-0.5, 0, 1});
    Image image;
    ASSERT_TRUE(scene.render(camera, plainSettings({{key, 0.6}, {fill, 0.3}}), nullptr, &image, &error));
    const double both = (0.6 * key.z + 0.3 * fill.z) * 255, fillOnly = 0.3 * fill.z * 255, keyOnly = 0.6 * key.z * 255;
    EXPECT_EQ(pixelAt(image, camera, {0.6, -0.6, 0}), std::lround(both));         // lit by both
    EXPECT_EQ(pixelAt(image, camera, {-0.25, 0, 0}), std::lround(fillOnly));      // in the key's shadow
    EXPECT_EQ(pixelAt(image, camera, {0.25, 0, 0}), std::lround(keyOnly));        // in the fill's shadow
    // Without shadows the same point is lit by both.
    RenderSettings noShadows = plainSettings({{key, 0.6}, {fill, 0.3}});
    noShadows.shadows = false;
    ASSERT_TRUE(scene.render(camera, noShadows, nullptr, &image, &error));
    EXPECT_EQ(pixelAt(image, camera, {-0.25, 0, 0}), std::lround(both));
}

TEST(Renderer, BlinnHighlightAddsWhite) {
    // Light and view head-on: H = N, so the highlight is specular × intensity in full.
    auto plane = square(0, 0, 1, 0);
    Material m;
    m.colour = {0.5, 0.5, 0.5};
    m.specular = 0.2;
    Scene scene;
    scene.add(*plane, &m);
    std::string error;
    ASSERT_TRUE(scene.commit(&error));
    const Camera camera = Camera::framed(View::Front, scene.bounds(), 16, 16);
    Image image;
    ASSERT_TRUE(scene.render(camera, plainSettings({{{0, 0, 1}, 1.0}}), nullptr, &image, &error));
    EXPECT_EQ(image.toBitmap().get8(8, 8, 1), 179);  // (0.5 + 0.2) × 255 = 178.5
}

TEST(Renderer, CamerasProjectWhereTheirRaysGo) {
    Bounds box;
    box.grow(V3{-1, -2, -0.5});
    box.grow(V3{3, 1, 0.5});
    const Camera cameras[] = {Camera::framed(View::Front, box, 200, 100), Camera::framed(View::Side, box, 80, 120),
                              Camera::framed(View::Top, box, 64, 64), Camera::framed(View::Perspective, box, 160, 90),
                              Camera::lookAt({4, 5, 6}, {0, 0, 0}, 100, 100)};
    for (const Camera& c : cameras) {
        for (double px : {0.5, 17.25, 60.0})
            for (double py : {3.0, 40.5}) {
                V3 o, d;
                c.ray(px, py, &o, &d);
                double qx, qy;
                ASSERT_TRUE(c.project(o + d * 7.5, &qx, &qy));
                EXPECT_NEAR(qx, px, 1e-9);
                EXPECT_NEAR(qy, py, 1e-9);
            }
        // Framed views keep every corner of the box inside the image.
        if (&c == &cameras[4]) continue;
        for (int i = 0; i < 8; ++i) {
            const V3 p{i & 1 ? box.max.x : box.min.x, i & 2 ? box.max.y : box.min.y, i & 4 ? box.max.z : box.min.z};
            double x, y;
            ASSERT_TRUE(c.project(p, &x, &y));
            EXPECT_GE(x, 0.0);
            EXPECT_LE(x, c.width());
            EXPECT_GE(y, 0.0);
            EXPECT_LE(y, c.height());
        }
    }
    // The front view looks down −z with +y up: a point at larger y lands higher in the image.
    double x1, y1, x2, y2;
    cameras[0].project({0, 0, 0}, &x1, &y1);
    cameras[0].project({1, 0.5, 0}, &x2, &y2);
    EXPECT_GT(x2, x1);
    EXPECT_LT(y2, y1);
}

TEST(Renderer, SmoothNormalsHonourTheAngleLimit) {
    // Two quads folded 90° along x = 0: the shared corner's normal is the mean of both faces, unless
    // the smoothing tag's limit (60°) keeps the faces apart.
    auto o = std::make_unique<host::PolygonObject>("fold");
    o->points = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 1}, {0, 1, 1}};
    o->polygons = {{0, 2, 3, 1}, {0, 1, 5, 4}};
    RenderObject smooth;
    smooth.build(*o, nullptr);
    const V3 n0 = smooth.smoothNormal(0, {0, 0, 0});
    const double r = std::sqrt(0.5);
    EXPECT_NEAR(n0.x, r, 1e-6);
    EXPECT_NEAR(n0.y, 0, 1e-6);
    EXPECT_NEAR(n0.z, r, 1e-6);
    auto tag = std::make_unique<host::SmoothingTag>("Smoothing");
    tag->data.setBool(host::SMOOTHING_ANGLE_LIMIT, true);
    tag->data.setReal(host::SMOOTHING_ANGLE, 60.0 * M_PI / 180.0);
    o->addTag(std::move(tag));
    RenderObject hard;
    hard.build(*o, nullptr);
    const V3 h0 = hard.smoothNormal(0, {0, 0, 0}), h1 = hard.smoothNormal(1, {0, 0, 0});
    EXPECT_NEAR(h0.z, 1, 1e-6);   // the floor quad (0, 2, 3, 1) faces +z
    EXPECT_NEAR(h1.x, 1, 1e-6);   // the wall quad (0, 1, 5, 4) faces +x
    // Quads are cut along a–c into the kernel's triangles; dead polygons give none.
    o->polygons.push_back({3, 3, 3, 3});
    RenderObject cut;
    cut.build(*o, nullptr);
    EXPECT_EQ(cut.trianglePolygon, (std::vector<int32_t>{0, 0, 1, 1}));
    EXPECT_EQ(cut.triangleSecond, (std::vector<uint8_t>{0, 1, 0, 1}));
    EXPECT_EQ(std::vector<uint32_t>(cut.triangles.begin(), cut.triangles.begin() + 6),
              (std::vector<uint32_t>{0, 2, 3, 0, 3, 1}));
}

TEST(Renderer, BitmapShaderFiltersBilinearly) {
    Bitmap b;
    ASSERT_TRUE(b.init(3, 2, 3, 8));
    // Red 0, 100, 200 along the top row, 50, 150, 250 along the bottom one.
    for (int x = 0; x < 3; ++x) {
        b.set8(x, 0, 0, uint8_t(100 * x));
        b.set8(x, 1, 0, uint8_t(100 * x + 50));
    }
    float c[3];
    // The top row holds v = 1, the bottom row v = 0, as every texture reader takes them.
    sampleBilinear(b, 0.0, 1.0, c);
    EXPECT_NEAR(c[0] * 255, 0, 1e-4);
    sampleBilinear(b, 0.0, 0.0, c);
    EXPECT_NEAR(c[0] * 255, 50, 1e-4);
    sampleBilinear(b, 1.0, 0.0, c);  // the last texel, not wrapped to the first
    EXPECT_NEAR(c[0] * 255, 250, 1e-4);
    sampleBilinear(b, 0.25, 0.5, c);  // x = 0.5, y = 0.5: (0 + 100 + 50 + 150) / 4
    EXPECT_NEAR(c[0] * 255, 75, 1e-4);
    sampleBilinear(b, 1.25, -0.5, c);  // repeats: as (0.25, 0.5)
    EXPECT_NEAR(c[0] * 255, 75, 1e-4);
}

class RendererThreads : public moduletest::ModuleFixture {};

TEST_F(RendererThreads, ImageIsTheSameForAnyThreadCount) {
    startModule(moduletest::kSourceFolder);
    ASSERT_EQ(moduletest::message(1), 1);
    ASSERT_EQ(moduletest::start(), 1);
    host::Document doc;
    // A wavy grid with the normal-map shader over a map with detail, wireframe and anti-aliasing:
    // every part of the sample's work runs on the threads.
    auto wavy = square(0, 0, 1, 0, 12);
    for (host::Vec3f& p : wavy->points) p.z = 0.2f * std::sin(3 * p.x) * std::cos(2 * p.y);
    moduletest::TempFolder folder;
    Bitmap map;
    ASSERT_TRUE(map.init(16, 16, 3, 8));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) map.setPixel(x, y, uint8_t(128 + 7 * x), uint8_t(100 + 9 * y), 230);
    const std::string mapPath = folder.str() + "/map.png";
    ASSERT_TRUE(map.save(mapPath));
    std::string error;
    auto shader = ShaderNode::makeModuleShader(XOMBRIN85_ID, &doc, &error);
    ASSERT_TRUE(shader) << error;
    auto child = ShaderNode::makeBitmap(mapPath, &doc, &error);
    ASSERT_TRUE(child) << error;
    ShaderNode* c = child.get();
    ShaderNode::park(std::move(child));
    shader->message(HOST_MSG_LINK_SHADER, c);
    Material m;
    m.shader = shader.get();
    Scene scene;
    scene.add(*wavy, &m);
    ASSERT_TRUE(scene.commit(&error));
    RenderSettings s;
    s.samples = 3;
    s.wireframe = true;
    const Camera camera = Camera::framed(View::Perspective, scene.bounds(), 61, 47);
    std::vector<Image> images(4);
    const int threads[] = {1, 2, 3, 8};
    for (int i = 0; i < 4; ++i) {
        s.threads = threads[i];
        RenderStats stats;
        ASSERT_TRUE(scene.render(camera, s, &doc, &images[i], &error, &stats));
        EXPECT_EQ(stats.primaryRays, 61u * 47u * 3u);
    }
    for (int i = 1; i < 4; ++i) {
        ASSERT_EQ(images[i].rgb.size(), images[0].rgb.size());
        EXPECT_EQ(std::memcmp(images[i].rgb.data(), images[0].rgb.data(), images[0].rgb.size() * sizeof(float)), 0)
            << threads[i] << " threads";
        EXPECT_EQ(images[i].coverage, images[0].coverage);
    }
    // The map changed the shading: the same scene without the shader renders otherwise.
    Material plain;
    Scene bare;
    bare.add(*wavy, &plain);
    ASSERT_TRUE(bare.commit(&error));
    Image without;
    ASSERT_TRUE(bare.render(camera, s, &doc, &without, &error));
    EXPECT_NE(without.rgb, images[0].rgb);
    shader.reset();
}

TEST(Renderer, UncommittedSceneRefusesToRender) {
    auto plane = square(0, 0, 1, 0);
    Scene scene;
    scene.add(*plane, nullptr);
    Image image;
    std::string error;
    EXPECT_FALSE(scene.render(Camera::framed(View::Front, scene.bounds(), 8, 8), RenderSettings(), nullptr, &image,
                              &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
