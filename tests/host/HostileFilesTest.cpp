// Files made by a hostile hand, read through the format dispatcher: every one is refused with one line
// that names the file and the problem (or read as the harmless file it also is), adds nothing, and
// neither crashes, reads outside the file's folder, waits on a FIFO nor allocates without bound.
// Grouped by the reader's fault they guard against: accessor bounds, references out of the folder,
// the limits on what the parsing libraries are handed, the choice of importer, and messages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/Document.h"
#include "host/Tags.h"
#include "host/formats/MeshFile.h"
#include "tests/support/RefusedFiles.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace host;
using host::formats::MeshFormat;

namespace {

using testsupport::LoadedMesh;
using testsupport::RefusedFile;
using testsupport::expectEachRefused;
using testsupport::loadMesh;
using testsupport::writeBytes;

// One temporary folder per test.
class HostileDir : public testsupport::TempDir {
public:
    HostileDir() : testsupport::TempDir("vexlor-hostile") {}
};

template <class T>
void put(std::string& out, T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// One triangle: three float positions (36 bytes) and nothing else.
std::string triangleBuffer() {
    std::string b;
    for (float f : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f}) put(b, f);
    return b;
}

// A glTF of one triangle whose buffer, view and accessor fields are given as JSON text.
std::string triangleGltf(const std::string& buffer, const std::string& view, const std::string& accessor,
                         const std::string& attributes = R"("POSITION":0)") {
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
           R"("meshes":[{"primitives":[{"attributes":{)" + attributes + R"(}}]}],)"
           R"("buffers":[)" + buffer + R"(],"bufferViews":[)" + view + R"(],"accessors":[)" + accessor + "]}";
}

std::string embeddedBuffer() {
    // "data:" URI of triangleBuffer(), base64.
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string in = triangleBuffer();
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        const uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
        out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], k[v & 63]};
    }
    return R"({"byteLength":36,"uri":"data:application/octet-stream;base64,)" + out + R"("})";
}

const std::string kView = R"({"buffer":0,"byteLength":36})";
const std::string kAccessor = R"({"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"})";

// A .glb of the JSON and the binary chunk.
std::string glb(std::string json, std::string bin) {
    while (json.size() % 4) json += ' ';
    while (bin.size() % 4) bin += '\0';
    std::string out = "glTF";
    put(out, uint32_t{2});
    put(out, static_cast<uint32_t>(12 + 8 + json.size() + 8 + bin.size()));
    put(out, static_cast<uint32_t>(json.size()));
    out += "JSON" + json;
    put(out, static_cast<uint32_t>(bin.size()));
    out += std::string("BIN\0", 4) + bin;
    return out;
}

std::string nested(int depth, const std::string& open, const std::string& close, const std::string& inner = "") {
    std::string s;
    for (int i = 0; i < depth; ++i) s += open;
    s += inner;
    for (int i = 0; i < depth; ++i) s += close;
    return s;
}

// A Collada file of one triangle: the geometry's source and primitive parts and the scene's nodes
// can be replaced.
std::string collada(const std::string& floatArray, const std::string& accessor, const std::string& primitive,
                    const std::string& nodes = R"(<node id="n" name="n"><instance_geometry url="#g"/></node>)") {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <library_geometries><geometry id="g" name="tri"><mesh>
    <source id="p">)" + floatArray + R"(
      <technique_common>)" + accessor + R"(
        <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
      </accessor></technique_common></source>
    <vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
    )" + primitive + R"(
  </mesh></geometry></library_geometries>
  <library_visual_scenes><visual_scene id="s">)" + nodes + R"(</visual_scene></library_visual_scenes>
  <scene><instance_visual_scene url="#s"/></scene>
</COLLADA>
)";
}

const std::string kFloats = R"(<float_array id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>)";
const std::string kAccessorXml = R"(<accessor source="#pa" count="3" stride="3">)";
const std::string kTriangles =
    R"(<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>)";

// Binary FBX records (version 7400: 32-bit offsets).
struct FbxRecord {
    std::string name;
    std::string properties;  // encoded
    int propertyCount = 0;
    std::vector<FbxRecord> children;
};

