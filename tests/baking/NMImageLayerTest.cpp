// The image layers: flat and banded storage, pixel access across bands, bilinear samples, image
// files written and read back, the bump layer made from heights.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "baking/BakeSettings.h"
#include "baking/NMFloatLayer.h"
#include "baking/NMIntLayer.h"
#include "baking/NMVectorLayer.h"
#include "host/Bitmap.h"
#include "host/Memory.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakingFixture;
namespace fs = std::filesystem;

class NMImageLayerTest : public BakingFixture {
protected:
    moduletest::TempFolder folder;
    HostFilename file(const char* name) const { return HostFilename((folder.path() / name).string().c_str()); }
};

}  // namespace

TEST_F(NMImageLayerTest, BandsHoldAHundredRowsEach) {
    NMBandedFloatLayer a;
    ASSERT_TRUE(a.allocate(7, 100));
    EXPECT_EQ(a.storage().bandCount(), 1);
    EXPECT_EQ(a.storage().bandSize(0), 700);
    NMBandedFloatLayer b;
    ASSERT_TRUE(b.allocate(7, 101));
    EXPECT_EQ(b.storage().bandCount(), 2);
    EXPECT_EQ(b.storage().bandSize(1), 7);
    NMBandedVectorLayer c;
    ASSERT_TRUE(c.allocate(3, 250));
    EXPECT_EQ(c.storage().bandCount(), 3);
    EXPECT_EQ(c.storage().bandSize(2), 150);
    EXPECT_EQ(c.width(), 3);
    EXPECT_EQ(c.height(), 250);
}

TEST_F(NMImageLayerTest, PixelsAcrossBandsAreDistinct) {
    NMBandedIntLayer banded;
    NMIntLayer flat;
    ASSERT_TRUE(banded.allocate(5, 230));
    ASSERT_TRUE(flat.allocate(5, 230));
    for (int32_t y = 0; y < 230; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            banded.set(x, y, x + 10 * y);
            flat.set(x, y, x + 10 * y);
            banded.add(x, y, 1);
        }
    for (int32_t y = 0; y < 230; ++y) {
        const int32_t* r = banded.row(y);
        for (int32_t x = 0; x < 5; ++x) {
            ASSERT_EQ(banded.elementAt(x, y), x + 10 * y + 1) << x << "," << y;
            ASSERT_EQ(r[x], x + 10 * y + 1);
            ASSERT_EQ(flat.row(y)[x], x + 10 * y);
        }
    }
    EXPECT_EQ(banded.row(230), nullptr);
    EXPECT_EQ(banded.row(-1), nullptr);
}

TEST_F(NMImageLayerTest, AllocateClearsAndReleaseEmpties) {
    NMBandedVectorLayer v;
    ASSERT_TRUE(v.allocate(4, 4));
    v.set(2, 2, {1, 2, 3});
    ASSERT_TRUE(v.allocate(4, 4));
    EXPECT_EQ(v.elementAt(2, 2).y, 0.0f);
    EXPECT_FALSE(v.isEmpty());
    EXPECT_TRUE(v.release());
    EXPECT_TRUE(v.isEmpty());
    EXPECT_EQ(v.width(), 0);
    EXPECT_FALSE(v.allocate(0, 5));
    EXPECT_FALSE(v.allocate(5, -1));
    EXPECT_TRUE(v.isEmpty());
    NMFloatLayer f;
    EXPECT_FALSE(f.allocate(70000, 70000)) << "more elements than one stack can hold";
}

TEST_F(NMImageLayerTest, AllocationFailureLeavesTheLayerEmpty) {
    for (uint64_t n = 1; n <= 3; ++n) {
        NMBandedFloatLayer f;
        host::memory::failAfter(n);
        EXPECT_FALSE(f.allocate(10, 250)) << n;
        host::memory::resetFailures();
        EXPECT_TRUE(f.isEmpty());
    }
    EXPECT_FALSE(console().empty());
}

TEST_F(NMImageLayerTest, OutOfRangeAccessIsReported) {
    NMFloatLayer f;
    ASSERT_TRUE(f.allocate(2, 2));
    f.set(1, 1, 5.0f);
    f.set(7, 7, 3.0f);  // past the end: reported, slot 0 takes it
    const auto lines = console();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "NO MEMORY: Stack 98");
    EXPECT_EQ(f.elementAt(0, 0), 3.0f);
    EXPECT_EQ(f.elementAt(1, 1), 5.0f);
}

