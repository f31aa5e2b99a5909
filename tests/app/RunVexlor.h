// Runs the vexlor program as a user would and collects what it printed.
#pragma once

#include <string>
#include <vector>

// The bundled sample the command-line tests start from.
inline const std::string kSample = std::string(VEXLOR_SOURCE_DIR) + "/samples/sample.obj";

struct RunResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs VEXLOR_BIN_DIR/vexlor with the arguments; `env` entries ("NAME=value") are added.
RunResult runVexlor(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

// A fresh empty folder under the test temp folder.
std::string makeTempFolder();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
