#include "OptionText.h"

#include <charconv>
#include <cmath>

#include "host/SafeOutput.h"

namespace app {

std::string trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::optional<double> parseReal(const std::string& text) {
    const std::string t = trimmed(text);
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<long long> parseWhole(const std::string& text) {
    const std::string t = trimmed(text);
    long long v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return v;
}

std::string checkOutput(const std::string& option, const std::string& path, const std::string& input) {
    if (path.empty()) return option + " needs a file name";
    if (std::string problem = host::outputProblem(path); !problem.empty()) return option + " " + problem;
    if (host::sameFile(path, input))
        return option + " " + path + " is the input file " + input + "; write the result to another file";
    return {};
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
    return s;
}

}  // namespace app
