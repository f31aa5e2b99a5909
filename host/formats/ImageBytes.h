// What the image codecs share: signature tests over a file's bytes, and the copy of one decoded row
// into a bitmap's layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host::formats {

bool bytesStartWith(const std::vector<uint8_t>& bytes, const void* magic, size_t n);

// Copies one row of samples, turning grey + alpha into RGBA (our bitmaps have no 2-channel form).
void copyRow(uint8_t* out, const uint8_t* in, int width, int fileChannels, int bytesPerSample);

}  // namespace host::formats
