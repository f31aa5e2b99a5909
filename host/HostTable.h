// The table of host operations that our host hands to a module at init, the registry of the
// plug-ins that the module registered, and the host's notion of the active document.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/Document.h"
#include "sources/HostInterface.h"

namespace host {

// The host's table, reporting HOST_INTERFACE_VERSION.
const HostApi* hostApi();
// A table reporting another interface version (to try the module's version test).
HostApi makeHostApi(int32_t version);

// Filled in by the dialog part of the host (headless dialogs and user areas).
void fillDialogApi(HostApi& api);

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

// Fills the table's shader and render operations (host/render).
void fillRenderApi(HostApi& api);

// The document the module sees as active (the front end sets it).
void setActiveDocument(Document* doc);
Document* activeDocument();

// View redraw requests made by the module (flags, in order), for those who watch.
std::vector<int32_t> takeRedrawRequests();

}  // namespace host
