// `vexlor info FILE...`: a summary of each object of each mesh file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/formats/MeshFile.h"

namespace app {

// Writes the summary of every object of `doc` (name, points, polygons split into triangles and
// quads, tags with their kinds and names, bounding box).
void printDocumentSummary(const host::Document& doc, std::ostream& out);

// One line per polygon object that was welded from a format's vertex streams: vertices in the file,
// points after welding, polygons dropped as degenerate.
void printWelds(const host::formats::MeshReadReport& report, std::ostream& out);

// Loads each file and prints its summary; returns the process exit code.
int runInfo(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);

}  // namespace app
