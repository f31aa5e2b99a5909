#include "entry/Registration.h"

#include "baking/BakeCommand.h"
#include "reduction/VexlorCommand.h"
#include "shader/OMBShader85.h"
#include "sources/HostBitmap.h"
#include "sources/HostFilename.h"
#include "sources/HostMemory.h"
#include "sources/HostString.h"
#include "sources/Module.h"
#include "sources/HostContract.h"
#include "sources/ResourceHolder.h"
#include "tool/TessikTool.h"

namespace {

// Loads an icon from the module's res folder; false when the bitmap cannot be made or loaded.
bool loadIcon(const char* file, HostBitmap& icon) {
    const HostFilename path = HostFilename(modulePath()) + "res" + file;
    return icon.make() && icon.load(path);
}

// A command or tool: name and help from the resources, an icon, and an object of type T made in
// host memory (the host refuses a null object). The host owns the object once it accepted it; an
// object it refused is destroyed here.
template <typename T, typename Base>
bool registerObjectPlugin(int32_t kind, int32_t id, int32_t nameId, int32_t helpId, const char* iconFile,
                          const char* tag, int32_t line) {
    const HostString name = resourceString(nameId);
    if (name.empty()) return true;
    const HostString help = resourceString(helpId);
    if (help.empty()) return true;

    HostBitmap icon;
    if (!loadIcon(iconFile, icon)) return false;

    Base* object = hostNew<T>(tag, line);
    const int32_t result = moduleApi()->registerPlugin(kind, id, name.handle(), 0, icon.handle(), help.handle(),
                                                        object, nullptr, PLUGIN_INTERFACE_VERSION);
    if (result == 0) hostDelete(object);
    return result != 0;
}

bool registerShader() {
    const HostString name = resourceString(STR_XOMBRIN85_NAME);
    if (name.empty()) return true;
    const HostApi* api = moduleApi();
    if (XOMBRIN85_DESCRIPTION[0] != '\0' &&
        api->resRegisterDescription(resourceHolder().handle(), XOMBRIN85_DESCRIPTION) != 1)
        return false;
    return api->registerPlugin(HOST_PLUGIN_SHADER, XOMBRIN85_ID, name.handle(), 0, nullptr, nullptr, nullptr,
                               allocateOMBShader85, PLUGIN_INTERFACE_VERSION) != 0;
}

}  // namespace

bool registerPlugins() {
    if (moduleApi() == nullptr) return false;
    if (!registerObjectPlugin<VexlorCommand, HostCommandBase>(HOST_PLUGIN_COMMAND, VEXLOR_ID, STR_VEXLOR_NAME,
                                                              STR_VEXLOR_HELP, "VXIcon.tif", "VexlorCommand",
                                                              __LINE__))
        return false;
    if (!registerObjectPlugin<BakeCommand, HostCommandBase>(HOST_PLUGIN_COMMAND, OMBRIN_ID, STR_OMBRIN_NAME,
                                                            STR_OMBRIN_HELP, "OMBIcon.tif", "BakeCommand", __LINE__))
        return false;
    if (!registerShader()) return false;
    if (!registerObjectPlugin<TessikTool, HostToolBase>(HOST_PLUGIN_TOOL, TESSIK_ID, STR_TESSIK_NAME, STR_TESSIK_HELP,
                                                        "TessikIcon.tif", "TessikTool", __LINE__))
        return false;
    return true;
}
