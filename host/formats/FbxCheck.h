// A bounded scan of an FBX file (binary or ASCII) before the mesh library parses it.
//
// The library parses nested records recursively, inflates compressed arrays to the size their
// header announces, and walks the models through their connections recursively, once per parent
// (a cycle never ends, a chain of thousands overflows the stack). The scan walks the records with a
// stack of its own and refuses: records nested deeper than kMaxFbxNesting; records, properties and
// arrays whose lengths reach past their parent or the file; arrays whose announced size no
// compressed stream of their length can give; and model connections that form a cycle, a chain
// deeper than the hierarchy limit, or a tree that expands beyond kMaxFbxExpandedModels.
#pragma once

#include <string>
#include <string_view>

namespace host::formats {

constexpr int kMaxFbxNesting = 64;
constexpr long kMaxFbxExpandedModels = 1000000;

// Why the file is refused ("" when it may go to the library).
std::string fbxProblem(std::string_view bytes);

}  // namespace host::formats
