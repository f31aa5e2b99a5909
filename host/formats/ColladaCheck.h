// A bounded scan of a Collada file before the mesh library parses it.
//
// The library trusts the counts of a Collada file: an array's `count` sizes its storage before the
// values are read (a negative one wraps to gigabytes), an accessor's `stride` and `offset` index the
// array unchecked, a token of an index list that is not a number makes its reader loop and grow
// without end, and the node tree is walked recursively, instances included (a node that instances
// itself never ends). The scan reads the XML once, with no recursion of its own, and refuses:
// - element nesting deeper than the hierarchy limit allows, and node trees deeper than it;
// - an array whose `count` is not a whole number or promises more values than its text holds;
// - an accessor whose `count`, `offset` and `stride` reach past the end of its array;
// - index lists (`<p>`, `<vcount>`, `<v>`, `<h>`) with anything but whole numbers, and primitives
//   whose counts and input offsets ask for more indices than the lists hold;
// - node instances that form a cycle, or that expand to more nodes or levels than we read.
#pragma once

#include <string>
#include <string_view>

namespace host::formats {

// Nodes a file may expand to through its instances.
constexpr long kMaxColladaExpandedNodes = 1000000;

// Why the file is refused ("" when it may go to the library).
std::string colladaProblem(std::string_view xml);

}  // namespace host::formats
