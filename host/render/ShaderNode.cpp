#include "host/render/ShaderNode.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_set>

#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/render/RenderObject.h"

namespace host::render {
namespace {

// Every live node, so that pointers coming back from a module can be checked before use.
std::mutex gNodesMutex;
std::unordered_set<const ShaderNode*>& liveNodes() {
    static std::unordered_set<const ShaderNode*> nodes;
    return nodes;
}
std::vector<std::unique_ptr<ShaderNode>>& parked() {
    static std::vector<std::unique_ptr<ShaderNode>> nodes;
    return nodes;
}

// Texture coordinate to texel position with repetition outside [0, 1] (1 itself stays the last texel).
double wrapUnit(double t) {
    if (t >= 0.0 && t <= 1.0) return t;
    if (!std::isfinite(t)) return 0.0;
    return t - std::floor(t);
}

}  // namespace

ShaderNode::ShaderNode(Kind kind, Document* doc) : kind_(kind), document_(doc) {
    std::lock_guard<std::mutex> lock(gNodesMutex);
    liveNodes().insert(this);
}

ShaderNode::~ShaderNode() {
    children_.clear();
    if (instance_) PluginRegistry::main().destroyShader(instance_);
    std::lock_guard<std::mutex> lock(gNodesMutex);
    liveNodes().erase(this);
}

std::unique_ptr<ShaderNode> ShaderNode::makeModuleShader(int32_t pluginId, Document* doc, std::string* error) {
    const RegisteredPlugin* p = PluginRegistry::main().find(pluginId);
    if (!p || p->kind != HOST_PLUGIN_SHADER) {
        if (error) *error = "the module has no shader " + std::to_string(pluginId);
        return nullptr;
    }
    std::unique_ptr<ShaderNode> node(new ShaderNode(Kind::Module, doc));
    node->instance_ = PluginRegistry::main().makeShader(pluginId);
    if (!node->instance_) {
        if (error) *error = "the module could not make its shader " + p->name;
        return nullptr;
    }
    if (!node->instance_->init(node.get())) {
        if (error) *error = "the shader " + p->name + " refused to start";
        return nullptr;
    }
    return node;
}

std::unique_ptr<ShaderNode> ShaderNode::makeBitmap(const std::string& path, Document* doc, std::string* error) {
    std::unique_ptr<ShaderNode> node(new ShaderNode(Kind::Bitmap, doc));
    std::string why;
    if (!node->image_.load(path, &why)) {
        if (error) *error = why.empty() ? "cannot read the image " + path : why;
        return nullptr;
    }
    return node;
}

std::unique_ptr<ShaderNode> ShaderNode::makeColour(float r, float g, float b, Document* doc) {
    std::unique_ptr<ShaderNode> node(new ShaderNode(Kind::Colour, doc));
    node->colour_[0] = r;
    node->colour_[1] = g;
    node->colour_[2] = b;
    return node;
}

bool ShaderNode::isAncestorOf(const ShaderNode* n) const {
    for (; n; n = n->parent_)
        if (n == this) return true;
    return false;
}

bool ShaderNode::insert(std::unique_ptr<ShaderNode> child) {
    if (!child || child->parent_ || child->isAncestorOf(this)) return false;
    child->parent_ = this;
    children_.push_back(std::move(child));
    return true;
}

int32_t ShaderNode::initRender(Document* doc) {
    if (kind_ == Kind::Bitmap) return image_.empty() ? 0 : 1;
    if (kind_ == Kind::Colour) return 1;
    RenderInit ri{doc, this};
    return instance_->initRender(&ri);
}

void ShaderNode::freeRender() {
    if (kind_ == Kind::Module) instance_->freeRender();
}

void ShaderNode::sample(ChannelData& cd, float colour[3]) const {
    if (kind_ == Kind::Bitmap) {
        sampleBilinear(image_, cd.u, cd.v, colour, normalMap_);
        if (!normalMap_) return;
        if (image_.isFloat())
            for (int c = 0; c < 3; ++c) colour[c] = colour[c] * 0.5f + 0.5f;
        if (greenDown_) colour[1] = 1.0f - colour[1];
        return;
    }
    if (kind_ == Kind::Colour) {
        colour[0] = colour_[0];
        colour[1] = colour_[1];
        colour[2] = colour_[2];
        return;
    }
    instance_->output(&cd, colour);
}

int32_t ShaderNode::message(int32_t type, void* data) {
    if (kind_ != Kind::Module) return 1;
    return instance_->message(this, type, data);
}

ShaderNode* ShaderNode::fromHandle(void* p) {
    std::lock_guard<std::mutex> lock(gNodesMutex);
    auto* n = static_cast<ShaderNode*>(p);
    return liveNodes().count(n) ? n : nullptr;
}

void ShaderNode::park(std::unique_ptr<ShaderNode> node) {
    if (node) parked().push_back(std::move(node));
}

std::unique_ptr<ShaderNode> ShaderNode::unpark(ShaderNode* node) {
    auto& list = parked();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->get() != node) continue;
        std::unique_ptr<ShaderNode> n = std::move(*it);
        list.erase(it);
        return n;
    }
    return nullptr;
}

void sampleBilinear(const Bitmap& image, double u, double v, float colour[3], bool rawFloats) {
    colour[0] = colour[1] = colour[2] = 0.0f;
    if (image.empty()) return;
    const int w = image.width(), h = image.height();
    const double x = wrapUnit(u) * (w - 1), y = rowOfTextureV(wrapUnit(v), h);
    const int x0 = std::clamp(static_cast<int>(std::floor(x)), 0, w - 1);
    const int y0 = std::clamp(static_cast<int>(std::floor(y)), 0, h - 1);
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const double fx = x - x0, fy = y - y0;
    const bool grey = image.channels() == 1;
    if (rawFloats && image.isFloat()) {
        for (int c = 0; c < 3; ++c) {
            const int ch = grey ? 0 : c;
            const double top = image.getFloat(x0, y0, ch) * (1.0 - fx) + image.getFloat(x1, y0, ch) * fx;
            const double bottom = image.getFloat(x0, y1, ch) * (1.0 - fx) + image.getFloat(x1, y1, ch) * fx;
            colour[c] = static_cast<float>(top * (1.0 - fy) + bottom * fy);
        }
        return;
    }
    for (int c = 0; c < 3; ++c) {
        const int ch = grey ? 0 : c;
        const double top = image.get16(x0, y0, ch) * (1.0 - fx) + image.get16(x1, y0, ch) * fx;
        const double bottom = image.get16(x0, y1, ch) * (1.0 - fx) + image.get16(x1, y1, ch) * fx;
        colour[c] = static_cast<float>((top * (1.0 - fy) + bottom * fy) / 65535.0);
    }
}

}  // namespace host::render
