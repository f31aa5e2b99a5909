#include "ObjFile.h"
namespace host {
bool readObj(const std::string& path, Document&, std::vector<Object*>*, std::string* error) {
    if (error) *error = path + ": reading is not available yet";
    return false;
}
bool writeObj(const std::string& path, const std::vector<const Object*>&, std::string* error) {
    if (error) *error = path + ": writing is not available yet";
    return false;
}
}  // namespace host
