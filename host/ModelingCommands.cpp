#include "ModelingCommands.h"
namespace host {
bool runModelingCommand(int32_t, int32_t, Document*, const std::vector<Object*>&, const Settings&,
                        std::vector<std::unique_ptr<Object>>*) {
    return false;
}
}  // namespace host
