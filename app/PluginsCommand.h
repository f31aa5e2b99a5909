// `vexlor plugins`: loads the module and lists its registered plug-ins in registration order.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace app {

// Where the module is: --module-dir, else $VEXLOR_MODULE_DIR, else the executable's folder.
std::string moduleFolder(const std::string& option);

int runPlugins(const std::string& moduleDir, int32_t hostVersion, std::ostream& out, std::ostream& err);

}  // namespace app
