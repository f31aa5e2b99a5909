// Maps written as OpenEXR and 16-bit PNG hold what the layers held: normals as signed components,
// displacements as signed distances (no scale file), and heights read back from either.
#include <gtest/gtest.h>

#include <filesystem>

#include "baking/BakeSettings.h"
#include "baking/NMFloatLayer.h"
#include "baking/NMLayerSet.h"
#include "baking/NMVectorLayer.h"
#include "host/Bitmap.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakingFixture;
namespace fs = std::filesystem;

class FloatMapFilesTest : public BakingFixture {
protected:
    void TearDown() override {
        destroyLayerSet(set);
        BakingFixture::TearDown();
    }
    moduletest::TempFolder folder;
    NMLayerSet set;
    HostFilename file(const char* name) const { return HostFilename((folder.path() / name).string().c_str()); }
};

}  // namespace

TEST_F(FloatMapFilesTest, ExrDisplacementHoldsTheDistancesExactlyAndNeedsNoScaleFile) {
    // Outliers that the 8-bit map would clamp stay as they are in float.
    ASSERT_TRUE(createLayerSet(set, true, 10, 11, false, true));
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 10; ++x) {
            set.normal->set(x, y, {0, 0, 1});
            set.displacement->set(x, y, 0.001f * static_cast<float>(x - 3 * y));
        }
    set.displacement->set(9, 9, 100.0f);
    set.displacement->set(0, 10, -3.25f);
    set.keepDistances = true;
    finishLayerSet(set, nullptr);
    EXPECT_GT(set.displacementScale, 0.0f);  // still measured
    ASSERT_TRUE(writeDisplacement(set, file("disp.exr"), BAKE_FORMAT_EXR, 32, nullptr));
    EXPECT_FALSE(fs::exists(folder.path() / "disp.txt"));
    const host::Bitmap image = baketest::readImage(folder.path() / "disp.exr");
    ASSERT_TRUE(image.isFloat());
    ASSERT_EQ(image.channels(), 1);
    // Layer row y is image row 10 - y (the image's first row holds v = 1).
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(image.getFloat(x, 10 - y, 0), set.displacement->elementAt(x, y)) << x << "," << y;
    EXPECT_EQ(image.getFloat(9, 1, 0), 100.0f);
    EXPECT_EQ(image.getFloat(0, 0, 0), -3.25f);
    EXPECT_EQ(image.getFloat(4, 9, 0), 0.001f * 1);
}

TEST_F(FloatMapFilesTest, ExrNormalsAreSignedComponentsInFloatAndHalf) {
    NMVectorLayer v;
    ASSERT_TRUE(v.allocate(2, 1));
    v.set(0, 0, {1, 0, -1});
    v.set(1, 0, {0.267261237f, -0.534522474f, 0.801783681f});
    ASSERT_TRUE(v.writeImageFile(file("n.exr"), BAKE_FORMAT_EXR, 32, nullptr));
    ASSERT_TRUE(v.writeImageFile(file("nh.exr"), BAKE_FORMAT_EXR_HALF, 16, nullptr));
    const host::Bitmap f = baketest::readImage(folder.path() / "n.exr");
    const host::Bitmap h = baketest::readImage(folder.path() / "nh.exr");
    ASSERT_EQ(f.channels(), 3);
    for (int x = 0; x < 2; ++x) {
        const NMVector3f e = v.elementAt(x, 0);
        const float c[3] = {e.x, e.y, e.z};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(f.getFloat(x, 0, k), c[k]);
            EXPECT_NEAR(h.getFloat(x, 0, k), c[k], 0.0005);
        }
    }
    EXPECT_EQ(h.getFloat(0, 0, 2), -1.0f);
}

TEST_F(FloatMapFilesTest, SixteenBitPngNormalsMatchTheTiffRule) {
    NMVectorLayer v;
    ASSERT_TRUE(v.allocate(2, 1));
    v.set(0, 0, {1, 0, -1});
    v.set(1, 0, {0.25f, -0.25f, 0.5f});
    ASSERT_TRUE(v.writeImageFile(file("n16.png"), BAKE_FORMAT_PNG, 16, nullptr));
    const host::Bitmap b = baketest::readImage(folder.path() / "n16.png");
    ASSERT_EQ(b.bitsPerChannel(), 16);
    EXPECT_EQ(b.get16(0, 0, 0), 65535);
    EXPECT_EQ(b.get16(0, 0, 1), 32767);
    EXPECT_EQ(b.get16(0, 0, 2), 0);
    EXPECT_EQ(b.get16(1, 0, 0), 40959);  // 0.25 · 32767.5 + 32767.5 = 40959.375
    EXPECT_EQ(b.get16(1, 0, 1), 24575);
    EXPECT_EQ(b.get16(1, 0, 2), 49151);
}

TEST_F(FloatMapFilesTest, HeightsLoadFromExrAsTheyAreAndFromSixteenBitsAtFullPrecision) {
    host::Bitmap heights;
    ASSERT_TRUE(heights.init(3, 1, 1, 32));
    heights.setFloat(0, 0, 0, -0.5f);
    heights.setFloat(1, 0, 0, 0.123456789f);
    heights.setFloat(2, 0, 0, 4.0f);
    std::string error;
    ASSERT_TRUE(heights.save((folder.path() / "h.exr").string(), host::IMAGE_EXR, &error)) << error;
    NMFloatLayer f;
    ASSERT_TRUE(f.loadImageFile(file("h.exr")));
    EXPECT_EQ(f.elementAt(0, 0), -0.5f);
    EXPECT_EQ(f.elementAt(1, 0), 0.123456789f);
    EXPECT_EQ(f.elementAt(2, 0), 4.0f);

    host::Bitmap deep;
    ASSERT_TRUE(deep.init(2, 1, 1, 16));
    deep.set16(0, 0, 0, 1);
    deep.set16(1, 0, 0, 65535);
    ASSERT_TRUE(deep.save((folder.path() / "h16.png").string(), 0, &error)) << error;
    ASSERT_TRUE(f.loadImageFile(file("h16.png")));
    EXPECT_EQ(f.elementAt(0, 0), static_cast<float>(1 / 65535.0));
    EXPECT_EQ(f.elementAt(1, 0), 1.0f);
}
