#include "host/formats/ReaderLimits.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace host::formats {

int jsonNestingDepth(std::string_view text, int limit) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;  // the escaped character, a quote included, is part of the string
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > deepest) deepest = depth;
            if (deepest > limit) return limit + 1;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string nodeGraphProblem(const std::vector<std::vector<int>>& children, long maxNodes, const char* what,
                             const char* how) {
    const size_t n = children.size();
    enum : uint8_t { unseen, open, done };
    std::vector<uint8_t> state(n, unseen);
    std::vector<uint64_t> expanded(n, 1), depth(n, 1);
    std::vector<std::pair<int, size_t>> stack;  // a node and its next child, without recursion
    const uint64_t cap = static_cast<uint64_t>(maxNodes) + 1;
    for (size_t root = 0; root < n; ++root) {
        if (state[root] != unseen) continue;
        stack.push_back({static_cast<int>(root), 0});
        state[root] = open;
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            if (next < children[node].size()) {
                const int child = children[node][next++];
                if (child < 0 || static_cast<size_t>(child) >= n) continue;
                if (state[child] == open)
                    return std::string("a ") + what + " " + how + " itself (directly or through others)";
                if (state[child] == unseen) {
                    state[child] = open;
                    stack.push_back({child, 0});
                }
                continue;
            }
            uint64_t total = 1, deepest = 0;
            for (int child : children[node]) {
                if (child < 0 || static_cast<size_t>(child) >= n) continue;
                total = std::min(total + expanded[child], cap);
                deepest = std::max(deepest, depth[child]);
            }
            expanded[node] = total;
            depth[node] = deepest + 1;
            state[node] = done;
            stack.pop_back();
            if (total >= cap)
                return std::string("the ") + what + " tree expands to more than " + std::to_string(maxNodes) + " " +
                       what + "s (one reached twice counts twice), more than we read";
            if (depth[node] > static_cast<uint64_t>(kMaxHierarchyDepth))
                return std::string("the ") + what + " hierarchy is deeper than " + std::to_string(kMaxHierarchyDepth) +
                       " levels, more than we read";
        }
    }
    return {};
}

namespace {

// The canonical path of an existing file or folder ("" when it cannot be resolved).
std::string canonical(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

std::string referenceProblem(const std::string& folder, const std::string& reference) {
    if (reference.empty()) return "an empty file name";
    for (unsigned char c : reference)
        if (c < 0x20 || c == 0x7f) return "a file name with a control character";
    if (reference.front() == '/' || reference.front() == '\\') return "an absolute path";
    if (reference.find(':') != std::string::npos) return "not a relative path (it names a scheme or a drive)";
    // Segments split on both slashes: a reference written on another system must not climb either.
    size_t start = 0;
    while (start <= reference.size()) {
        size_t end = reference.find_first_of("/\\", start);
        if (end == std::string::npos) end = reference.size();
        if (reference.compare(start, end - start, "..") == 0) return "a path that leaves the file's folder (\"..\")";
        start = end + 1;
    }
    // Links inside the folder must not lead out of it either.
    const std::string base = canonical(folder.empty() ? std::string(".") : folder);
    const std::string full = (folder.empty() ? std::string() : folder + "/") + reference;
    const std::string target = canonical(full);
    if (base.empty() || target.empty()) return {};  // a missing file is the reader's to report
    const std::string prefix = base == "/" ? base : base + "/";
    if (target.compare(0, prefix.size(), prefix) != 0) return "a link that leads out of the file's folder";
    return {};
}

}  // namespace host::formats
