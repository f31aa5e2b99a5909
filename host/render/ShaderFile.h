// A stored shader as the host reads it back: the file's format version and, for files older than
// the current link format, the links of a node kept as the index of the linked node among the
// node's children (-1 for none), by parameter id.
#pragma once

#include <cstdint>
#include <map>

namespace host::render {

class ShaderNode;

struct ShaderFile {
    int32_t version = 0;
    std::map<int32_t, int32_t> oldLinks;
};

// Turns the old link stored under `key` into a link to that child of `node`; an absent old link
// becomes no link. False when the index names no child.
bool convertOldLink(ShaderNode& node, const ShaderFile& file, int32_t key);

}  // namespace host::render
