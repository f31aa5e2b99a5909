// The normal-map material shader: one instance per use in a material, made by the host through
// allocateOMBShader85. It reads a tangent-space normal map from its linked child shader.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"

// Parameter id of the link to the child shader.
constexpr int32_t OMBSHADER_TEXTURE = 2000;

class OMBShader85 : public HostShaderBase {
public:
    OMBShader85() = default;
    ~OMBShader85() override = default;

    // A fresh instance has no child.
    int32_t init(void* node) override;

    // The linked child shader resolved at render start; null outside rendering or when unlinked.
    void* child = nullptr;
};

// Makes one shader instance in host memory for the host; null when the allocation fails.
HostShaderBase* allocateOMBShader85();
