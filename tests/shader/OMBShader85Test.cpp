// The normal-map shader driven through the real host: its child shaders, render start and end,
// and its output on hand-built render objects, against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "host/HostTable.h"
#include "host/render/RenderObject.h"
#include "host/render/ShaderFile.h"
#include "host/render/ShaderNode.h"
#include "shader/OMBShader85.h"
#include "tests/module/ModuleTestSupport.h"

namespace {

using host::render::ChannelData;
using host::render::RenderData;
using host::render::RenderObject;
using host::render::ShaderNode;

constexpr double kEps = 1e-6;

class OMBShader85Test : public moduletest::ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        startModule(moduletest::kSourceFolder);
        ASSERT_EQ(moduletest::message(1), 1);
        ASSERT_EQ(moduletest::start(), 1);
    }
    void TearDown() override {
        nodes_.clear();
        ModuleFixture::TearDown();
    }

    ShaderNode* shader() {
        std::string error;
        auto n = ShaderNode::makeModuleShader(XOMBRIN85_ID, &doc_, &error);
        EXPECT_TRUE(n) << error;
        nodes_.push_back(std::move(n));
        return nodes_.back().get();
    }
    // A colour child linked under the shader with the link message, as the host links a drop.
    ShaderNode* link(ShaderNode* parent, float r, float g, float b, host::Document* doc = nullptr) {
        auto c = ShaderNode::makeColour(r, g, b, doc ? doc : &doc_);
        ShaderNode* child = c.get();
        ShaderNode::park(std::move(c));
        EXPECT_EQ(parent->message(HOST_MSG_LINK_SHADER, child), 1);
        EXPECT_FALSE(ShaderNode::unpark(child)) << "the shader did not take its child";
        return child;
    }

    // The unit square in the xy-plane, one quad a, b, c, d = (0,0), (1,0), (1,1), (0,1) with UVs given
    // per corner. With `fold`, a triangle b, e, c hangs down from the edge b–c, so that the host's
    // smooth normals at b and c lean toward +x.
    void buildQuad(const host::Vec3f uv[4], bool fold = false) {
        quad_ = std::make_unique<host::PolygonObject>("quad");
        quad_->points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1.5f, 0.5f, -0.5f}};
        quad_->polygons = {{0, 1, 2, 3}};
        if (fold) quad_->polygons.push_back({1, 4, 2, 2});
        auto uvw = std::make_unique<host::UVWTag>("UVW", static_cast<int>(quad_->polygons.size()));
        uvw->data[0] = {uv[0], uv[1], uv[2], uv[3]};
        quad_->addTag(std::move(uvw));
        ro_.build(*quad_, &material_);
    }
    void buildFlatQuad() {
        const host::Vec3f uv[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
        buildQuad(uv);
    }

    // One sample of `s` at the hit (the quad's first triangle unless `second`).
    void sample(ShaderNode* s, int32_t uvSet, bool second, double w1, double w2, float out[3]) {
        rd_ = RenderData();
        rd_.object = &ro_;
        ChannelData cd;
        cd.renderData = &rd_;
        cd.hitId = second ? 1 : 0;
        cd.uvSet = uvSet;
        cd.second = second;
        cd.w1 = w1;
        cd.w2 = w2;
        s->sample(cd, out);
    }

    static void expectColour(const float c[3], double r, double g, double b) {
        EXPECT_NEAR(c[0], r, kEps);
        EXPECT_NEAR(c[1], g, kEps);
        EXPECT_NEAR(c[2], b, kEps);
    }
    void expectNormal(double x, double y, double z) {
        ASSERT_TRUE(rd_.normalWritten);
        EXPECT_NEAR(rd_.normal.x, x, kEps);
        EXPECT_NEAR(rd_.normal.y, y, kEps);
        EXPECT_NEAR(rd_.normal.z, z, kEps);
    }

    host::Document doc_;
    host::render::Material material_;
    std::unique_ptr<host::PolygonObject> quad_;
    RenderObject ro_;
    RenderData rd_;
    std::vector<std::unique_ptr<ShaderNode>> nodes_;
};

TEST_F(OMBShader85Test, SlotsAnswerAsTheHostExpects) {
    ShaderNode* s = shader();
    EXPECT_EQ(s->instance()->renderInfo(), 3);
    // A fresh node links nothing.
    EXPECT_TRUE(s->settings.has(OMBSHADER_TEXTURE));
    EXPECT_EQ(s->settings.getLink(OMBSHADER_TEXTURE), nullptr);
}

TEST_F(OMBShader85Test, NothingLinkedRendersWhiteAndWritesNoNormal) {
    buildFlatQuad();
    ShaderNode* s = shader();
    EXPECT_EQ(s->initRender(&doc_), 0);
    float c[3];
    sample(s, 1, false, 0.2, 0.3, c);
    expectColour(c, 1, 1, 1);
    EXPECT_FALSE(rd_.normalWritten);
    s->freeRender();
}

