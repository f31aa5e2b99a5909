// What the layers share for writing image files: the host bitmap of the right depth for a map and
// the conversion of a unit quantity to a channel value.
#pragma once

#include <cstdint>

#include "sources/HostBitmap.h"

// value truncated to an integer and held in [0, max]; NaN gives 0.
inline int32_t nmChannel(double value, int32_t max) {
    if (!(value > 0.0)) return 0;
    if (value >= static_cast<double>(max)) return max;
    return static_cast<int32_t>(value);
}

// Image files hold their first row at the top, where the texture coordinate v is 1: the way every
// other tool reads a texture (image rows count down, v counts up). The layers count their rows with
// v from 0 (row y holds v = y / (height - 1)), so row y of a layer is row height - 1 - y of its image,
// both when a map is written and when an image is read into a layer.
inline int32_t nmImageRow(int32_t layerRow, int32_t height) { return height - 1 - layerRow; }

// Largest channel value of a bit depth (8 or 16).
inline int32_t nmChannelMax(int32_t bitDepth) { return bitDepth == 16 ? 65535 : 255; }

// True when a file of this format can hold 16 bits per channel (TIFF, PNG).
bool nmFormatHolds16Bits(int32_t format);
// True for the float formats (OpenEXR, half or float): maps are written as the layers' own values
// (normals as signed components, displacements as signed distances in scene units).
bool nmFormatIsFloat(int32_t format);

// Makes `bitmap` w × h for a map of the given depth: 8 bits per channel as 24-bit RGB (grey maps
// write three equal channels); 16 bits per channel as 48-bit RGB for colour maps or 16-bit grey,
// only for formats that hold them; float formats get float channels (3, or 1 for grey maps)
// whatever the depth. False for other depths, for 16 bits in a format that cannot
// hold them, and when the host cannot make the bitmap.
bool nmInitMapBitmap(HostBitmap& bitmap, int32_t w, int32_t h, int32_t bitDepth, int32_t format, bool colour);

// Sets pixel (x, y) to channel values of the bitmap's depth.
inline void nmSetMapPixel(HostBitmap& bitmap, int32_t bitDepth, int32_t x, int32_t y, int32_t r, int32_t g,
                          int32_t b) {
    if (bitDepth == 16)
        bitmap.setPixel16(x, y, r, g, b);
    else
        bitmap.setPixel(x, y, r, g, b);
}
