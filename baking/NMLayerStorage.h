// Pixel storage of the image layers: flat (one Stack of width × height elements, index
// x + y × width) or banded (a Stack of bands of 100 rows each, so that large maps need no single
// huge allocation; the last band holds the remaining rows). NMStoredLayer joins a storage to one of
// the abstract layers.
#pragma once

#include <cstdint>

#include "baking/NMImageLayer.h"
#include "sources/Stack.h"

// Largest element count one Stack can hold.
constexpr int64_t NM_MAX_ELEMENTS = 0x7fffffff;

template <typename T>
class NMFlatStorage {
public:
    bool allocate(int32_t w, int32_t h) {
        release();
        if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > NM_MAX_ELEMENTS) return false;
        if (!items_.resize(w * h)) return false;
        width_ = w;
        height_ = h;
        return true;
    }
    void release() {
        items_.clear();
        width_ = 0;
        height_ = 0;
    }
    T& at(int32_t x, int32_t y) { return items_.element(x + y * width_); }
    T* row(int32_t y) { return y >= 0 && y < height_ ? items_.items + static_cast<int64_t>(y) * width_ : nullptr; }
    int32_t bandCount() const { return items_.count > 0 ? 1 : 0; }

private:
    Stack<T> items_;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

template <typename T>
class NMBandedStorage {
public:
    static constexpr int32_t bandRows = 100;

    bool allocate(int32_t w, int32_t h) {
        release();
        if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * bandRows > NM_MAX_ELEMENTS) return false;
        const int32_t count = (h + bandRows - 1) / bandRows;
        if (!bands_.resize(count)) return false;
        for (int32_t b = 0; b < count; ++b) {
            const int32_t rows = b + 1 < count ? bandRows : (h - 1) % bandRows + 1;
            if (!bands_.element(b).resize(w * rows)) {
                release();
                return false;
            }
        }
        width_ = w;
        height_ = h;
        return true;
    }
    void release() {
        bands_.clear();
        width_ = 0;
        height_ = 0;
    }
    T& at(int32_t x, int32_t y) { return bands_.element(y / bandRows).element(x + (y % bandRows) * width_); }
    T* row(int32_t y) {
        if (y < 0 || y >= height_) return nullptr;
        return bands_.items[y / bandRows].items + static_cast<int64_t>(y % bandRows) * width_;
    }
    int32_t bandCount() const { return bands_.count; }
    // Elements held by band b (0 outside).
    int32_t bandSize(int32_t b) const { return b >= 0 && b < bands_.count ? bands_.items[b].count : 0; }

private:
    Stack<Stack<T>> bands_;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

template <class Base, template <class> class Storage>
class NMStoredLayer : public Base {
public:
    using T = typename Base::Element;

    ~NMStoredLayer() override { storage_.release(); }

    bool allocate(int32_t w, int32_t h) override {
        release();
        if (!storage_.allocate(w, h)) return false;
        return Base::allocate(w, h);
    }
    bool release() override {
        storage_.release();
        this->width_ = 0;
        this->height_ = 0;
        return true;
    }
    void set(int32_t x, int32_t y, const T& element) override { storage_.at(x, y) = element; }
    void add(int32_t x, int32_t y, const T& element) override { storage_.at(x, y) += element; }
    T& elementAt(int32_t x, int32_t y) override { return storage_.at(x, y); }
    T* row(int32_t y) override { return storage_.row(y); }

    const Storage<T>& storage() const { return storage_; }

private:
    Storage<T> storage_;
};
