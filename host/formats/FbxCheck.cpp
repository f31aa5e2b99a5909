#include "host/formats/FbxCheck.h"

#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "host/formats/ReaderLimits.h"

namespace host::formats {
namespace {

constexpr std::string_view kBinaryMagic("Kaydara FBX Binary  \0", 21);
// zlib's deflate cannot shrink data more than about 1032 to 1.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kMaxArrayBytes = uint64_t{1} << 30;

// What the scans gather of the model graph: the models' ids and the "OO" connections between objects.
struct ModelGraph {
    std::vector<int64_t> models;
    std::vector<std::pair<int64_t, int64_t>> links;  // child, parent

    std::string problem() const {
        std::unordered_map<int64_t, int> index;
        for (int64_t id : models) index.emplace(id, static_cast<int>(index.size()));
        std::vector<std::vector<int>> children(index.size());
        for (const auto& [child, parent] : links) {
            auto c = index.find(child), p = index.find(parent);
            if (c != index.end() && p != index.end()) children[p->second].push_back(c->second);
        }
        return nodeGraphProblem(children, kMaxFbxExpandedModels, "model", "is connected below");
    }
};

template <class T>
T get(std::string_view b, size_t at) {
    T v;
    std::memcpy(&v, b.data() + at, sizeof(T));
    return v;
}

class BinaryScan {
public:
    explicit BinaryScan(std::string_view b) : b_(b) {}

    std::string run() {
        if (b_.size() < 27) return "the binary FBX header is cut short";
        const uint32_t version = get<uint32_t>(b_, 23);
        wide_ = version >= 7500;
        const size_t header = wide_ ? 25 : 13;
        // Records one after the other, each level ending at a null record or at its parent's end.
        struct Level {
            uint64_t end;
            int kind;  // 0 other, 1 Objects, 2 Connections
        };
        std::vector<Level> levels{{b_.size(), 0}};
        size_t at = 27;
        while (true) {
            const Level level = levels.back();
            if (at == level.end && levels.size() > 1) {  // a level ends with its record
                levels.pop_back();
                continue;
            }
            if (at + header > level.end) {
                // The top level may end in a footer; a nested one must end where its record does.
                if (levels.size() > 1) return "an FBX record reaches past the end of its parent";
                break;
            }
            const uint64_t recordEnd = wide_ ? get<uint64_t>(b_, at) : get<uint32_t>(b_, at);
            const uint64_t properties = wide_ ? get<uint64_t>(b_, at + 8) : get<uint32_t>(b_, at + 4);
            const uint64_t listLength = wide_ ? get<uint64_t>(b_, at + 16) : get<uint32_t>(b_, at + 8);
            const uint8_t nameLength = static_cast<uint8_t>(b_[at + header - 1]);
            if (recordEnd == 0) {  // the null record that ends a level
                if (levels.size() == 1) break;
                at = level.end;
                levels.pop_back();
                continue;
            }
            const uint64_t nameEnd = at + header + nameLength;
            if (recordEnd <= at || recordEnd > level.end || nameEnd > recordEnd || listLength > recordEnd - nameEnd)
                return "an FBX record reaches past the end of its parent or of the file";
            const std::string_view name = b_.substr(at + header, nameLength);
            const int parentKind = levels.back().kind;
            std::vector<Value> values;
            if (std::string why = readProperties(nameEnd, nameEnd + listLength, properties, values,
                                                 (parentKind == 1 && name == "Model") || (parentKind == 2 && name == "C"));
                !why.empty())
                return why;
            if (parentKind == 1 && name == "Model" && !values.empty() && values[0].isInteger)
                graph_.models.push_back(values[0].integer);
            if (parentKind == 2 && name == "C" && values.size() >= 3 && values[0].text == "OO" && values[1].isInteger &&
                values[2].isInteger)
                graph_.links.push_back({values[1].integer, values[2].integer});
            const uint64_t childrenAt = nameEnd + listLength;
            if (childrenAt < recordEnd) {
                if (static_cast<int>(levels.size()) >= kMaxFbxNesting)
                    return "FBX records nest deeper than " + std::to_string(kMaxFbxNesting) + " levels, more than we read";
                const int kind = levels.size() == 1 ? (name == "Objects" ? 1 : name == "Connections" ? 2 : 0) : 0;
                levels.push_back({recordEnd, kind});
                at = childrenAt;
            } else {
                at = recordEnd;
            }
        }
        return graph_.problem();
    }

private:
    struct Value {
        bool isInteger = false;
        int64_t integer = 0;
        std::string_view text;
    };

