// Mesh files of every kind we read and write, picked by the file's suffix and, where the content
// says otherwise, by its first bytes.
//
//   read:  OBJ (exact), glTF 2.0 (.gltf, .glb), PLY (ours, every vertex property), and through assimp
//          FBX, STL, Collada (.dae), 3DS
//   write: OBJ (exact), glTF 2.0 (.gltf, .glb), PLY, STL
//
// A read adds nothing to the document unless the whole file was understood; errors are one line
// that names the file and the problem. Writers build the whole file in memory and hand it to one
// replacing write, so a failed write leaves the old file as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/Document.h"
#include "host/formats/GltfFile.h"
#include "host/formats/MeshBuild.h"
#include "host/SafeOutput.h"

namespace host::formats {

enum class MeshFormat { Unknown, Obj, Gltf, Glb, Fbx, Ply, Stl, Collada, ThreeDs };

// By suffix (any case).
MeshFormat meshFormatForPath(const std::string& path);
// The format an output is written in: by its suffix, and OBJ for a device or a pipe without one.
MeshFormat meshFormatForOutput(const std::string& path);
// By the first bytes of a file (Unknown when they say nothing sure).
MeshFormat meshFormatOfContent(std::string_view head, size_t fileSize);
const char* meshFormatName(MeshFormat format);
bool canWriteMeshFormat(MeshFormat format);
// The suffixes we can write, for messages: ".obj, .glb, .gltf, .ply or .stl".
const char* writableMeshSuffixes();

struct MeshReadReport {
    MeshFormat format = MeshFormat::Unknown;
    std::vector<WeldResult> welds;  // one per polygon object that came from vertex streams
};

// Reads the file's objects into `doc` as top-level objects (with their children) and lists the
// top-level ones in `loaded`. A file without a single polygon is an error.
bool readMeshFile(const std::string& path, Document& doc, std::vector<Object*>* loaded, std::string* error,
                  MeshReadReport* report = nullptr);

// Writes the objects in the format of the path's suffix. Formats without a hierarchy (OBJ, PLY, STL)
// get each polygon object's points placed where its global matrix puts them.
bool writeMeshFile(const std::string& path, const std::vector<const Object*>& objects, std::string* error);
// The same into an opened output (its path's suffix chooses the format), which the caller puts in
// place with commit() once every file of its run is written.
bool writeMeshFile(SafeOutput& file, const std::vector<const Object*>& objects, std::string* error);
// The whole file of a glTF, PLY or STL format in memory (OBJ is streamed by the writers); on failure
// `problem` says why, without the path.
bool encodeMeshFile(MeshFormat format, const std::vector<const Object*>& objects, std::string& bytes,
                    std::string* problem);

// A chain of levels of detail in one glTF file (.glb or .gltf).
bool writeLodChainFile(const std::string& path, const std::vector<LodLevel>& levels, std::string* error,
                       const BakedMapsOf* baked = nullptr);

}  // namespace host::formats
