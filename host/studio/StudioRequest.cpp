#include "host/studio/StudioRequest.h"

#include <sys/stat.h>

#include <cstdio>

using nlohmann::json;

namespace host::studio {

// Parses a request body; null (discarded) when it is not a JSON object.
json parseBody(const std::string& body) {
    json j = json::parse(body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return json(json::value_t::discarded);
    return j;
}

// A whole number of the body that fits 64 bits signed (a larger one is not taken, never cut).
bool readInt(const json& j, const char* key, int64_t& out) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer()) return false;
    if (it->is_number_unsigned() && it->get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) return false;
    out = it->get<int64_t>();
    return true;
}

// A whole number of the body that fits 32 bits signed (plug-in, gadget and mode numbers).
bool readInt32(const json& j, const char* key, int32_t& out) {
    int64_t v = 0;
    if (!readInt(j, key, v) || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// A text of the body, or `fallback` when it is missing; false when it is there but not a text.
bool readText(const json& j, const char* key, std::string& out, const std::string& fallback) {
    auto it = j.find(key);
    if (it == j.end()) {
        out = fallback;
        return true;
    }
    if (!it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

// A whole number of the query from 0 to `most`, or -1 when it is missing, not a number or larger.
int64_t queryNumber(const std::map<std::string, std::string>& query, const char* key, int64_t most) {
    auto it = query.find(key);
    if (it == query.end() || it->second.empty() || it->second.size() > 19) return -1;
    int64_t v = 0;
    for (char c : it->second) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
        if (v > most) return -1;
    }
    return v;
}

std::string pathProblem(const std::string& path) {
    if (path.empty()) return "the path is empty";
    if (path.size() > 4096) return "the path is longer than 4096 bytes";
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "U+%04X", c);
            return std::string("the path holds a control character (") + (c == 0 ? "NUL, " : "") + code +
                   ") at byte " + std::to_string(i + 1) + ": no file is named so";
        }
    }
    return {};
}

std::string fileKindProblem(const std::string& path, bool forWriting) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return {};  // missing: the reader or writer says so
    if (S_ISREG(st.st_mode)) return {};
    const char* kind = S_ISFIFO(st.st_mode)  ? "a FIFO"
                       : S_ISDIR(st.st_mode) ? "a folder"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                             : "not a regular file";
    return path + " is " + kind + ": the studio " + (forWriting ? "writes" : "reads") + " regular files only";
}

}  // namespace host::studio