TEST_F(NMImageLayerTest, BilinearSampleByHand) {
    // 3 × 2 layer: row 0 = 0, 1, 2; row 1 = 10, 11, 12.
    NMFloatLayer f;
    ASSERT_TRUE(f.allocate(3, 2));
    for (int x = 0; x < 3; ++x) {
        f.set(x, 0, float(x));
        f.set(x, 1, float(10 + x));
    }
    // u = 0.25 → px 0.5; v = 0.5 → py 0.5: (0 + 1 + 10 + 11) / 4.
    EXPECT_FLOAT_EQ(f.bilinear(0.25, 0.5), 5.5f);
    EXPECT_FLOAT_EQ(f.bilinear(1.0, 1.0), 12.0f);
    EXPECT_FLOAT_EQ(f.bilinear(0.75, 0.0), 1.5f);
    // Clamped outside [0, 1].
    EXPECT_FLOAT_EQ(f.bilinear(-3.0, 7.0), 10.0f);
    NMFloatLayer empty;
    EXPECT_EQ(empty.bilinear(0.5, 0.5), 0.0f);

    NMBandedVectorLayer v;
    ASSERT_TRUE(v.allocate(2, 2));
    v.set(1, 1, {4, -4, 8});
    const NMVector3f s = v.bilinear(0.5, 0.5);
    EXPECT_FLOAT_EQ(s.x, 1.0f);
    EXPECT_FLOAT_EQ(s.y, -1.0f);
    EXPECT_FLOAT_EQ(s.z, 2.0f);
}

TEST_F(NMImageLayerTest, FloatLayerWritesGreyLevels) {
    NMBandedFloatLayer f;
    ASSERT_TRUE(f.allocate(4, 102));
    const float values[4] = {0.0f, 0.5f, 1.0f, 0.999f};
    for (int y = 0; y < 102; ++y)
        for (int x = 0; x < 4; ++x) f.set(x, y, values[x]);
    f.set(3, 101, 1.5f);  // beyond 1: held at 255
    f.set(0, 0, 0.25f);
    ASSERT_TRUE(f.writeImageFile(file("grey.tif"), BAKE_FORMAT_TIFF, 8, nullptr));
    const host::Bitmap b = baketest::readImage(folder.path() / "grey.tif");
    ASSERT_EQ(b.width(), 4);
    ASSERT_EQ(b.height(), 102);
    EXPECT_EQ(b.bitsPerChannel(), 8);
    const int want[4] = {0, 127, 255, 254};
    for (int x = 0; x < 4; ++x)
        for (int c = 0; c < b.channels(); ++c) EXPECT_EQ(b.get8(x, 1, c), want[x]) << x;
    // The layer's rows count with v, the image's from the top: the last layer row is the first
    // image row, and the first layer row the last one.
    EXPECT_EQ(b.get8(3, 0, 0), 255);
    EXPECT_EQ(b.get8(0, 101, 0), 63);
}

TEST_F(NMImageLayerTest, VectorLayerWritesEncodedNormals) {
    NMVectorLayer v;
    ASSERT_TRUE(v.allocate(3, 1));
    v.set(0, 0, {0, 0, 0});
    v.set(1, 0, {1, 0, 0});
    v.set(2, 0, {-1, 0.5f, -0.5f});
    for (int32_t format : {BAKE_FORMAT_TIFF, BAKE_FORMAT_TGA, BAKE_FORMAT_BMP}) {
        const char* name = format == BAKE_FORMAT_TIFF ? "n.tif" : format == BAKE_FORMAT_TGA ? "n.tga" : "n.bmp";
        const HostFilename f = file(name);
        ASSERT_TRUE(v.writeImageFile(f, format, 8, nullptr));
        const host::Bitmap b = baketest::readImage(f.chars());
        ASSERT_EQ(b.channels(), 3);
        const int want[3][3] = {{127, 127, 127}, {255, 127, 127}, {0, 191, 63}};
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(b.get8(x, 0, c), want[x][c]) << format << " " << x << " " << c;
    }
}

