// A mesh sent as what changed since the copy the page holds. The page names the copy it has by the
// serial number the host gave it; when the host still has that copy and the new mesh has the same
// length, it sends the 32-bit words that differ, in runs, instead of the whole mesh (a preview step
// or a brush stroke changes a small part of a dense mesh, and its UVs and normals mostly not at all).
//
// The answer to GET /api/mesh?id=N&base=S, little-endian:
//   "VXS1", u32 serial of this mesh, then either the whole mesh (see encodeMesh) or
//   "VXP1", u32 serial of the base, u32 words of the mesh, u32 runs, and per run
//   u32 first word, u32 word count, the words.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "host/studio/StudioServer.h"

namespace host::studio {

// The words of `next` that differ from `base`, as the "VXP1" record above; "" when the two differ in
// length (or are not whole words) or the changes would take more than half of `next`'s bytes.
std::string meshPatch(const std::string& base, const std::string& next, uint32_t baseSerial);

// The last mesh sent for each object, to make the next answer a patch. One is shared by every route
// that sends meshes (the document's and the brush's strokes), from any thread.
class SentMeshes {
public:
    // The answer for object `id` whose mesh is now `mesh`, when the page holds the copy `base`
    // (0: none): a patch where that copy is still here, the whole mesh otherwise. The new mesh
    // becomes the object's copy.
    std::string answer(int64_t id, uint32_t base, std::string mesh);
    // The answer to a request for object `id`'s mesh: with the query's `base`, answer(); without
    // it, the mesh as it is; 400 when `base` is not a 32-bit whole number.
    ApiResponse respond(const ApiRequest& request, int64_t id, std::string mesh);
    // Beyond this many bytes of copies in all, the other objects' copies are dropped.
    static constexpr size_t kKeptBytes = size_t(512) << 20;

private:
    struct Sent {
        uint32_t serial = 0;
        std::string bytes;
    };
    std::mutex mutex_;
    std::map<int64_t, Sent> sent_;
    uint32_t lastSerial_ = 0;
};

}  // namespace host::studio