TEST_F(OMBShader85Test, MidGreyDecodesToZero) {
    buildFlatQuad();
    ShaderNode* s = shader();
    link(s, 0.5f, 0.5f, 0.5f);
    ASSERT_EQ(s->initRender(&doc_), 1);
    float c[3];
    // Colour path (no UVW set named): the zero normal comes back as mid grey.
    sample(s, 0, false, 0.2, 0.3, c);
    expectColour(c, 0.5, 0.5, 0.5);
    EXPECT_FALSE(rd_.normalWritten);
    // Frame path: the shading normal becomes the zero vector, and the colour is white.
    sample(s, 1, false, 0.2, 0.3, c);
    expectColour(c, 1, 1, 1);
    expectNormal(0, 0, 0);
    s->freeRender();
    EXPECT_EQ(static_cast<OMBShader85*>(s->instance())->child, nullptr);
}

TEST_F(OMBShader85Test, StraightUpGivesTheBlendedVertexNormal) {
    const host::Vec3f uv[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    buildQuad(uv, true);
    // Smooth normals: a and d see only the quad, (0, 0, 1). b and c see the quad twice (one count
    // per triangle) and the fold's normal (e − b) × (c − b) = (0.5, 0, 0.5) once:
    // nb = nc = normalize(2·(0, 0, 1) + (√½, 0, √½)).
    const double r = std::sqrt(0.5), lb = std::sqrt(r * r + (2 + r) * (2 + r));
    const double bx = r / lb, bz = (2 + r) / lb;
    ShaderNode* s = shader();
    link(s, 0.5f, 0.5f, 1.0f);
    ASSERT_EQ(s->initRender(&doc_), 1);
    float c[3];
    // First triangle a, b, c with w1 = 0.2 (b), w2 = 0.3 (c): 0.5·(0, 0, 1) + 0.5·nb.
    sample(s, 1, false, 0.2, 0.3, c);
    expectColour(c, 1, 1, 1);
    double x = 0.5 * bx, z = 0.5 + 0.5 * bz, l = std::sqrt(x * x + z * z);
    expectNormal(x / l, 0, z / l);
    // Second triangle a, d, c with w1 = 0.2 (d), w2 = 0.3 (c): 0.7·(0, 0, 1) + 0.3·nc.
    sample(s, 1, true, 0.2, 0.3, c);
    x = 0.3 * bx;
    z = 0.7 + 0.3 * bz;
    l = std::sqrt(x * x + z * z);
    expectNormal(x / l, 0, z / l);
    s->freeRender();
}

TEST_F(OMBShader85Test, MapAxesFollowTheTextureLayout) {
    // u along +x, v along +y: red turns the normal toward +x, green toward +y.
    buildFlatQuad();
    ShaderNode* s = shader();
    link(s, 1.0f, 0.5f, 0.5f);
    ASSERT_EQ(s->initRender(&doc_), 1);
    float c[3];
    sample(s, 1, false, 0.25, 0.25, c);
    expectNormal(1, 0, 0);
    s->freeRender();

    // The layout turned a quarter: u runs along +y and v along −x, so red means +y, green −x.
    const host::Vec3f turned[4] = {{0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    buildQuad(turned);
    ShaderNode* s2 = shader();
    link(s2, 1.0f, 0.5f, 0.5f);
    ASSERT_EQ(s2->initRender(&doc_), 1);
    sample(s2, 1, true, 0.25, 0.25, c);
    expectNormal(0, 1, 0);
    s2->freeRender();
    ShaderNode* s3 = shader();
    link(s3, 0.5f, 1.0f, 0.5f);
    ASSERT_EQ(s3->initRender(&doc_), 1);
    sample(s3, 1, false, 0.25, 0.25, c);
    expectNormal(-1, 0, 0);
    s3->freeRender();
}

TEST_F(OMBShader85Test, UvwSetOutsideTheObjectTakesTheColourPath) {
    buildFlatQuad();  // one UVW tag: the object's set count is 2
    ShaderNode* s = shader();
    link(s, 1.0f, 0.5f, 0.5f);
    ASSERT_EQ(s->initRender(&doc_), 1);
    for (int32_t set : {0, 2, 7, -1}) {
        SCOPED_TRACE(set);
        float c[3];
        sample(s, set, false, 0.2, 0.3, c);
        // (1, 0, 0) re-encoded.
        expectColour(c, 1.0, 0.5, 0.5);
        EXPECT_FALSE(rd_.normalWritten);
    }
    s->freeRender();
}

TEST_F(OMBShader85Test, SampleWithoutRenderDataTakesTheColourPath) {
    ShaderNode* s = shader();
    link(s, 0.5f, 0.5f, 0.0f);  // (0, 0, -1)
    ASSERT_EQ(s->initRender(&doc_), 1);
    ChannelData cd;
    cd.uvSet = 1;
    float c[3];
    s->sample(cd, c);
    expectColour(c, 0.5, 0.5, 0.0);
    s->freeRender();
}

TEST_F(OMBShader85Test, ChildOfAnotherDocumentIsNotResolved) {
    buildFlatQuad();
    host::Document other;
    ShaderNode* s = shader();
    link(s, 1.0f, 0.5f, 0.5f, &other);
    // Linked, but not an element of the render document: the shader renders as if unlinked.
    EXPECT_NE(s->settings.getLink(OMBSHADER_TEXTURE), nullptr);
    EXPECT_EQ(s->initRender(&doc_), 0);
    float c[3];
    sample(s, 1, false, 0.2, 0.3, c);
    expectColour(c, 1, 1, 1);
    EXPECT_FALSE(rd_.normalWritten);
    s->freeRender();
}

TEST_F(OMBShader85Test, LinkMessageRefusesToPutANodeUnderItself) {
    ShaderNode* s = shader();
    EXPECT_EQ(s->message(HOST_MSG_LINK_SHADER, s), 1);
    EXPECT_EQ(s->settings.getLink(OMBSHADER_TEXTURE), nullptr);
    EXPECT_TRUE(s->children().empty());
    // A message without a shader links nothing.
    EXPECT_EQ(s->message(HOST_MSG_LINK_SHADER, nullptr), 1);
    EXPECT_EQ(s->settings.getLink(OMBSHADER_TEXTURE), nullptr);
}

TEST_F(OMBShader85Test, LinkMessageTakesTheShaderAndALaterOneReplacesTheLink) {
    ShaderNode* s = shader();
    ShaderNode* first = link(s, 0.5f, 0.5f, 1.0f);
    EXPECT_EQ(first->parent(), s);
    EXPECT_EQ(s->settings.getLink(OMBSHADER_TEXTURE), first);
    ShaderNode* second = link(s, 1.0f, 0.5f, 0.5f);
    EXPECT_EQ(s->settings.getLink(OMBSHADER_TEXTURE), second);
    EXPECT_EQ(s->children().size(), 2u);
    // The render resolves the node linked now.
    ASSERT_EQ(s->initRender(&doc_), 1);
    EXPECT_EQ(static_cast<OMBShader85*>(s->instance())->child, second);
    s->freeRender();
}

TEST_F(OMBShader85Test, OldFilesHaveTheirLinkConverted) {
    ShaderNode* s = shader();
    link(s, 0.5f, 0.5f, 1.0f);
    ShaderNode* child = s->children().front().get();
    struct Case {
        int32_t version;
        std::map<int32_t, int32_t> oldLinks;
        int32_t answer;
        const void* linkAfter;
    };
    const Case cases[] = {
        {8300, {{OMBSHADER_TEXTURE, 5}}, 1, child},    // current format: nothing converted
        {8200, {{OMBSHADER_TEXTURE, 0}}, 1, child},    // old format: child 0
        {8200, {}, 1, nullptr},                        // old format without a link
        {8200, {{OMBSHADER_TEXTURE, 3}}, 0, nullptr},  // names no child: the read fails
    };
    for (const Case& k : cases) {
        s->settings.setLink(OMBSHADER_TEXTURE, child);
        host::render::ShaderFile file{k.version, k.oldLinks};
        EXPECT_EQ(s->instance()->read(s, &file, 0), k.answer) << k.version;
        if (k.answer) {
            EXPECT_EQ(s->settings.getLink(OMBSHADER_TEXTURE), k.linkAfter) << k.version;
        }
    }
}

TEST_F(OMBShader85Test, RegistryEndsTheInstancesItMade) {
    const size_t blocks = host::memory::liveBlocks();
    auto& registry = host::PluginRegistry::main();
    const size_t before = registry.liveShaders();
    {
        std::string error;
        auto a = ShaderNode::makeModuleShader(XOMBRIN85_ID, &doc_, &error);
        auto b = ShaderNode::makeModuleShader(XOMBRIN85_ID, &doc_, &error);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(registry.liveShaders(), before + 2);
        EXPECT_GT(host::memory::liveBlocks(), blocks);
    }
    EXPECT_EQ(registry.liveShaders(), before);
    EXPECT_EQ(host::memory::liveBlocks(), blocks);

    // Instances still live when the module goes are ended by the registry first; their nodes can
    // then go without touching them again.
    std::string error;
    auto c = ShaderNode::makeModuleShader(XOMBRIN85_ID, &doc_, &error);
    ASSERT_TRUE(c);
    registry.clear();
    EXPECT_EQ(registry.liveShaders(), 0u);
    c.reset();  // the fixture then checks that no host block is left
}

TEST_F(OMBShader85Test, FailedAllocationMakesNoNode) {
    host::memory::failMatching("OMBShader85", 0);
    std::string error;
    EXPECT_FALSE(ShaderNode::makeModuleShader(XOMBRIN85_ID, &doc_, &error));
    EXPECT_NE(error.find("could not make"), std::string::npos) << error;
    EXPECT_EQ(host::PluginRegistry::main().liveShaders(), 0u);
}

}  // namespace
