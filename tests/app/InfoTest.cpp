#include <gtest/gtest.h>

#include "RunVexlor.h"

TEST(VexlorInfo, SummarisesEachObjectWithCountsTagsAndBounds) {
    const std::string folder = makeTempFolder();
    const std::string path = folder + "/two.obj";
    writeFile(path,
              "o Quad\n"
              "v 0 0 0\nv 2 0 0\nv 2 1 0\nv 0 1 0\nv 1 0.5 3\n"
              "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
              "g top\n"
              "f 1/1 2/2 3/3 4/4\n"
              "g\n"
              "f 1/1 2/2 5/3\n"
              "o Tri\n"
              "v -1 -2 -3\nv 1 0 0\nv 0 1 0\n"
              "f 6 7 8\n");
    const RunResult r = runVexlor({"info", path});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("object \"Quad\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("points:   5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("polygons: 2 (1 triangles, 1 quads)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("tag 5671 uvw"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("tag 5673 polygon selection \"top\", 1 members"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("bounds:   (0.0000, 0.0000, 0.0000) to (2.0000, 1.0000, 3.0000)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("object \"Tri\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("polygons: 1 (1 triangles, 0 quads)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("bounds:   (-1.0000, -2.0000, -3.0000) to (1.0000, 1.0000, 0.0000)"), std::string::npos)
        << r.out;
}

TEST(VexlorInfo, MissingAndMalformedFilesFailWithTheFileNamed) {
    const std::string folder = makeTempFolder();
    const RunResult missing = runVexlor({"info", folder + "/nope.obj"});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.err.find("nope.obj"), std::string::npos) << missing.err;

    const std::string bad = folder + "/bad.obj";
    writeFile(bad, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n");
    const RunResult r = runVexlor({"info", bad});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("bad.obj:4"), std::string::npos) << r.err;
}

TEST(VexlorInfo, BundledSampleHasQuadsUvsAndAGroup) {
    const RunResult r = runVexlor({"info", std::string(VEXLOR_SOURCE_DIR) + "/samples/sample.obj"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("tag 5671 uvw"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("tag 5673 polygon selection"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(" 0 quads"), std::string::npos) << r.out;
}
