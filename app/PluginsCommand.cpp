#include "PluginsCommand.h"

#include <cstdlib>
#include <iomanip>

#include "host/HostTable.h"
#include "host/ModuleLoader.h"

namespace app {

std::string moduleFolder(const std::string& option) {
    if (!option.empty()) return option;
    if (const char* env = std::getenv("VEXLOR_MODULE_DIR"); env && *env) return env;
    return host::executableFolder();
}

static const char* kindName(int32_t kind) {
    switch (kind) {
        case HOST_PLUGIN_COMMAND: return "command";
        case HOST_PLUGIN_TOOL: return "tool";
        case HOST_PLUGIN_SHADER: return "shader";
        default: return "unknown";
    }
}

int runPlugins(const std::string& moduleDir, int32_t hostVersion, std::ostream& out, std::ostream& err) {
    // The table outlives the module: unloading it ends the plug-ins, which still call the host.
    const HostApi table = host::makeHostApi(hostVersion);
    std::string error;
    std::unique_ptr<host::LoadedModule> module = host::LoadedModule::open(moduleDir, &error);
    if (!module) {
        err << "vexlor: " << error << "\n";
        return 1;
    }
    const bool ok = module->startUp(&table, &error);
    if (!ok) err << "vexlor: " << error << "\n";
    for (const host::RegisteredPlugin& p : host::PluginRegistry::main().plugins()) {
        out << std::left << std::setw(9) << p.id << std::setw(9) << kindName(p.kind) << p.name;
        if (!p.help.empty()) out << " - " << p.help;
        out << "\n";
    }
    return ok ? 0 : 1;
}

}  // namespace app
