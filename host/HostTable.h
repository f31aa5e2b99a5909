// The table of host operations that our host hands to a module at init, and the host's notion of
// the active document. (The registry of the plug-ins the module registered: PluginRegistry.h.)
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/PluginRegistry.h"
#include "sources/HostInterface.h"

namespace host {

// The host's table, reporting HOST_INTERFACE_VERSION.
const HostApi* hostApi();
// A table reporting another interface version (to try the module's version test).
HostApi makeHostApi(int32_t version);

// Filled in by the dialog part of the host (headless dialogs and user areas).
void fillDialogApi(HostApi& api);

// Fills the table's shader and render operations (host/render).
void fillRenderApi(HostApi& api);

// The document the module sees as active (the front end sets it).
void setActiveDocument(Document* doc);
Document* activeDocument();

// View redraw requests made by the module (flags, in order), for those who watch.
std::vector<int32_t> takeRedrawRequests();

}  // namespace host
