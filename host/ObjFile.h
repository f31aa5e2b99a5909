// Wavefront OBJ files, read and written exactly: shared points, quads kept as quads, per-corner
// texture coordinates into a UVW tag, `vn` into the corner-normal tag, `g` groups into named
// polygon-selection tags and `o` into separate objects.
#pragma once

#include <string>
#include <vector>

#include "Document.h"
#include "SafeOutput.h"

namespace host {

// Reads every object of the file into `doc` (appended as top-level objects) and lists them in
// `loaded`. On failure nothing is added and `error` names the file, the line and the problem.
bool readObj(const std::string& path, Document& doc, std::vector<Object*>* loaded, std::string* error);

// Writes the polygon objects (their own point coordinates) to one file, through a SafeOutput: the
// target is replaced only when everything was written.
bool writeObj(const std::string& path, const std::vector<const Object*>& objects, std::string* error);
// Writes them into an open output and finishes it, leaving the commit to the caller (several files
// that must all be written before any is put in place). On failure the output is abandoned.
bool writeObj(SafeOutput& file, const std::vector<const Object*>& objects, std::string* error);

}  // namespace host
