#include "host/render/ShaderFile.h"

#include "host/render/ShaderNode.h"

namespace host::render {

bool convertOldLink(ShaderNode& node, const ShaderFile& file, int32_t key) {
    const auto it = file.oldLinks.find(key);
    if (it == file.oldLinks.end() || it->second < 0) {
        node.settings.setLink(key, nullptr);
        return true;
    }
    if (it->second >= static_cast<int32_t>(node.children().size())) return false;
    node.settings.setLink(key, node.children()[it->second].get());
    return true;
}

}  // namespace host::render
