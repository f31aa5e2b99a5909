// Shader nodes: the host's element for one use of a shader in a material. A node is either a
// module's shader (an instance made by the plug-in registry, destroyed with the node), the host's
// own bitmap shader, which reads an image file and samples it with bilinear filtering, or a plain
// colour. Nodes form a
// tree: a node owns the nodes inserted under it, and its parameters may link to them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/Settings.h"
#include "sources/HostInterface.h"

namespace host::render {

struct ChannelData;

class ShaderNode {
public:
    enum class Kind { Module, Bitmap, Colour };

    // A node of the module's shader registered under `pluginId`, initialised; null with `error`
    // set when there is no such shader or its instance cannot be made.
    static std::unique_ptr<ShaderNode> makeModuleShader(int32_t pluginId, Document* doc, std::string* error);
    // A bitmap shader over an image file (TIFF, PNG, TGA, BMP); null with `error` set when the
    // file cannot be read.
    static std::unique_ptr<ShaderNode> makeBitmap(const std::string& path, Document* doc, std::string* error);
    // A shader that answers one colour everywhere.
    static std::unique_ptr<ShaderNode> makeColour(float r, float g, float b, Document* doc);
    ~ShaderNode();
    ShaderNode(const ShaderNode&) = delete;
    ShaderNode& operator=(const ShaderNode&) = delete;

    Kind kind() const { return kind_; }
    Document* document() const { return document_; }
    ShaderNode* parent() const { return parent_; }
    HostShaderBase* instance() const { return instance_; }
    const Bitmap& image() const { return image_; }
    // Marks a bitmap node as holding a tangent-space normal map, which it then always answers in the
    // encoding the normal-map shader reads (c = (x + 1) / 2, y up the texture): float images hold the
    // signed components themselves, and a map whose green channel holds y down the texture (the
    // convention some engines use) has its green inverted.
    void readAsNormalMap(bool greenDown) {
        normalMap_ = true;
        greenDown_ = greenDown;
    }
    Settings settings;

    // Takes `child` (a node owned by nobody else) under this node. Refused when the child is this
    // node or already has a parent.
    bool insert(std::unique_ptr<ShaderNode> child);
    // True when `n` is this node or lies below it.
    bool isAncestorOf(const ShaderNode* n) const;
    const std::vector<std::unique_ptr<ShaderNode>>& children() const { return children_; }

    // Render start and end for this node; sampling its colour (safe from several threads).
    int32_t initRender(Document* doc);
    void freeRender();
    void sample(ChannelData& cd, float colour[3]) const;
    // A message to the node's own shader; 1 for the host's shaders.
    int32_t message(int32_t type, void* data);

    // The live node behind a pointer the module handed back, or null when it is none.
    static ShaderNode* fromHandle(void* p);

    // Nodes handed to a module that are not in any tree yet (a shader carried by the link message)
    // are parked here; insert takes them out.
    static void park(std::unique_ptr<ShaderNode> node);
    static std::unique_ptr<ShaderNode> unpark(ShaderNode* node);

private:
    ShaderNode(Kind kind, Document* doc);
    Kind kind_;
    Document* document_;
    ShaderNode* parent_ = nullptr;
    HostShaderBase* instance_ = nullptr;
    Bitmap image_;
    float colour_[3] = {0.0f, 0.0f, 0.0f};
    bool normalMap_ = false, greenDown_ = false;
    std::vector<std::unique_ptr<ShaderNode>> children_;
};

// Bilinear sample of an image at texture coordinates (u, v): texel centres lie at u·(w − 1) across
// and at rowOfTextureV(v, h) down (the first row at v = 1). Coordinates outside [0, 1] repeat.
// Float channels are clamped to [0, 1] unless `rawFloats`.
void sampleBilinear(const Bitmap& image, double u, double v, float colour[3], bool rawFloats = false);

// The record behind a render-init handle.
struct RenderInit {
    Document* document = nullptr;
    ShaderNode* node = nullptr;
};

}  // namespace host::render
