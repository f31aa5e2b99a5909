// Wavefront OBJ files, read and written exactly: shared points, quads kept as quads, per-corner
// texture coordinates into a UVW tag, `vn` into the corner-normal tag, `g` groups into named
// polygon-selection tags and `o` into separate objects.
#pragma once

#include <string>
#include <vector>

#include "Document.h"

namespace host {

// Reads every object of the file into `doc` (appended as top-level objects) and lists them in
// `loaded`. On failure nothing is added and `error` names the file, the line and the problem.
bool readObj(const std::string& path, Document& doc, std::vector<Object*>* loaded, std::string* error);

// Writes the polygon objects (their own point coordinates) to one file, through a temporary file
// that is renamed into place only when everything was written.
bool writeObj(const std::string& path, const std::vector<const Object*>& objects, std::string* error);

}  // namespace host
