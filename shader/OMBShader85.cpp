#include "shader/OMBShader85.h"

#include "sources/HostMemory.h"

int32_t OMBShader85::init(void* /*node*/) {
    child = nullptr;
    return 1;
}

HostShaderBase* allocateOMBShader85() { return hostNew<OMBShader85>("OMBShader85", __LINE__); }
