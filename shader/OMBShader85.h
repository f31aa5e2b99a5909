// The normal-map material shader: one instance per use in a material, made by the host through
// allocateOMBShader85. It reads a tangent-space normal map from its linked child shader and turns
// it into the sample's shading normal, through the tangent frame of the rendered triangle.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"

// Parameter id of the link to the child shader.
constexpr int32_t OMBSHADER_TEXTURE = 2000;
// What the shader answers to the render-information slot.
constexpr int32_t OMBSHADER_RENDER_INFO = 3;

class OMBShader85 : public HostShaderBase {
public:
    OMBShader85() = default;
    ~OMBShader85() override = default;

    // A fresh instance has no child and links nothing.
    int32_t init(void* node) override;
    // Files older than the current link format have their link converted by the host.
    int32_t read(void* node, void* file, int32_t level) override;
    // Links a shader carried by the link message, then passes the message on to the child.
    int32_t message(void* node, int32_t type, void* data) override;
    int32_t renderInfo() override { return OMBSHADER_RENDER_INFO; }
    // Resolves the child for the render; the child's own answer, or 0 when nothing is linked.
    int32_t initRender(void* renderInit) override;
    void freeRender() override;
    // One shading sample: writes the shading normal and answers white on the tangent-frame path,
    // else answers the decoded normal as a colour. Safe to run on several render threads at once.
    void output(void* channelData, float colour[3]) override;

    // The linked child shader node resolved at render start; null outside rendering or when unlinked.
    void* child = nullptr;
};

// Makes one shader instance in host memory for the host; null when the allocation fails.
HostShaderBase* allocateOMBShader85();
