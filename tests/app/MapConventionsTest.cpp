// Baked maps as the tools they go to read them: image rows with v = 1 first, read back through each
// format's own library (not ours); the green channel's two conventions; and the glTF asset of a bake
// and of a level chain, checked as a glTF file and read back through our own reader.
#include <png.h>
#include <tiffio.h>
#include <tiny_gltf.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RunVexlor.h"
#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/Tags.h"
#include "host/formats/MeshFile.h"

namespace fs = std::filesystem;

namespace {

// An image as floats per channel, read by the format's own library: 8-bit channels as 0 to 255,
// float channels as stored. Grey files give one channel.
struct Plain {
    int width = 0, height = 0, channels = 0;
    std::vector<float> values;
    float at(int x, int y, int c) const { return values[(size_t(y) * width + x) * channels + c]; }
};

Plain readPng(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    Plain p;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return p;
    p.width = int(image.width);
    p.height = int(image.height);
    p.channels = 3;
    p.values.assign(bytes.begin(), bytes.end());
    return p;
}

Plain readTiff(const std::string& path) {
    Plain p;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return p;
    uint32_t w = 0, h = 0;
    uint16_t spp = 1, bits = 8;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    if (bits == 8) {
        std::vector<uint8_t> row(TIFFScanlineSize(tif));
        p.width = int(w);
        p.height = int(h);
        p.channels = spp;
        for (uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, row.data(), y, 0) < 0) {
                p = {};
                break;
            }
            for (uint32_t i = 0; i < w * spp; ++i) p.values.push_back(row[i]);
        }
    }
    TIFFClose(tif);
    return p;
}

Plain readExr(const std::string& path) {
    Plain p;
    Imf::InputFile file(path.c_str());
    const Imath::Box2i dw = file.header().dataWindow();
    p.width = dw.max.x - dw.min.x + 1;
    p.height = dw.max.y - dw.min.y + 1;
    const bool grey = file.header().channels().findChannel("Y") != nullptr;
    const std::vector<const char*> names = grey ? std::vector<const char*>{"Y"} : std::vector<const char*>{"R", "G", "B"};
    p.channels = int(names.size());
    p.values.assign(size_t(p.width) * p.height * p.channels, 0.0f);
    Imf::FrameBuffer fb;
    const size_t xStride = sizeof(float) * p.channels, yStride = xStride * p.width;
    char* base = reinterpret_cast<char*>(p.values.data()) - dw.min.x * xStride - dw.min.y * yStride;
    for (int c = 0; c < p.channels; ++c)
        fb.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float), xStride, yStride));
    file.setFrameBuffer(fb);
    file.readPixels(dw.min.y, dw.max.y);
    return p;
}

Plain readPlain(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    if (ext == ".png") return readPng(path);
    if (ext == ".tif") return readTiff(path);
    return readExr(path);
}

// One quad of the low object: where it lies and where its texture coordinates put it.
struct Island {
    double x0, y0, size;   // position square at z = 0
    double u0, v0, uv;     // UV square
    double highZ;          // the high object's copy of it lies this far above
    double uc() const { return u0 + uv / 2; }
    double vc() const { return v0 + uv / 2; }
};

// A large island only in the upper half of UV space (v from 0.6), a small one in the lower right
// corner; the high object is their copies shifted up and down, far enough apart that neither
// shades the other.
const Island kIslands[2] = {{0.0, 0.0, 1.0, 0.1, 0.6, 0.3, 0.05}, {20.0, 0.0, 0.3, 0.8, 0.05, 0.15, -0.05}};

std::string islandsObj(bool high) {
    std::string s = high ? "o high\n" : "o low\n";
    for (const Island& i : kIslands) {
        const double z = high ? i.highZ : 0.0;
        for (auto [a, b] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}}) {
            s += "v " + std::to_string(i.x0 + a * i.size) + " " + std::to_string(i.y0 + b * i.size) + " " +
                 std::to_string(z) + "\n";
            s += "vt " + std::to_string(i.u0 + a * i.uv) + " " + std::to_string(i.v0 + b * i.uv) + "\n";
        }
    }
    s += "f 1/1 2/2 3/3 4/4\nf 5/5 6/6 7/7 8/8\n";
    return s;
}

constexpr int kSize = 128;  // the maps' width and height

