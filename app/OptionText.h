// Reading the text of command-line options, and the check every command makes of an output path.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

// The text without leading and trailing blanks and tabs.
std::string trimmed(const std::string& s);
// A finite real number filling the whole (trimmed) text, or nothing.
std::optional<double> parseReal(const std::string& text);
// A whole number filling the whole (trimmed) text, or nothing.
std::optional<long long> parseWhole(const std::string& text);
// The names separated by ", " (for messages that list the choices).
std::string joined(const std::vector<std::string>& names);
// Why `path` cannot be the output named by `option` ("" when it can): no name, not writable, or the
// input file itself (also through links).
std::string checkOutput(const std::string& option, const std::string& path, const std::string& input);

}  // namespace app