FbxRecord fbx(std::string name, std::vector<FbxRecord> children = {}) { return {std::move(name), {}, 0, std::move(children)}; }
FbxRecord& withLong(FbxRecord& r, int64_t v) {
    r.properties += 'L';
    put(r.properties, v);
    ++r.propertyCount;
    return r;
}
FbxRecord& withString(FbxRecord& r, const std::string& s) {
    r.properties += 'S';
    put(r.properties, static_cast<uint32_t>(s.size()));
    r.properties += s;
    ++r.propertyCount;
    return r;
}

void encodeFbx(const FbxRecord& r, std::string& out) {
    const size_t start = out.size();
    out.append(12, '\0');
    out += static_cast<char>(r.name.size());
    out += r.name + r.properties;
    for (const FbxRecord& c : r.children) encodeFbx(c, out);
    if (!r.children.empty()) out.append(13, '\0');
    const uint32_t end = static_cast<uint32_t>(out.size()), count = r.propertyCount,
                   length = static_cast<uint32_t>(r.properties.size());
    std::memcpy(&out[start], &end, 4);
    std::memcpy(&out[start + 4], &count, 4);
    std::memcpy(&out[start + 8], &length, 4);
}

std::string binaryFbx(const std::vector<FbxRecord>& top) {
    std::string out("Kaydara FBX Binary  \0\x1a\0", 23);
    put(out, uint32_t{7400});
    for (const FbxRecord& r : top) encodeFbx(r, out);
    out.append(13, '\0');
    out.append(160, '\0');  // the footer
    return out;
}

FbxRecord model(int64_t id) {
    FbxRecord m = fbx("Model");
    withLong(m, id);
    withString(m, std::string("m\0\x01Model", 8));
    withString(m, "Null");
    return m;
}

FbxRecord connection(int64_t child, int64_t parent) {
    FbxRecord c = fbx("C");
    withString(c, "OO");
    withLong(c, child);
    withLong(c, parent);
    return c;
}

}  // namespace

// Offsets, counts and strides near 2^64 must not wrap the accessor's bounds check (it read before
// the buffer and copied heap into the output), in .gltf and .glb alike; a texture set numbered past
// any int is ignored rather than overflowing.
TEST(HostileFiles, AccessorsReachingPastTheirBufferAreRefusedWhateverTheirNumbers) {
    HostileDir dir;
    const std::string huge = "18446744073709551600";  // 2^64 - 16
    const std::vector<std::pair<std::string, std::string>> views = {
        {R"({"buffer":0,"byteLength":36})", R"({"bufferView":0,"byteOffset":)" + huge + R"(,"componentType":5126,"count":3,"type":"VEC3"})"},
        {R"({"buffer":0,"byteLength":36})", R"({"bufferView":0,"componentType":5126,"count":4611686018427387904,"type":"VEC3"})"},
        {R"({"buffer":0,"byteLength":36})", R"({"bufferView":0,"byteOffset":28,"componentType":5126,"count":1,"type":"VEC3"})"},
        {R"({"buffer":0,"byteOffset":)" + huge + R"(,"byteLength":36})", kAccessor},
        {R"({"buffer":0,"byteOffset":16,"byteLength":18446744073709551615})", kAccessor},
        {R"({"buffer":0,"byteLength":36,"byteStride":252})", kAccessor},
    };
    std::vector<RefusedFile> cases;
    for (size_t i = 0; i < views.size(); ++i) {
        cases.push_back({"v" + std::to_string(i) + ".gltf", triangleGltf(embeddedBuffer(), views[i].first, views[i].second),
                         "reaches past the end of its buffer"});
        cases.push_back({"v" + std::to_string(i) + ".glb",
                         glb(triangleGltf(R"({"byteLength":36})", views[i].first, views[i].second), triangleBuffer()),
                         "reaches past the end of its buffer"});
    }
    expectEachRefused(dir, cases);

    writeBytes(dir.file("sets.gltf"), triangleGltf(embeddedBuffer(), kView, kAccessor + "," + kAccessor,
                                                   R"("POSITION":0,"TEXCOORD_2147483647":1,"TEXCOORD_99999999999999999999":1)"));
    LoadedMesh l = loadMesh(dir.file("sets.gltf"));
    ASSERT_TRUE(l.ok) << l.error;
    for (const auto& t : l.roots.at(0)->tags()) EXPECT_NE(t->type(), TAG_UVW);
}

