#include "host/formats/BakedMapImages.h"

#include <algorithm>
#include <cmath>

#include "host/Bitmap.h"
#include "host/Tags.h"
#include "host/render/RenderObject.h"

namespace host::formats {
namespace {

uint8_t toByte(double unit) {
    if (!(unit > 0.0)) return 0;
    if (unit >= 1.0) return 255;
    return static_cast<uint8_t>(std::lround(unit * 255.0));
}

// The unit value of a channel: float files hold the quantity itself, signed for normals.
double unitValue(const Bitmap& image, int x, int y, int channel, bool signedFloat) {
    const int c = image.channels() == 1 ? 0 : channel;
    if (!image.isFloat()) return image.getFloat(x, y, c);
    const double v = image.getFloat(x, y, c);
    return signedFloat ? v * 0.5 + 0.5 : v;
}

bool load(const std::string& path, const char* what, Bitmap& image, std::string& error) {
    std::string why;
    if (image.load(path, &why)) return true;
    error = std::string("cannot read the ") + what + " " + path + (why.empty() ? "" : ": " + why);
    return false;
}

bool encode(const Bitmap& image, const char* what, std::string& png, std::string& error) {
    std::string why;
    if (encodePng(image, png, &why)) return true;
    error = std::string("cannot encode the ") + what + " as PNG: " + why;
    return false;
}

}  // namespace

bool bakedMapsFromFiles(const std::string& normalPath, bool normalYDown, const std::string& occlusionPath,
                        BakedMaps& maps, std::string& error) {
    Bitmap normal;
    if (!load(normalPath, "normal map", normal, error)) return false;
    Bitmap rgb;
    if (!rgb.init(normal.width(), normal.height(), 3, 8)) {
        error = "out of memory for the normal map's image";
        return false;
    }
    for (int y = 0; y < normal.height(); ++y)
        for (int x = 0; x < normal.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                double v = unitValue(normal, x, y, c, true);
                // y down the texture is stored as 1 - c; the asset's readers want y up.
                if (c == 1 && normalYDown) v = 1.0 - v;
                rgb.set8(x, y, c, toByte(v));
            }
    BakedMaps out;
    if (!encode(rgb, "normal map", out.normalPng, error)) return false;

    if (!occlusionPath.empty()) {
        Bitmap occlusion;
        if (!load(occlusionPath, "occlusion map", occlusion, error)) return false;
        Bitmap grey;
        if (!grey.init(occlusion.width(), occlusion.height(), 1, 8)) {
            error = "out of memory for the occlusion map's image";
            return false;
        }
        for (int y = 0; y < occlusion.height(); ++y)
            for (int x = 0; x < occlusion.width(); ++x) grey.set8(x, y, 0, toByte(unitValue(occlusion, x, y, 0, false)));
        if (!encode(grey, "occlusion map", out.occlusionPng, error)) return false;
    }
    maps = std::move(out);
    return true;
}

void keepBakedNormals(PolygonObject& object) {
    if (object.tag(TAG_NORMALS)) return;
    render::RenderObject shading;
    shading.build(object, nullptr);
    auto tag = std::make_unique<NormalTag>();
    tag->data.resize(object.polygons.size());
    for (size_t i = 0; i < object.polygons.size(); ++i)
        for (int k = 0; k < 12; ++k)
            tag->data[i].v[k] = static_cast<int16_t>(std::lround(shading.cornerNormals[12 * i + k] * 32000.0f));
    object.addTag(std::move(tag));
}

}  // namespace host::formats
