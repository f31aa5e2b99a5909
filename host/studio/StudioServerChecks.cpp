// What the server accepts: the checks of a request and of a file path, the answers' forms.
#include <filesystem>

#include "host/studio/StudioServer.h"

namespace fs = std::filesystem;

namespace host::studio {
namespace {

// A Content-Length: decimal digits only, no sign, no spaces, no overflow.
bool plainLength(const std::string& text, size_t& out) {
    if (text.empty() || text.size() > 18) return false;
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + static_cast<size_t>(c - '0');
    }
    return true;
}

}  // namespace

ApiResponse ApiResponse::json(std::string body, int status) {
    ApiResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

ApiResponse ApiResponse::error(int status, const std::string& message) {
    std::string escaped;
    for (char c : message) {
        if (c == '"' || c == '\\') escaped += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            escaped += ' ';
            continue;
        }
        escaped += c;
    }
    return json("{\"error\":\"" + escaped + "\"}", status);
}

ApiResponse ApiResponse::binary(std::string bytes, std::string contentType) {
    ApiResponse r;
    r.contentType = std::move(contentType);
    r.body = std::move(bytes);
    return r;
}

std::string contentTypeFor(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".js" || ext == ".mjs") return "text/javascript; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".png") return "image/png";
    if (ext == ".svg") return "image/svg+xml";
    if (ext == ".json") return "application/json";
    return "application/octet-stream";
}

std::string StudioServer::checkStaticPath(const std::string& urlPath) {
    if (urlPath.empty() || urlPath[0] != '/') return "the path must start with /";
    if (urlPath.find('\\') != std::string::npos) return "backslashes are not allowed in paths";
    if (urlPath.find('\0') != std::string::npos) return "the path holds a NUL";
    size_t at = 1;
    while (at <= urlPath.size()) {
        size_t end = urlPath.find('/', at);
        if (end == std::string::npos) end = urlPath.size();
        const std::string segment = urlPath.substr(at, end - at);
        if (segment == "..") return "the path leaves the served folder";
        if (segment == "." || (segment.empty() && end != urlPath.size())) return "the path is not plain";
        at = end + 1;
    }
    return {};
}

bool StudioServer::sameSecret(const std::string& given, const std::string& secret) {
    // Every byte of the secret is looked at whatever the given text holds.
    unsigned char differ = given.size() == secret.size() ? 0 : 1;
    for (size_t i = 0; i < secret.size(); ++i) {
        const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        differ |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(secret[i]));
    }
    return differ == 0 && !secret.empty();
}

Refusal StudioServer::checkRequest(const RequestFacts& r) const {
    const std::string port = std::to_string(port_);
    // How the request is framed first: what cannot be read safely is refused before its body.
    if (!r.repeatedHeader.empty()) return {400, r.repeatedHeader + " is given more than once", false};
    const bool post = r.method == "POST";
    if (r.method != "GET" && r.method != "HEAD" && !post) return {405, "only GET, HEAD and POST are answered", false};
    if (r.hasTransferEncoding) return {411, "a body must come with its length (Content-Length), not in chunks", false};
    if (!post && r.hasContentLength && r.contentLength != "0") return {400, "a GET or HEAD carries no body", false};
    size_t length = 0;
    if (post) {
        if (!r.hasContentLength) return {411, "a POST must give the length of its body (Content-Length)", false};
        if (!plainLength(r.contentLength, length)) return {400, "the length of the body is not a number", false};
        if (length > kMaxBody) return {413, "the body is larger than 1 MiB", false};
    }
    // The body, if any, is well framed and small from here on: it is read before the refusal.
    const bool drain = post;
    if (r.host != "127.0.0.1:" + port && r.host != "localhost:" + port)
        return {403, "this server answers only requests addressed to 127.0.0.1:" + port, drain};
    if (!r.origin.empty() && r.origin != "http://127.0.0.1:" + port && r.origin != "http://localhost:" + port)
        return {403, "requests from other origins are refused", drain};
    if (post && r.contentType.rfind("application/json", 0) != 0)
        return {403, "the body of a POST must be JSON (Content-Type: application/json)", drain};
    if (r.path.rfind("/api/", 0) == 0 || r.path == "/api") {
        const std::string& given = !r.tokenHeader.empty() || post ? r.tokenHeader : r.tokenQuery;
        if (!sameSecret(given, token_))
            return {403, "this request does not come from the studio's page (it lacks the page's token)", drain};
    }
    return {};
}

}  // namespace host::studio
