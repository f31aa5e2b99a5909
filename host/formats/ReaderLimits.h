// The bounds every mesh reader keeps before a parsing library sees a file, and the checks that
// keep a reader inside the folder of the file it was given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace host::formats {

// Object hierarchies deeper than this are refused (with a message saying so): deeper trees exhaust
// the stack of the libraries that walk them, and of ours.
constexpr int kMaxHierarchyDepth = 1000;

// JSON nested deeper than this is refused before tinygltf (and nlohmann::json under it) parse it:
// both recurse once per level. A glTF file's own structure nests about six levels; the rest is
// extras and extensions.
constexpr int kMaxJsonDepth = 256;

// The deepest nesting of arrays and objects in JSON text (strings and their escapes skipped), or
// `limit` + 1 as soon as the text goes deeper than `limit`. Malformed text is left to the parser.
int jsonNestingDepth(std::string_view text, int limit);

// Text from a file as a message may show it: control characters written as \xNN (a message is one
// line, and names a terminal must not act on).
std::string printable(std::string_view text);

// Why a graph of nodes may not be walked as a tree by a library that expands it ("" when it may):
// `children[i]` lists the nodes below node i, its own children and those it instances. Refused: a
// cycle, a walk from any node deeper than kMaxHierarchyDepth, or a node that expands to more than
// `maxNodes` nodes (a node reached twice is walked twice). `what` names a node and `how` the link
// in the messages ("node", "instances").
std::string nodeGraphProblem(const std::vector<std::vector<int>>& children, long maxNodes, const char* what,
                             const char* how);

// Why a file reference found inside an input (a glTF buffer or image URI, already percent-decoded)
// may not be followed, or "" when it may: it must be a relative path without ".." segments, NUL
// or other control characters, and the file it names (links followed) must lie inside `folder`,
// the folder of the input ("" for the current one).
std::string referenceProblem(const std::string& folder, const std::string& reference);

}  // namespace host::formats
