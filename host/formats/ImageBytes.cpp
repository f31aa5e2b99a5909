#include "host/formats/ImageBytes.h"

#include <cstring>

namespace host::formats {

bool bytesStartWith(const std::vector<uint8_t>& bytes, const void* magic, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

void copyRow(uint8_t* out, const uint8_t* in, int width, int fileChannels, int bytesPerSample) {
    if (fileChannels != 2) {
        std::memcpy(out, in, static_cast<size_t>(width) * fileChannels * bytesPerSample);
        return;
    }
    const size_t s = bytesPerSample;
    for (int x = 0; x < width; ++x) {
        const uint8_t* grey = in + 2 * s * x;
        uint8_t* rgba = out + 4 * s * x;
        std::memcpy(rgba, grey, s);
        std::memcpy(rgba + s, grey, s);
        std::memcpy(rgba + 2 * s, grey, s);
        std::memcpy(rgba + 3 * s, grey + s, s);
    }
}

}  // namespace host::formats
