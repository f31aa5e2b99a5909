#include "host/studio/MeshChanges.h"

#include <cstring>

#include "host/studio/StudioRequest.h"

namespace host::studio {
namespace {

void putWord(std::string& out, uint32_t w) {
    const char bytes[4] = {char(w & 0xff), char((w >> 8) & 0xff), char((w >> 16) & 0xff), char(w >> 24)};
    out.append(bytes, 4);
}

// Runs closer than this many equal words are sent as one: a run's own two words cost as much.
constexpr size_t kJoinGap = 2;

}  // namespace

std::string meshPatch(const std::string& base, const std::string& next, uint32_t baseSerial) {
    if (base.size() != next.size() || next.size() % 4 != 0) return "";
    const size_t words = next.size() / 4;
    if (words > UINT32_MAX) return "";
    const size_t budget = next.size() / 2;
    std::string out = "VXP1";
    putWord(out, baseSerial);
    putWord(out, static_cast<uint32_t>(words));
    const size_t runsAt = out.size();
    putWord(out, 0);
    uint32_t runs = 0;
    const char* a = base.data();
    const char* b = next.data();
    size_t w = 0;
    while (w < words) {
        if (std::memcmp(a + 4 * w, b + 4 * w, 4) == 0) {
            ++w;
            continue;
        }
        // A run from w: it ends where more than kJoinGap equal words follow.
        size_t end = w + 1;
        size_t equal = 0;
        for (size_t x = end; x < words; ++x) {
            if (std::memcmp(a + 4 * x, b + 4 * x, 4) != 0) {
                end = x + 1;
                equal = 0;
            } else if (++equal > kJoinGap) {
                break;
            }
        }
        putWord(out, static_cast<uint32_t>(w));
        putWord(out, static_cast<uint32_t>(end - w));
        out.append(b + 4 * w, 4 * (end - w));
        ++runs;
        if (out.size() > budget) return "";
        w = end;
    }
    std::string count;
    putWord(count, runs);
    out.replace(runsAt, 4, count);
    return out;
}

std::string SentMeshes::answer(int64_t id, uint32_t base, std::string mesh) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t serial = ++lastSerial_ == 0 ? ++lastSerial_ : lastSerial_;
    std::string out = "VXS1";
    putWord(out, serial);
    std::string patch;
    auto it = sent_.find(id);
    if (it != sent_.end() && base != 0 && it->second.serial == base) patch = meshPatch(it->second.bytes, mesh, base);
    out += patch.empty() ? mesh : patch;

    // Keep this copy; drop the other objects' while the copies are too large.
    Sent& kept = sent_[id];
    kept.serial = serial;
    kept.bytes = std::move(mesh);
    size_t total = 0;
    for (const auto& [key, s] : sent_) total += s.bytes.size();
    for (auto s = sent_.begin(); total > kKeptBytes && s != sent_.end();) {
        if (s->first == id) {
            ++s;
            continue;
        }
        total -= s->second.bytes.size();
        s = sent_.erase(s);
    }
    if (total > kKeptBytes) sent_.erase(id);
    return out;
}

ApiResponse SentMeshes::respond(const ApiRequest& request, int64_t id, std::string mesh) {
    if (request.query.count("base") != 0) {
        const int64_t base = queryNumber(request.query, "base", UINT32_MAX);
        if (base < 0) return ApiResponse::error(400, "base is not a whole number of at most 32 bits");
        mesh = answer(id, static_cast<uint32_t>(base), std::move(mesh));
    }
    return ApiResponse::binary(std::move(mesh), "application/octet-stream");
}

}  // namespace host::studio