class MapConventions : public ::testing::Test {
protected:
    void SetUp() override {
        folder = makeTempFolder();
        high = folder + "/high.obj";
        low = folder + "/low.obj";
        writeFile(high, islandsObj(true));
        writeFile(low, islandsObj(false));
    }
    RunResult bake(const std::vector<std::string>& extra) {
        std::vector<std::string> args{"bake", "--high", high, "--low", low, "--size", std::to_string(kSize),
                                      "--supersampling", "1", "--ao-grid", "2"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runVexlor(args);
    }
    std::string folder, high, low;
};

// Column and row of a texture coordinate in an image whose first row holds v = 1.
int column(double u) { return int(std::lround(u * (kSize - 1))); }
int row(double v) { return int(std::lround((1.0 - v) * (kSize - 1))); }

TEST_F(MapConventions, EveryMapInEveryFormatHoldsVOneInItsFirstRow) {
    struct Case {
        const char* suffix;
        bool floats;
    };
    for (const Case c : {Case{"png", false}, Case{"tif", false}, Case{"exr", true}}) {
        SCOPED_TRACE(c.suffix);
        const std::string n = folder + "/n." + c.suffix, ao = folder + "/ao." + c.suffix,
                          d = folder + "/d." + c.suffix;
        const RunResult r = bake({"--normal", n, "--occlusion", ao, "--displacement", d});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Plain normal = readPlain(n), occlusion = readPlain(ao), displacement = readPlain(d);
        ASSERT_EQ(normal.height, kSize);
        ASSERT_EQ(occlusion.height, kSize);
        ASSERT_EQ(displacement.height, kSize);
        // Unbaked texels hold a zero normal, no occlusion value and zero distance.
        const float blueEmpty = c.floats ? 0.0f : 127.0f, blueFlat = c.floats ? 1.0f : 255.0f;
        const float distanceEmpty = c.floats ? 0.0f : 127.0f;
        for (const Island& i : kIslands) {
            const int x = column(i.uc()), y = row(i.vc()), mirrored = row(1.0 - i.vc());
            // The flat copy's normal is straight up: blue full on the island, empty where the rows
            // would put it the other way up.
            EXPECT_NEAR(normal.at(x, y, 2), blueFlat, 1.0f) << "island at v " << i.vc();
            EXPECT_NEAR(normal.at(x, mirrored, 2), blueEmpty, 0.5f);
            // Nothing stands over either copy: fully open on the island, nothing elsewhere.
            EXPECT_NEAR(occlusion.at(x, y, 0), c.floats ? 1.0f : 255.0f, 1.0f);
            EXPECT_EQ(occlusion.at(x, mirrored, 0), 0.0f);
            // The large island's copy lies above it, the small one's below: the two ends of the
            // distance range, or the distances themselves in float files.
            const float far = c.floats ? float(i.highZ) : (i.highZ > 0 ? 255.0f : 0.0f);
            EXPECT_NEAR(displacement.at(x, y, 0), far, c.floats ? 1e-4f : 1.0f);
            EXPECT_NEAR(displacement.at(x, mirrored, 0), distanceEmpty, c.floats ? 0.0f : 1.0f);
        }
    }
}

TEST_F(MapConventions, GreenDownIsGreenUpNegatedBitForBit) {
    // A slope rising along v over a flat square: its normal leans against v, so the green channel
    // holds real values, negative with y up the texture.
    const std::string slope = folder + "/slope.obj", flat = folder + "/flat.obj";
    writeFile(slope, "o slope\nv 0 0 0.1\nv 1 0 0.1\nv 1 1 0.5\nv 0 1 0.5\nf 1 2 3 4\n");
    writeFile(flat, "o flat\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                    "f 1/1 2/2 3/3 4/4\n");
    for (const char* y : {"up", "down"}) {
        const RunResult r = runVexlor({"bake", "--high", slope, "--low", flat, "--size", "16", "--supersampling", "1",
                                       "--normal", folder + "/" + y + ".exr", "--normal-y", y});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    const Plain up = readExr(folder + "/up.exr"), down = readExr(folder + "/down.exr");
    ASSERT_EQ(up.values.size(), down.values.size());
    EXPECT_NEAR(up.at(8, 8, 1), -0.4 / std::sqrt(1.16), 1e-3);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            uint32_t a[3], b[3];
            std::memcpy(a, &up.values[(size_t(y) * 16 + x) * 3], sizeof a);
            std::memcpy(b, &down.values[(size_t(y) * 16 + x) * 3], sizeof b);
            ASSERT_EQ(a[0], b[0]) << x << ", " << y;
            ASSERT_EQ(a[1] ^ 0x80000000u, b[1]) << x << ", " << y;  // the sign bit alone differs
            ASSERT_EQ(a[2], b[2]) << x << ", " << y;
        }
}

// The renderer reads a map by the convention it is given: the same normals from a float map with y
// up, from its y-down twin and from an 8-bit file alike.
TEST_F(MapConventions, RendererAppliesEitherConventionAlike) {
    const std::string slope = folder + "/slope.obj", flat = folder + "/flat.obj";
    writeFile(slope, "o slope\nv 0 0 0.1\nv 1 0 0.1\nv 1 1 0.5\nv 0 1 0.5\nf 1 2 3 4\n");
    writeFile(flat, "o flat\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                    "f 1/1 2/2 3/3 4/4\n");
    struct Map {
        const char* file;
        const char* y;
    };
    for (const Map m : {Map{"up.exr", "up"}, Map{"down.exr", "down"}, Map{"up.png", "up"}})
        ASSERT_EQ(runVexlor({"bake", "--high", slope, "--low", flat, "--size", "16", "--supersampling", "1",
                             "--normal", folder + "/" + m.file, "--normal-y", m.y})
                      .exitCode,
                  0);
    auto render = [&](const std::vector<std::string>& map) {
        std::vector<std::string> args{"render", flat, "-o", folder + "/r.png", "--size", "48x48", "--samples", "1",
                                      "--camera", "0.5,-1.5,2", "0.5,0.5,0", "--quiet"};
        args.insert(args.end(), map.begin(), map.end());
        const RunResult r = runVexlor(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        host::Bitmap b;
        EXPECT_TRUE(b.load(folder + "/r.png"));
        return b;
    };
    auto difference = [](const host::Bitmap& a, const host::Bitmap& b) {
        double sum = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) sum += std::abs(a.get8(x, y, 0) - b.get8(x, y, 0));
        return sum / (a.width() * a.height());
    };
    const host::Bitmap up = render({"--normal-map", folder + "/up.exr"});
    const host::Bitmap down = render({"--normal-map", folder + "/down.exr", "--normal-y", "down"});
    const host::Bitmap eight = render({"--normal-map", folder + "/up.png"});
    const host::Bitmap wrong = render({"--normal-map", folder + "/down.exr"});
    const host::Bitmap plain = render({});
    EXPECT_TRUE(up == down);
    EXPECT_GT(difference(up, plain), 2.0);
    EXPECT_LT(difference(up, eight), difference(up, plain) / 8);
    EXPECT_GT(difference(up, wrong), difference(up, plain) / 2);
}

// The asset's glTF, as a client reads it: every index in range, the material's textures embedded
// PNG images, the normal texture the baked map itself.
TEST_F(MapConventions, AssetIsAValidGltfWithTheBakedMapsAndOurPointsAndUvs) {
    const std::string n = folder + "/n.png", ao = folder + "/ao.png", asset = folder + "/asset.glb";
    const RunResult r = bake({"--normal", n, "--occlusion", ao, "--asset", asset});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("asset: " + asset), std::string::npos) << r.out;

    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string err, warn;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &err, &warn, asset)) << err;
    ASSERT_EQ(model.meshes.size(), 1u);
    ASSERT_EQ(model.materials.size(), 1u);
    const tinygltf::Material& m = model.materials[0];
    for (const tinygltf::Primitive& p : model.meshes[0].primitives) {
        EXPECT_EQ(p.material, 0);
        ASSERT_TRUE(p.attributes.count("TEXCOORD_0"));
        for (const auto& [name, accessor] : p.attributes) {
            ASSERT_LT(size_t(accessor), model.accessors.size()) << name;
            const tinygltf::Accessor& a = model.accessors[accessor];
            ASSERT_LT(size_t(a.bufferView), model.bufferViews.size());
            const tinygltf::BufferView& v = model.bufferViews[a.bufferView];
            EXPECT_LE(v.byteOffset + v.byteLength, model.buffers[v.buffer].data.size());
            EXPECT_EQ(a.count, model.accessors[p.attributes.at("POSITION")].count) << name;
        }
    }
    ASSERT_GE(m.normalTexture.index, 0);
    ASSERT_GE(m.occlusionTexture.index, 0);
    EXPECT_EQ(m.normalTexture.texCoord, 0);
    for (int t : {m.normalTexture.index, m.occlusionTexture.index}) {
        ASSERT_LT(size_t(t), model.textures.size());
        const int source = model.textures[t].source;
        ASSERT_LT(size_t(source), model.images.size());
        const tinygltf::Image& image = model.images[source];
        EXPECT_EQ(image.mimeType, "image/png");
        EXPECT_EQ(image.width, kSize);  // decoded by the loader
        EXPECT_EQ(image.height, kSize);
    }
    // The normal texture holds the map as baked (y up, first row at v = 1).
    const tinygltf::Image& normal = model.images[model.textures[m.normalTexture.index].source];
    const Plain baked = readPng(n);
    const int channels = normal.component;  // the loader may add alpha
    ASSERT_GE(channels, 3);
    ASSERT_EQ(normal.image.size() / channels, baked.values.size() / 3);
    for (size_t i = 0; i < baked.values.size(); ++i)
        ASSERT_EQ(float(normal.image[i / 3 * channels + i % 3]), baked.values[i]) << i;

