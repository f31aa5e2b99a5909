// A host bitmap owned by the module: made empty, then initialised to a size or loaded from a file.
// Not copyable; moving hands the bitmap over.
#pragma once

#include <cstdint>

#include "sources/HostFilename.h"
#include "sources/HostInterface.h"

class HostBitmap {
public:
    HostBitmap() = default;
    HostBitmap(const HostBitmap&) = delete;
    HostBitmap& operator=(const HostBitmap&) = delete;
    HostBitmap(HostBitmap&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    HostBitmap& operator=(HostBitmap&& other) noexcept;
    ~HostBitmap() { destroy(); }

    // Asks the host for an empty bitmap (dropping any held one); false when it cannot.
    bool make();
    void destroy();

    // Both make the bitmap first when none is held. True on success.
    bool init(int32_t width, int32_t height, int32_t bitsPerPixel = 24);
    // Float channels: 1 (grey) or 3 (RGB), for OpenEXR images.
    bool initFloat(int32_t width, int32_t height, int32_t channels);
    bool load(const HostFilename& path);
    bool save(const HostFilename& path, int32_t format) const;

    int32_t width() const;
    int32_t height() const;
    int32_t bitsPerPixel() const;
    void setPixel(int32_t x, int32_t y, int32_t r, int32_t g, int32_t b);
    void setPixel16(int32_t x, int32_t y, int32_t r, int32_t g, int32_t b);
    void getPixel(int32_t x, int32_t y, int32_t* r, int32_t* g, int32_t* b) const;
    void setPixelFloat(int32_t x, int32_t y, float r, float g, float b);
    // Channels as floats: float bitmaps as they are, 8- and 16-bit ones scaled to [0, 1].
    void getPixelFloat(int32_t x, int32_t y, float* r, float* g, float* b) const;

    bool valid() const { return handle_ != nullptr; }
    HstBitmap* handle() const { return handle_; }

private:
    HstBitmap* handle_ = nullptr;
};
