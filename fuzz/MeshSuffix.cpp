// The suffix a mesh reader target gives its scratch files, which picks the reader as a user's file
// name would (MESH_SUFFIX, set by the build for each target).
#ifndef MESH_SUFFIX
#error "MESH_SUFFIX names the suffix of the scratch file, such as \".ply\""
#endif
extern const char kMeshSuffix[] = MESH_SUFFIX;
