// `vexlor render`: renders the polygon objects of a mesh file with the host's ray tracer, optionally
// with a baked normal map applied through the module's normal-map shader, and the two comparison
// sheets: `--compare HIGH LOW MAP` (the high object, the low object with its map, the plain low object
// and their differences to the high render) and `--compare-reduction IN OUT` (both objects with their
// wireframes and counts).
//
// Bad input is refused before anything is rendered, with a message naming the problem and a
// non-zero exit; the image is written through a temporary file, so a failure leaves no half image.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace app {

struct RenderOptions {
    std::string input;  // FILE or FILE:OBJECT
    std::string output;
    std::string normalMap;
    std::string normalY = "up";  // the map's green channel: y up (the default) or down the texture
    int uvSet = 1;
    std::string size = "640x480";
    std::string view;                 // front, side, top, perspective ("" = perspective)
    std::vector<std::string> camera;  // EX,EY,EZ and TX,TY,TZ
    std::string frameOn;
    bool wireframe = false;
    int samples = 4;
    int threads = 0;
    bool quiet = false;
    std::vector<std::string> compare;           // HIGH LOW MAP
    std::vector<std::string> compareReduction;  // IN OUT
};

CLI::App* addRenderCommand(CLI::App& cli, RenderOptions& options);

// 0 on success, 1 on bad input or a failed render.
int runRender(const std::string& moduleDir, const RenderOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
