// Fuzzes the image readers behind Bitmap::load (TIFF, PNG, TGA, BMP by their content, as bump images
// are read): every input either loads into a bitmap of a sane size and layout, or is refused with a
// message and leaves the bitmap as it was.
#include <cstdlib>

#include "FuzzInput.h"
#include "host/Bitmap.h"

namespace {
void check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzScratchFile(data, size, ".img");
    host::Bitmap image;
    check(image.init(2, 3));
    const host::Bitmap before = image;
    std::string error;
    if (!image.load(path, &error)) {
        check(!error.empty());
        check(image == before);
        return 0;
    }
    check(image.width() > 0 && image.height() > 0);
    check(image.channels() >= 1 && image.channels() <= 4);
    // Every pixel can be read.
    volatile unsigned sum = 0;
    const size_t bytes = image.rowBytes() * static_cast<size_t>(image.height());
    for (size_t i = 0; i < bytes; ++i) sum = sum + image.data()[i];
    return 0;
}
