#include "Bitmap.h"
namespace host {
int32_t imageFormatForPath(const std::string&) { return 0; }
bool Bitmap::init(int, int, int, int) { return false; }
bool Bitmap::load(const std::string&, std::string*) { return false; }
bool Bitmap::save(const std::string&, int32_t, std::string*) const { return false; }
}  // namespace host