// Buffers and images are read only from inside the .gltf's folder: no "..", no absolute path, no
// percent-encoded form of either, no link that leads out; the secret never becomes mesh data.
TEST(HostileFiles, GltfReferencesOutsideTheFilesFolderAreRefused) {
    HostileDir outside;
    writeBytes(outside.file("secret.bin"), triangleBuffer());
    HostileDir dir;
    fs::create_directories(dir.file("sub"));
    fs::create_symlink(outside.file("secret.bin"), dir.file("link.bin"));
    const std::string up = "../" + fs::path(outside.file("")).parent_path().filename().string() + "/secret.bin";
    auto withUri = [](const std::string& uri) { return triangleGltf(R"({"byteLength":36,"uri":")" + uri + R"("})", kView, kAccessor); };
    std::string encodedUp;
    for (char c : up) encodedUp += c == '.' ? std::string("%2e") : c == '/' ? std::string("%2F") : std::string(1, c);
    const std::string image = R"(,"images":[{"uri":")" + up + R"("}]})";
    std::string withImage = triangleGltf(embeddedBuffer(), kView, kAccessor);
    withImage.replace(withImage.size() - 1, 1, image);
    expectEachRefused(dir, {
        {"up.gltf", withUri(up), "a path that leaves the file's folder"},
        {"sub-up.gltf", withUri("sub/../../x.bin"), "a path that leaves the file's folder"},
        {"absolute.gltf", withUri(outside.file("secret.bin")), "an absolute path"},
        {"encoded.gltf", withUri(encodedUp), "a path that leaves the file's folder"},
        {"encoded-abs.gltf", withUri("%2F" + outside.file("secret.bin").substr(1)), "an absolute path"},
        {"scheme.gltf", withUri("file:///etc/passwd"), "not a relative path"},
        {"nul.gltf", withUri("ok.bin%00.png"), "control character"},
        {"link.gltf", withUri("link.bin"), "a link that leads out of the file's folder"},
        {"image.gltf", withImage, "a path that leaves the file's folder"},
    });
    // Inside the folder (a subfolder, a link that stays inside) is read as before.
    writeBytes(dir.file("sub/tri.bin"), triangleBuffer());
    fs::create_symlink("sub/tri.bin", dir.file("inside.bin"));
    for (const std::string& uri : {std::string("sub/tri.bin"), std::string("sub%2Ftri.bin"), std::string("inside.bin")}) {
        writeBytes(dir.file("good.gltf"), withUri(uri));
        LoadedMesh l = loadMesh(dir.file("good.gltf"));
        EXPECT_TRUE(l.ok) << uri << ": " << l.error;
    }
}

