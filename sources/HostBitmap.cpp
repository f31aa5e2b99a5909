#include "sources/HostBitmap.h"

#include "sources/Module.h"

HostBitmap& HostBitmap::operator=(HostBitmap&& other) noexcept {
    if (this != &other) {
        destroy();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

bool HostBitmap::make() {
    destroy();
    handle_ = moduleApi()->bmpMake();
    return handle_ != nullptr;
}

void HostBitmap::destroy() {
    if (handle_ != nullptr) {
        moduleApi()->bmpDestroy(handle_);
        handle_ = nullptr;
    }
}

bool HostBitmap::init(int32_t width, int32_t height, int32_t bitsPerPixel) {
    if (handle_ == nullptr && !make()) return false;
    return moduleApi()->bmpInit(handle_, width, height, bitsPerPixel) == 1;
}

bool HostBitmap::load(const HostFilename& path) {
    if (handle_ == nullptr && !make()) return false;
    return moduleApi()->bmpLoad(handle_, path.handle()) == 1;
}

bool HostBitmap::save(const HostFilename& path, int32_t format) const {
    if (handle_ == nullptr) return false;
    return moduleApi()->bmpSave(handle_, path.handle(), format) == 1;
}

int32_t HostBitmap::width() const { return handle_ != nullptr ? moduleApi()->bmpWidth(handle_) : 0; }
int32_t HostBitmap::height() const { return handle_ != nullptr ? moduleApi()->bmpHeight(handle_) : 0; }
int32_t HostBitmap::bitsPerPixel() const { return handle_ != nullptr ? moduleApi()->bmpBitsPerPixel(handle_) : 0; }

void HostBitmap::setPixel(int32_t x, int32_t y, int32_t r, int32_t g, int32_t b) {
    if (handle_ != nullptr) moduleApi()->bmpSetPixel(handle_, x, y, r, g, b);
}

void HostBitmap::setPixel16(int32_t x, int32_t y, int32_t r, int32_t g, int32_t b) {
    if (handle_ != nullptr) moduleApi()->bmpSetPixel16(handle_, x, y, r, g, b);
}

void HostBitmap::getPixel(int32_t x, int32_t y, int32_t* r, int32_t* g, int32_t* b) const {
    if (handle_ != nullptr) {
        moduleApi()->bmpGetPixel(handle_, x, y, r, g, b);
    } else {
        *r = *g = *b = 0;
    }
}

bool HostBitmap::initFloat(int32_t width, int32_t height, int32_t channels) {
    if (handle_ == nullptr && !make()) return false;
    return moduleApi()->bmpInitFloat(handle_, width, height, channels) == 1;
}

void HostBitmap::setPixelFloat(int32_t x, int32_t y, float r, float g, float b) {
    if (handle_ != nullptr) moduleApi()->bmpSetPixelFloat(handle_, x, y, r, g, b);
}

void HostBitmap::getPixelFloat(int32_t x, int32_t y, float* r, float* g, float* b) const {
    if (handle_ != nullptr) {
        moduleApi()->bmpGetPixelFloat(handle_, x, y, r, g, b);
    } else {
        *r = *g = *b = 0.0f;
    }
}
