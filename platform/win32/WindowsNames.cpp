#include "platform/File.h"

namespace platform {

// Windows reads '\' as the separator and ignores case by itself.
bool FindFileAsWindowsWould(const char* /*path*/, std::string* /*found*/) { return false; }

}  // namespace platform
