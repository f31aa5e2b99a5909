// The plug-ins the module registered with the host (commands, tools, shaders), and the shader
// instances made from them. The host owns the registered objects once registered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sources/HostInterface.h"

namespace host {

struct RegisteredPlugin {
    int32_t kind = 0;
    int32_t id = 0;
    std::string name;
    std::string help;
    int32_t info = 0;
    int iconWidth = 0, iconHeight = 0;  // 0 when registered without an icon
    void* object = nullptr;             // HostCommandBase* or HostToolBase*; null for shaders
    HostShaderAllocator shaderAllocator = nullptr;
    int32_t version = 0;
};

class PluginRegistry {
public:
    // The registry of the running host (HostServices.h).
    static PluginRegistry& main();
    const std::vector<RegisteredPlugin>& plugins() const { return plugins_; }
    const RegisteredPlugin* find(int32_t id) const;
    // Destroys every registered command and tool object (the host owns them) and forgets them all.
    void clear();
    // Registration as the table's registerPlugin does it; false when refused (no object, ...).
    bool add(const RegisteredPlugin& p);
    // Shader descriptions registered by name.
    std::vector<std::string> descriptions;

    // A new instance of the shader registered under `id` (null when there is none or the module
    // cannot make one). The registry keeps it until destroyShader, or clear destroys it.
    HostShaderBase* makeShader(int32_t id);
    // Ends an instance made by makeShader; instances it did not make (or already ended) are ignored.
    void destroyShader(HostShaderBase* shader);
    size_t liveShaders() const;

private:
    std::vector<RegisteredPlugin> plugins_;
    std::vector<HostShaderBase*> shaders_;
};

}  // namespace host