TEST_F(NMImageLayerTest, SixteenBitsMakeRealSixteenBitTiffs) {
    NMVectorLayer v;
    NMFloatLayer f;
    ASSERT_TRUE(v.allocate(2, 1));
    ASSERT_TRUE(f.allocate(2, 1));
    v.set(0, 0, {1, 0, -1});
    v.set(1, 0, {0.25f, -0.25f, 0.5f});
    f.set(0, 0, 0.5f);
    f.set(1, 0, 1.0f);
    ASSERT_TRUE(v.writeImageFile(file("n16.tif"), BAKE_FORMAT_TIFF, 16, nullptr));
    ASSERT_TRUE(f.writeImageFile(file("g16.tif"), BAKE_FORMAT_TIFF, 16, nullptr));
    const host::Bitmap nb = baketest::readImage(folder.path() / "n16.tif");
    ASSERT_EQ(nb.bitsPerChannel(), 16);
    ASSERT_EQ(nb.channels(), 3);
    EXPECT_EQ(nb.get16(0, 0, 0), 65535);
    EXPECT_EQ(nb.get16(0, 0, 1), 32767);
    EXPECT_EQ(nb.get16(0, 0, 2), 0);
    EXPECT_EQ(nb.get16(1, 0, 0), 40959);  // 0.25 · 32767.5 + 32767.5 = 40959.375
    EXPECT_EQ(nb.get16(1, 0, 1), 24575);
    EXPECT_EQ(nb.get16(1, 0, 2), 49151);
    const host::Bitmap gb = baketest::readImage(folder.path() / "g16.tif");
    ASSERT_EQ(gb.bitsPerChannel(), 16);
    EXPECT_EQ(gb.get16(0, 0, 0), 32767);
    EXPECT_EQ(gb.get16(1, 0, 0), 65535);
}

TEST_F(NMImageLayerTest, SixteenBitsAreRefusedWhereTheFormatCannotHoldThem) {
    NMVectorLayer v;
    ASSERT_TRUE(v.allocate(2, 2));
    EXPECT_FALSE(v.writeImageFile(file("n.bmp"), BAKE_FORMAT_BMP, 16, nullptr));
    EXPECT_FALSE(v.writeImageFile(file("n.tga"), BAKE_FORMAT_TGA, 16, nullptr));
    EXPECT_FALSE(v.writeImageFile(file("n12.tif"), BAKE_FORMAT_TIFF, 12, nullptr));
    EXPECT_FALSE(fs::exists(folder.path() / "n.bmp"));
    EXPECT_FALSE(fs::exists(folder.path() / "n.tga"));
    EXPECT_FALSE(fs::exists(folder.path() / "n12.tif"));
}

TEST_F(NMImageLayerTest, EmptyLayerWritesNothing) {
    NMFloatLayer f;
    EXPECT_TRUE(f.writeImageFile(file("none.tif"), BAKE_FORMAT_TIFF, 8, nullptr));
    EXPECT_FALSE(fs::exists(folder.path() / "none.tif"));
}

TEST_F(NMImageLayerTest, StopOrUnwritableFolderFailsTheWrite) {
    NMBandedFloatLayer f;
    ASSERT_TRUE(f.allocate(3, 150));
    baketest::PollingThread stopAtOnce(1);
    EXPECT_FALSE(f.writeImageFile(file("stopped.tif"), BAKE_FORMAT_TIFF, 8, &stopAtOnce));
    EXPECT_FALSE(fs::exists(folder.path() / "stopped.tif"));
    baketest::PollingThread stopLater(120);
    EXPECT_FALSE(f.writeImageFile(file("stopped.tif"), BAKE_FORMAT_TIFF, 8, &stopLater));
    EXPECT_FALSE(fs::exists(folder.path() / "stopped.tif"));
    EXPECT_FALSE(f.writeImageFile(file("missing/x.tif"), BAKE_FORMAT_TIFF, 8, nullptr));
    console();
}

