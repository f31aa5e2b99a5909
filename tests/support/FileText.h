// Small file helpers the tests share: a whole file as text.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace testsupport