    std::string readProperties(uint64_t at, uint64_t end, uint64_t count, std::vector<Value>& values, bool keep) {
        for (uint64_t i = 0; i < count; ++i) {
            if (at >= end) return "an FBX record has fewer properties than it announces";
            const char type = b_[at++];
            auto need = [&](uint64_t n) { return n <= end - at; };
            Value v;
            switch (type) {
                case 'Y': if (!need(2)) return cut(); v = {true, get<int16_t>(b_, at), {}}; at += 2; break;
                case 'C': if (!need(1)) return cut(); at += 1; break;
                case 'I': if (!need(4)) return cut(); v = {true, get<int32_t>(b_, at), {}}; at += 4; break;
                case 'F': if (!need(4)) return cut(); at += 4; break;
                case 'D': if (!need(8)) return cut(); at += 8; break;
                case 'L': if (!need(8)) return cut(); v = {true, get<int64_t>(b_, at), {}}; at += 8; break;
                case 'S':
                case 'R': {
                    if (!need(4)) return cut();
                    const uint32_t length = get<uint32_t>(b_, at);
                    at += 4;
                    if (!need(length)) return cut();
                    v.text = b_.substr(at, length);
                    at += length;
                    break;
                }
                case 'f': case 'i': case 'd': case 'l': case 'b': {
                    if (!need(12)) return cut();
                    const uint64_t length = get<uint32_t>(b_, at);
                    const uint32_t encoding = get<uint32_t>(b_, at + 4);
                    const uint64_t stored = get<uint32_t>(b_, at + 8);
                    at += 12;
                    if (!need(stored)) return cut();
                    const uint64_t element = type == 'b' ? 1 : (type == 'f' || type == 'i') ? 4 : 8;
                    const uint64_t bytes = length * element;
                    if (encoding == 0 && bytes != stored)
                        return "an FBX array of " + std::to_string(length) + " values holds " + std::to_string(stored) +
                               " bytes";
                    if (encoding == 1 && (bytes > stored * kMaxDeflateRatio + 64 || bytes > kMaxArrayBytes))
                        return "an FBX array announces " + std::to_string(length) +
                               " values, more than its compressed bytes can hold";
                    if (encoding > 1) return "an FBX array with an unknown encoding";
                    at += stored;
                    break;
                }
                default: return std::string("an FBX property of an unknown type");
            }
            if (keep) values.push_back(v);
        }
        return {};
    }

    static std::string cut() { return "an FBX property reaches past the end of its record"; }

    std::string_view b_;
    bool wide_ = false;
    ModelGraph graph_;
};

bool isDelimiter(char c) {
    return c == ',' || c == ';' || c == '{' || c == '}' || c == '"' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// ASCII FBX: records are "Name: value, value {" ... "}", strings in quotes, comments after ';'.
std::string asciiProblem(std::string_view t) {
    ModelGraph graph;
    std::vector<std::string_view> scopes;  // the names of the open records
    std::string_view name;                 // the record whose values are being read
    std::vector<std::string_view> values;
    auto endRecord = [&] {
        if (name.empty()) return;
        if (scopes.size() == 1 && scopes[0] == "Objects" && name == "Model" && !values.empty())
            graph.models.push_back(std::strtoll(std::string(values[0]).c_str(), nullptr, 10));
        if (scopes.size() == 1 && scopes[0] == "Connections" && name == "C" && values.size() >= 3 &&
            values[0] == "\"OO\"")
            graph.links.push_back({std::strtoll(std::string(values[1]).c_str(), nullptr, 10),
                                   std::strtoll(std::string(values[2]).c_str(), nullptr, 10)});
        name = {};
        values.clear();
    };
    size_t i = 0;
    while (i < t.size()) {
        const char c = t[i];
        if (c == ';') {
            while (i < t.size() && t[i] != '\n') ++i;
        } else if (c == '"') {
            const size_t start = i++;
            while (i < t.size() && t[i] != '"') ++i;
            ++i;
            if (!name.empty()) values.push_back(t.substr(start, std::min(i, t.size()) - start));
        } else if (c == '{') {
            const std::string_view scope = name;
            endRecord();
            if (static_cast<int>(scopes.size()) >= kMaxFbxNesting)
                return "FBX records nest deeper than " + std::to_string(kMaxFbxNesting) + " levels, more than we read";
            scopes.push_back(scope);
            ++i;
        } else if (c == '}') {
            endRecord();
            if (!scopes.empty()) scopes.pop_back();
            ++i;
        } else if (c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else {
            // A token runs to the next delimiter; it holds at least its first character, which is
            // none (so the scan always moves on, a NUL byte included).
            const size_t start = i++;
            while (i < t.size() && !isDelimiter(t[i])) ++i;
            const std::string_view token = t.substr(start, i - start);
            if (token.size() > 1 && token.back() == ':') {
                endRecord();
                name = token.substr(0, token.size() - 1);
            } else if (!name.empty()) {
                values.push_back(token);
            }
        }
    }
    endRecord();
    return graph.problem();
}

}  // namespace

std::string fbxProblem(std::string_view bytes) {
    if (bytes.substr(0, kBinaryMagic.size()) == kBinaryMagic) return BinaryScan(bytes).run();
    return asciiProblem(bytes);
}

}  // namespace host::formats
