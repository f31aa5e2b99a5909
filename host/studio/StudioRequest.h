// Reading what a request of the page gives: its JSON body and query numbers, checked so that a
// value is either taken whole or refused (never cut or guessed), and the file paths it names.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace host::studio {

// Parses a request body; null (discarded) when it is not a JSON object.
nlohmann::json parseBody(const std::string& body);
// A whole number of the body that fits 64 bits signed (a larger one is not taken, never cut).
bool readInt(const nlohmann::json& j, const char* key, int64_t& out);
// A whole number of the body that fits 32 bits signed (plug-in, gadget and mode numbers).
bool readInt32(const nlohmann::json& j, const char* key, int32_t& out);
// A text of the body, or `fallback` when it is missing; false when it is there but not a text.
bool readText(const nlohmann::json& j, const char* key, std::string& out, const std::string& fallback = {});
// A whole number of the query from 0 to `most`, or -1 when it is missing, not a number or larger.
int64_t queryNumber(const std::map<std::string, std::string>& query, const char* key, int64_t most);

// Why the studio refuses a file path a request gives ("" when it takes it): empty, too long, or
// holding a NUL or another control character (the file would not be the one the text names).
std::string pathProblem(const std::string& path);
// Why the studio refuses to read (`forWriting` false) or write the file: anything but a regular file
// (a FIFO, a device, a folder) would block the host or is no mesh file. "" when it may go on
// (a file to write may be missing).
std::string fileKindProblem(const std::string& path, bool forWriting);

}  // namespace host::studio