TEST_F(NMImageLayerTest, LoadReadsGreyAndEncodedVectors) {
    host::Bitmap b;
    ASSERT_TRUE(b.init(3, 2, 3, 8));
    b.setPixel(0, 0, 0, 0, 0);
    b.setPixel(1, 0, 255, 255, 255);
    b.setPixel(2, 0, 51, 51, 51);
    b.setPixel(0, 1, 255, 127, 0);
    ASSERT_TRUE(b.save((folder.path() / "in.tif").string()));
    // The image's top row holds v = 1: it becomes the layers' last row, its bottom row their first.
    NMBandedFloatLayer f;
    ASSERT_TRUE(f.loadImageFile(file("in.tif")));
    ASSERT_EQ(f.width(), 3);
    ASSERT_EQ(f.height(), 2);
    EXPECT_FLOAT_EQ(f.elementAt(1, 1), 1.0f);
    EXPECT_FLOAT_EQ(f.elementAt(2, 1), 0.2f);
    NMVectorLayer v;
    ASSERT_TRUE(v.loadImageFile(file("in.tif")));
    EXPECT_FLOAT_EQ(v.elementAt(0, 0).x, 1.0f);
    EXPECT_FLOAT_EQ(v.elementAt(0, 0).y, float(-0.5 / 127.5));
    EXPECT_FLOAT_EQ(v.elementAt(0, 0).z, -1.0f);
    EXPECT_FALSE(v.loadImageFile(file("absent.tif")));
}

TEST_F(NMImageLayerTest, RoundTripOfANormalLayer) {
    NMBandedVectorLayer v;
    ASSERT_TRUE(v.allocate(16, 130));
    for (int y = 0; y < 130; ++y)
        for (int x = 0; x < 16; ++x) v.set(x, y, normalise({float(x - 8), float(y % 17 - 8), 6.0f}));
    ASSERT_TRUE(v.writeImageFile(file("rt.tif"), BAKE_FORMAT_TIFF, 8, nullptr));
    NMVectorLayer back;
    ASSERT_TRUE(back.loadImageFile(file("rt.tif")));
    for (int y = 0; y < 130; ++y)
        for (int x = 0; x < 16; ++x) {
            const NMVector3f a = v.elementAt(x, y), b = back.elementAt(x, y);
            // Truncation loses less than one level of 1/127.5.
            ASSERT_NEAR(a.x, b.x, 1.0 / 127.5 + 1e-6);
            ASSERT_NEAR(a.y, b.y, 1.0 / 127.5 + 1e-6);
            ASSERT_NEAR(a.z, b.z, 1.0 / 127.5 + 1e-6);
        }
}

TEST_F(NMImageLayerTest, NormaliseAllKeepsZeros) {
    NMVectorLayer v;
    ASSERT_TRUE(v.allocate(2, 1));
    v.set(1, 0, {3, 0, 4});
    v.normaliseAll();
    EXPECT_EQ(v.elementAt(0, 0).x, 0.0f);
    EXPECT_EQ(v.elementAt(0, 0).z, 0.0f);
    EXPECT_FLOAT_EQ(v.elementAt(1, 0).x, 0.6f);
    EXPECT_FLOAT_EQ(v.elementAt(1, 0).z, 0.8f);
}

TEST_F(NMImageLayerTest, BumpLayerFromRamps) {
    // 8 × 8 heights h = x / 10. Inside: gx = (h(x+1) − h(x−1)) · (1 + 2 + 1) = 0.8, gy = 0, so with
    // strength 2 the normal is normalise(−1.6, 0, 1). Column 0 wraps to column 7: gx = (0.1 − 0.7)·4.
    NMFloatLayer h;
    ASSERT_TRUE(h.allocate(8, 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) h.set(x, y, x / 10.0f);
    NMBandedVectorLayer bump;
    ASSERT_TRUE(bump.makeBumpLayer(h, 2.0f));
    const double l = std::sqrt(1.6 * 1.6 + 1.0);
    EXPECT_NEAR(bump.elementAt(3, 5).x, -1.6 / l, 1e-6);
    EXPECT_NEAR(bump.elementAt(3, 5).y, 0.0, 1e-6);
    EXPECT_NEAR(bump.elementAt(3, 5).z, 1.0 / l, 1e-6);
    const double l0 = std::sqrt(4.8 * 4.8 + 1.0);
    EXPECT_NEAR(bump.elementAt(0, 2).x, 4.8 / l0, 1e-6);

    // Heights growing with the row (with v) tilt the normal towards −y, as growing with x tilts it
    // towards −x.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) h.set(x, y, y / 10.0f);
    ASSERT_TRUE(bump.makeBumpLayer(h, 2.0f));
    EXPECT_NEAR(bump.elementAt(3, 5).x, 0.0, 1e-6);
    EXPECT_NEAR(bump.elementAt(3, 5).y, -1.6 / l, 1e-6);
    EXPECT_NEAR(bump.elementAt(3, 5).z, 1.0 / l, 1e-6);
}