    // Our reader gives the low object back: its points and, per corner, its texture coordinates.
    host::Document original, back;
    std::string why;
    std::vector<host::Object*> a, b;
    ASSERT_TRUE(host::formats::readMeshFile(low, original, &a, &why)) << why;
    ASSERT_TRUE(host::formats::readMeshFile(asset, back, &b, &why)) << why;
    auto* lo = dynamic_cast<host::PolygonObject*>(a.at(0));
    auto* as = dynamic_cast<host::PolygonObject*>(b.at(0));
    ASSERT_TRUE(lo && as);
    ASSERT_EQ(lo->points.size(), as->points.size());
    for (size_t i = 0; i < lo->points.size(); ++i) {
        EXPECT_EQ(lo->points[i].x, as->points[i].x);
        EXPECT_EQ(lo->points[i].y, as->points[i].y);
        EXPECT_EQ(lo->points[i].z, as->points[i].z);
    }
    // Quads come back as triangle pairs; each corner's point keeps its texture coordinate.
    auto uvOfPoint = [](const host::PolygonObject& o) {
        std::map<int, std::pair<float, float>> at;
        const auto* uvw = static_cast<const host::UVWTag*>(o.tag(host::TAG_UVW));
        for (size_t f = 0; f < o.polygons.size(); ++f) {
            const host::Polygon& p = o.polygons[f];
            const int corners[4] = {p.a, p.b, p.c, p.d};
            for (int c = 0; c < 4; ++c) at[corners[c]] = {uvw->data[f].corner(c).x, uvw->data[f].corner(c).y};
        }
        return at;
    };
    // glTF counts v from the top: 1 - v both ways keeps v to within 2^-24.
    const auto want = uvOfPoint(*lo), got = uvOfPoint(*as);
    ASSERT_EQ(want.size(), got.size());
    for (const auto& [point, uv] : want) {
        ASSERT_TRUE(got.count(point)) << point;
        EXPECT_NEAR(got.at(point).first, uv.first, 1e-7) << point;
        EXPECT_NEAR(got.at(point).second, uv.second, 1e-7) << point;
    }
}

