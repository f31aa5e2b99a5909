#include "tool/TessikTool.h"

#include "sources/HostSettings.h"
#include "sources/Module.h"

int32_t TessikTool::state(HstDocument* doc) {
    if (doc == nullptr) return 0;
    const HostApi* api = moduleApi();
    const HostSettings settings(api->docSettings(doc));
    if (settings.getInt(DOC_EDITING_MODE, 0) == MODE_OBJECT) return 0;
    const HostPolygonObject active(api->docActiveObject(doc));
    return active.valid() && active.isPolygonObject() ? HOST_CMD_ENABLED : 0;
}
