// The file picker's view of the disk: the folders and the mesh files under the folder the studio
// started in, and nothing else. A request names a folder relative to that start folder; one that
// leaves it (an absolute name, "..", a link that points outside) is refused.
#pragma once

#include <string>

#include "host/studio/StudioServer.h"

namespace host::studio {

// The most entries one listing holds (a folder with more says it was cut).
constexpr size_t kMaxListedEntries = 5000;

// The folder `relative` under `root` ("" for the root itself) as JSON:
//   {"folder": relative, "root": whole root path, "parent": relative or null,
//    "entries": [{"name", "path" (relative to root), "folder": bool, "size", "format"}], "cut": bool,
//    "reads": the formats the host opens, "writes": the suffixes it saves}
// Folders first, then files the host reads, each by name; hidden entries are left out. 400/403/404
// with the reason when the folder is refused or missing.
ApiResponse listFolder(const std::string& root, const std::string& relative);

}  // namespace host::studio