TEST_F(MapConventions, LevelChainCarriesAMapBakedOntoEachLevel) {
    // A finer copy of the low object, so that the chain has somewhere to go.
    const std::string input = folder + "/fine.obj", chain = folder + "/chain.glb";
    std::string text = "o fine\n";
    const int n = 8;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            text += "v " + std::to_string(double(i) / n) + " " + std::to_string(double(j) / n) + " 0\n";
            text += "vt " + std::to_string(0.1 + 0.8 * i / n) + " " + std::to_string(0.1 + 0.8 * j / n) + "\n";
        }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int p = j * (n + 1) + i + 1;
            text += "f " + std::to_string(p) + "/" + std::to_string(p) + " " + std::to_string(p + 1) + "/" +
                    std::to_string(p + 1) + " " + std::to_string(p + n + 2) + "/" + std::to_string(p + n + 2) + " " +
                    std::to_string(p + n + 1) + "/" + std::to_string(p + n + 1) + "\n";
        }
    writeFile(input, text);
    const RunResult r = runVexlor({"lod", input, "-o", chain, "--levels", "50%", "--bake-from", high + ":high",
                                   "--bake-size", "32"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string err, warn;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &err, &warn, chain)) << err;
    ASSERT_EQ(model.meshes.size(), 2u);
    ASSERT_EQ(model.materials.size(), 2u);  // one per level, each with its own map
    std::set<int> textures;
    for (const tinygltf::Mesh& mesh : model.meshes) {
        ASSERT_EQ(mesh.primitives.size(), 1u);
        const tinygltf::Material& m = model.materials.at(mesh.primitives[0].material);
        ASSERT_GE(m.normalTexture.index, 0);
        textures.insert(m.normalTexture.index);
        const tinygltf::Image& image = model.images.at(model.textures.at(m.normalTexture.index).source);
        EXPECT_EQ(image.width, 32);
    }
    EXPECT_EQ(textures.size(), 2u);
    // A chain without one file for its levels cannot carry maps.
    const RunResult refused =
        runVexlor({"lod", input, "-o", folder + "/l{n}.obj", "--levels", "50%", "--bake-from", high});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.err.find("--bake-from needs one .glb or .gltf file"), std::string::npos) << refused.err;
}

}  // namespace
