// `vexlor brush IN -o OUT --stroke "x,y x,y ..."`: the reduction brush dragged over a view of the
// file's first polygon object, as a person at the host would: the file goes into a document, the
// object is made active, a viewport of the chosen projection frames it, the brush becomes the active
// tool and its settings panel is set from the options, and each stroke is one drag (press at the
// first position, moves to the others, release). Every drag that changed the object is one undo
// step; --undo K takes the last K back before the object is written. A polygon soup (no point shared
// between polygons) is refused; --weld merges coincident points first.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace app {

struct BrushOptions {
    std::string input;
    std::string output;
    std::vector<std::string> strokes;
    std::string view = "perspective";
    std::string size = "800x600";
    std::string maxError, maxNeighbours, boundaryWeight, weighting;
    bool noFoldCheck = false;
    bool weld = false;  // merge the brushed object's exactly coincident points first
    std::string snapshot;
    bool showPanel = false;
    std::string undo;
    std::string step = "2";
};

// One stroke parsed: screen positions in order. An error message names the offending pair.
struct StrokePoint {
    double x = 0, y = 0;
};
std::string parseStroke(const std::string& text, std::vector<StrokePoint>& out);
// The most positions one stroke may give at its --step (a brush step at each): more are refused.
constexpr double kMostStrokePositions = 2'000'000;
// How many positions strokePath gives, counted in reals (a tiny step or a huge stroke cannot
// overflow it; infinite when a segment's length is).
double strokePositionCount(const std::vector<StrokePoint>& stroke, double step);
// The positions a mouse reports along a stroke: every given position, with positions between them at
// most `step` pixels apart, evenly spaced along each segment. Empty when there would be more than
// kMostStrokePositions.
std::vector<StrokePoint> strokePath(const std::vector<StrokePoint>& stroke, double step);

CLI::App* addBrushCommand(CLI::App& cli, BrushOptions& options);
// 0 on success, 1 on bad input or a failure (then nothing is written).
int runBrush(const std::string& moduleDir, const BrushOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
