// The table of host operations handed to modules. Each section of the host interface is filled by
// its own part (HostTableSections.h lists them); this file assembles them and counts the handles
// they hand out.
#include "host/HostTable.h"

#include <atomic>

#include "host/HostHandles.h"
#include "host/HostServices.h"
#include "host/HostTableSections.h"
#include "host/viewport/Viewport.h"

namespace host {
namespace {

HostApi buildTable(int32_t version) {
    HostApi t{};
    t.version = version;
    t.size = sizeof(HostApi);
    fillValueApi(t);
    fillThreadApi(t);
    fillDocumentApi(t);
    fillTagApi(t);
    fillBitmapApi(t);
    fillPluginApi(t);
    fillDialogApi(t);
    fillViewportApi(t);
    fillRenderApi(t);
    return t;
}

}  // namespace

size_t liveHandles() { return static_cast<size_t>(tableState().liveHandles.load()); }
void countHandle(int delta) { tableState().liveHandles.fetch_add(delta); }

HstString* makeString(std::string text) { return makeCounted<HstString>(std::move(text)); }
HstFilename* makeFilename(std::string path) { return makeCounted<HstFilename>(std::move(path)); }

const HostApi* hostApi() {
    static const HostApi table = buildTable(HOST_INTERFACE_VERSION);
    return &table;
}

HostApi makeHostApi(int32_t version) { return buildTable(version); }

}  // namespace host