// What a library would recurse on without end or allocate without bound is refused before the
// library sees it: deep JSON, deep or cyclic node trees, Collada's unchecked counts and lists, FBX
// connection cycles, deep records and compressed arrays that announce gigabytes.
TEST(HostileFiles, WhatTheLibrariesCannotBoundIsRefusedBeforeTheySeeIt) {
    HostileDir dir;
    std::string deepExtras = triangleGltf(embeddedBuffer(), kView, kAccessor);
    deepExtras.replace(deepExtras.size() - 1, 1, R"(,"extras":)" + nested(20000, "[", "]") + "}");
    std::string deepNodes = R"({"asset":{"version":"2.0"},"scenes":[{"nodes":[0]}],"nodes":[)";
    for (int i = 0; i < 1001; ++i) deepNodes += std::string(i ? "," : "") + R"({"children":[)" + std::to_string(i + 1) + "]}";
    deepNodes += R"(,{}]})";

    std::string deepDae;
    for (int i = 0; i < 1001; ++i) deepDae += "<node id=\"n" + std::to_string(i) + "\">";
    deepDae += R"(<instance_geometry url="#g"/>)";
    for (int i = 0; i < 1001; ++i) deepDae += "</node>";
    // Twenty levels, each instancing the one below twice: about a million nodes from 2 KB.
    std::string bomb = R"(<node id="b0"><instance_geometry url="#g"/></node>)";
    for (int i = 1; i <= 20; ++i) {
        const std::string below = "#b" + std::to_string(i - 1);
        bomb += "<node id=\"b" + std::to_string(i) + "\"><instance_node url=\"" + below + "\"/><instance_node url=\"" +
                below + "\"/></node>";
    }
    const std::string selfInstance = R"(<node id="a"><node id="b"><instance_node url="#a"/></node></node>)";

    std::vector<FbxRecord> deepFbx{fbx("Top")};
    FbxRecord* at = &deepFbx[0];
    for (int i = 0; i < 70; ++i) {
        at->children.push_back(fbx("Level"));
        at = &at->children[0];
    }
    FbxRecord zipBomb = fbx("Geometry");
    zipBomb.properties += 'd';
    put(zipBomb.properties, uint32_t{200000000});  // 1.6 GB of doubles
    put(zipBomb.properties, uint32_t{1});          // deflated
    put(zipBomb.properties, uint32_t{16});
    zipBomb.properties.append(16, '\0');
    zipBomb.propertyCount = 1;
    FbxRecord chainObjects = fbx("Objects"), chainLinks = fbx("Connections");
    for (int i = 1; i <= 1002; ++i) {
        chainObjects.children.push_back(model(i));
        chainLinks.children.push_back(connection(i, i - 1));  // model 1 under the root, each next under the last
    }
    const std::string asciiCycle = "; FBX 7.4.0 project file\nFBXHeaderExtension:  {\n\tFBXVersion: 7400\n}\n"
                                   "Objects:  {\n\tModel: 1, \"Model::a\", \"Null\" {\n\t}\n"
                                   "\tModel: 2, \"Model::b\", \"Null\" {\n\t}\n}\n"
                                   "Connections:  {\n\tC: \"OO\",1,2\n\tC: \"OO\",2,1\n}\n";

    expectEachRefused(dir, {
        {"extras.gltf", deepExtras, "nests deeper than 256 levels"},
        {"extras.glb", glb(deepExtras, ""), "nests deeper than 256 levels"},
        {"deep.gltf", deepNodes, "the node hierarchy is deeper than 1000 levels"},
        {"negative.dae", collada(R"(<float_array id="pa" count="-5">0 0 0 1 0 0 0 1 0</float_array>)", kAccessorXml, kTriangles),
         "count \"-5\" is not a whole number"},
        {"overcount.dae", collada(R"(<float_array id="pa" count="900000000">0 0 0</float_array>)", kAccessorXml, kTriangles),
         "of count 900000000 holds only 3 values"},
        {"stride.dae", collada(kFloats, R"(<accessor source="#pa" count="3" stride="1000000">)", kTriangles),
         "reaches past the 9 values of its array"},
        {"token.dae", collada(kFloats, kAccessorXml, R"(<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 x2</p></triangles>)"),
         "holds \"x2\", which is not a whole number"},
        {"entity.dae", collada(kFloats, kAccessorXml, R"(<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 &#50;</p></triangles>)"),
         "which is not a whole number"},
        {"triangles.dae", collada(kFloats, kAccessorXml, R"(<triangles count="100000000"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>)"),
         "asks for 300000000 vertices"},
        {"offsets.dae", collada(kFloats, kAccessorXml, R"(<polylist count="1"><input semantic="VERTEX" source="#v" offset="900000"/><vcount>3</vcount><p>0 1 2</p></polylist>)"),
         "asks for 3 vertices of 900001 indices each"},
        {"deep.dae", collada(kFloats, kAccessorXml, kTriangles, deepDae), "the node hierarchy is deeper than 1000 levels"},
        {"self.dae", collada(kFloats, kAccessorXml, kTriangles, selfInstance), "a node instances itself"},
        {"bomb.dae", collada(kFloats, kAccessorXml, kTriangles, bomb), "the node tree expands to more than 1000000 nodes"},
        {"xml.dae", collada(kFloats, kAccessorXml, kTriangles, nested(5000, "<extra>", "</extra>")), "the XML nests deeper than"},
        {"cycle.fbx", binaryFbx({fbx("Objects", {model(1), model(2)}), fbx("Connections", {connection(1, 2), connection(2, 1)})}),
         "a model is connected below itself"},
        {"deep.fbx", binaryFbx(deepFbx), "FBX records nest deeper than 64 levels"},
        {"chain.fbx", binaryFbx({chainObjects, chainLinks}), "the model hierarchy is deeper than 1000 levels"},
        {"zip.fbx", binaryFbx({fbx("Objects", {zipBomb})}), "more than its compressed bytes can hold"},
        {"ascii.fbx", asciiCycle, "a model is connected below itself"},
        // Found by the fuzzer: a value with a line break is shown escaped (messages are one line),
        // and a NUL byte in an ASCII FBX once stopped the scan from moving on.
        {"break.dae", collada(kFloats, "<accessor source=\"#pa\" count=\"3\" stride=\"3\n3\">", kTriangles),
         "stride \"3\\x0a3\" is not a whole number"},
        {"nul.fbx", asciiCycle.substr(0, 40) + std::string(1, '\0') + asciiCycle.substr(40), "a model is connected below itself"},
    });
    // At the limit itself the whole tree comes in: nothing is cut off below it.
    std::string atLimit;
    for (int i = 0; i < 1000; ++i) atLimit += "<node id=\"n" + std::to_string(i) + "\">";
    atLimit += R"(<instance_geometry url="#g"/>)";
    for (int i = 0; i < 1000; ++i) atLimit += "</node>";
    writeBytes(dir.file("limit.dae"), collada(kFloats, kAccessorXml, kTriangles, atLimit));
    LoadedMesh l = loadMesh(dir.file("limit.dae"));
    ASSERT_TRUE(l.ok) << l.error;
    int depth = 0;
    for (const Object* o = l.roots.at(0); !o->children().empty(); o = o->children()[0].get()) ++depth;
    EXPECT_EQ(depth, 999);
}

// Only the formats we list reach the mesh library, each through its own importer: a file whose size
// happens to fit the binary-STL formula is read by its suffix (an OBJ stays ours, and its mtllib,
// here a FIFO, is never opened), an unknown suffix is refused, and a .dae that holds another format
// is not handed to that format's importer.
TEST(HostileFiles, OnlyTheListedFormatsReachTheLibraryEachThroughItsOwnImporter) {
    HostileDir dir;
    ASSERT_EQ(mkfifo(dir.file("pipe.mtl").c_str(), 0600), 0);
    std::string obj = "mtllib pipe.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n#";
    obj.resize(80, ' ');
    obj += std::string("\x02\0\0\0", 4);  // "two triangles"
    obj.resize(84 + 2 * 50, '\n');
    writeBytes(dir.file("fits.obj"), obj);
    LoadedMesh l = loadMesh(dir.file("fits.obj"));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.report.format, MeshFormat::Obj);
    EXPECT_EQ(static_cast<PolygonObject*>(l.roots.at(0))->polygonCount(), 1);

    const std::string off = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    expectEachRefused(dir, {
        {"fits.off", obj, "not a mesh file we can read"},
        {"mesh.off", off, "not a mesh file we can read"},
        {"off.dae", off, "malformed XML"},  // the Collada importer's word, not the OFF importer's mesh
        {"off.3ds", off, "Chunk is too large"},
    });
}

// Messages that say what is wrong: a PLY comment holding "end_header" does not end the header, and
// an ASCII STL without facets is described as ASCII.
TEST(HostileFiles, HeadersAndEmptyFilesAreDescribedAsWhatTheyAre) {
    HostileDir dir;
    writeBytes(dir.file("c.ply"), "ply\nformat ascii 1.0\ncomment made before end_header was written\nelement vertex 3\n"
                                  "property float x\nproperty float y\nproperty float z\nelement face 1\n"
                                  "property list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    LoadedMesh l = loadMesh(dir.file("c.ply"));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(static_cast<PolygonObject*>(l.roots.at(0))->polygonCount(), 1);
    expectEachRefused(dir, {{"empty.stl", "solid empty\nendsolid empty\n", "an ASCII STL without a single facet"}});
}

// Groups and materials cost memory in proportion to their members: 8,000 OBJ groups or glTF
// materials of one triangle each over 8,000 triangles once took a byte per polygon per group
// (64 MB here; 1.6 GB for 40,000). The tags' sets must hold less than the file's own size.
TEST(HostileFiles, ManyGroupsAndMaterialsCostMemoryInProportionToTheFile) {
    HostileDir dir;
    const int n = 8000;
    std::string obj;
    for (int i = 0; i < n + 2; ++i) obj += "v " + std::to_string(i % 150) + " " + std::to_string(i / 150) + " 0\n";
    for (int i = 0; i < n; ++i)
        obj += "g g" + std::to_string(i) + "\nf " + std::to_string(i + 1) + " " + std::to_string(i + 2) + " " +
               std::to_string(i + 3) + "\n";
    writeBytes(dir.file("groups.obj"), obj);

    // One position accessor shared by every primitive, each with its own indices and material.
    std::string bin;
    for (int i = 0; i < n + 2; ++i)
        for (float f : {float(i % 150), float(i / 150), 0.f}) put(bin, f);
    const size_t positions = bin.size();
    for (int i = 0; i < n; ++i)
        for (uint32_t k : {uint32_t(i), uint32_t(i + 1), uint32_t(i + 2)}) put(bin, k);
    std::ostringstream j;
    j << R"({"asset":{"version":"2.0"},"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[)";
    for (int i = 0; i < n; ++i) j << (i ? "," : "") << R"({"attributes":{"POSITION":0},"indices":)" << i + 1 << R"(,"material":)" << i << "}";
    j << R"(]}],"materials":[)";
    for (int i = 0; i < n; ++i) j << (i ? "," : "") << R"({"name":"m)" << i << R"("})";
    j << R"(],"buffers":[{"byteLength":)" << bin.size() << R"(}],"bufferViews":[{"buffer":0,"byteLength":)" << positions
      << R"(},{"buffer":0,"byteOffset":)" << positions << R"(,"byteLength":)" << bin.size() - positions
      << R"(}],"accessors":[{"bufferView":0,"componentType":5126,"count":)" << n + 2 << R"(,"type":"VEC3"})";
    for (int i = 0; i < n; ++i) j << R"(,{"bufferView":1,"byteOffset":)" << 12 * i << R"(,"componentType":5125,"count":3,"type":"SCALAR"})";
    j << "]}";
    writeBytes(dir.file("materials.glb"), glb(j.str(), bin));

    for (const char* name : {"groups.obj", "materials.glb"}) {
        LoadedMesh l = loadMesh(dir.file(name));
        ASSERT_TRUE(l.ok) << l.error;
        auto* o = static_cast<PolygonObject*>(l.roots.at(0));
        EXPECT_EQ(o->polygonCount(), n) << name;
        size_t tags = 0, held = 0;
        for (const auto& t : o->tags())
            if (auto* s = dynamic_cast<const SelectionTag*>(t.get()); s && t->type() == TAG_POLYGON_SELECTION) {
                ++tags;
                held += s->set.heldBytes();
                EXPECT_EQ(s->set.count(), 1) << name << " " << t->name();
            }
        EXPECT_EQ(tags, static_cast<size_t>(n)) << name;
        EXPECT_LT(held, fs::file_size(dir.file(name))) << name;
    }
}

// The writers without a hierarchy place points where their objects' matrices put them: a point that
// is finite in its object but beyond float's range once placed is refused, as the OBJ writer does,
// instead of written as "inf".
TEST(HostileFiles, FlatWritersRefusePointsThatPlacementMakesInfinite) {
    Document doc;
    auto rig = std::make_unique<Object>(OBJECT_GROUP, "rig");
    rig->localMatrix.v1 = {1e30, 0, 0};
    auto tri = std::make_unique<PolygonObject>("far");
    tri->points = {{0, 0, 0}, {1e10f, 0, 0}, {0, 1, 0}};
    tri->polygons = {{0, 1, 2, 2}};
    tri->resize(3, 1);
    PolygonObject* t = tri.get();
    rig->addChild(std::move(tri));
    doc.insert(std::move(rig));
    for (MeshFormat format : {MeshFormat::Ply, MeshFormat::Stl}) {
        std::string bytes, problem;
        EXPECT_FALSE(formats::encodeMeshFile(format, {t}, bytes, &problem)) << formats::meshFormatName(format);
        EXPECT_EQ(problem, "object 'far': point 1 is not finite where its placement puts it");
    }
    HostileDir dir;
    std::string error;
    EXPECT_FALSE(formats::writeMeshFile(dir.file("far.obj"), {t}, &error));
    EXPECT_NE(error.find("point 1 is not finite"), std::string::npos) << error;
}
