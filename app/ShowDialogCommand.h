// `vexlor show-dialog reduce|bake [FILE...]`: opens a command's dialog over the given meshes (all
// objects selected) and prints it as a person would see it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace app {

int runShowDialog(const std::string& moduleDir, const std::string& command, const std::vector<std::string>& files,
                  std::ostream& out, std::ostream& err);

}  // namespace app
