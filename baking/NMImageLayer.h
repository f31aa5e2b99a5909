// NMImageLayer: the in-memory images the baker accumulates into. One interface over three element
// types (32-bit integer counts, one float, three floats), each with a flat and a banded storage
// (NMLayerStorage.h). Layers are made with the host allocator and destroyed through their virtual
// destructor.
#pragma once

#include <cstdint>

// The element of the vector layers: three floats.
struct NMVector3f {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};
inline NMVector3f& operator+=(NMVector3f& a, const NMVector3f& b) {
    a.x += b.x;
    a.y += b.y;
    a.z += b.z;
    return a;
}

template <typename T>
class NMImageLayer {
public:
    using Element = T;

    NMImageLayer() = default;
    NMImageLayer(const NMImageLayer&) = delete;
    NMImageLayer& operator=(const NMImageLayer&) = delete;
    virtual ~NMImageLayer() = default;

    virtual int32_t width() const { return width_; }
    virtual int32_t height() const { return height_; }
    // The base only stores the size; the stored layers first release, then reserve width × height
    // zero elements (false when memory runs out or the size cannot be held).
    virtual bool allocate(int32_t w, int32_t h) {
        width_ = w;
        height_ = h;
        return true;
    }
    // Frees the storage and empties the layer; the base has nothing to free and answers false.
    virtual bool release() { return false; }
    virtual bool isEmpty() const { return width_ == 0; }
    // Pixel access; indices outside the layer are reported and fall back as the storage's Stack does.
    virtual void set(int32_t x, int32_t y, const T& element) = 0;
    virtual void add(int32_t x, int32_t y, const T& element) = 0;
    virtual T& elementAt(int32_t x, int32_t y) = 0;
    // The `width` elements of row y, contiguous in either storage; null outside the layer.
    virtual T* row(int32_t y) = 0;
    const T* row(int32_t y) const { return const_cast<NMImageLayer*>(this)->row(y); }

protected:
    int32_t width_ = 0;
    int32_t height_ = 0;
};

// The three abstract layers; the float and vector ones add image operations.
using NMAbstractIntLayer = NMImageLayer<int32_t>;
