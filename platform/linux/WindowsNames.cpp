// Names in a kit written on Windows, looked up on a file system that minds
// the case and takes '\' for a letter.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/File.h"

namespace platform {

namespace {
bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return i == a.size() && !b[i];
}

// The entry of folder (empty: the working directory) that is name but for
// case; false when none is.
bool MatchInFolder(const std::string& folder, const std::string& name, std::string* entry) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  std::vector<std::string> matches;
  while (const dirent* it = readdir(dir))
    if (SameIgnoringCase(name, it->d_name)) matches.emplace_back(it->d_name);
  closedir(dir);
  if (matches.empty()) return false;
  *entry = *std::min_element(matches.begin(), matches.end());
  return true;
}
}  // namespace

bool FindFileAsWindowsWould(const char* path, std::string* found) {
  if (!path || !*path || Exists(path)) return false;
  std::string slashed(path);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  if (slashed != path && Exists(slashed)) {
    *found = slashed;
    return true;
  }
  std::string result = slashed[0] == '/' ? "/" : "";
  size_t at = 0;
  while (at < slashed.size()) {
    size_t end = slashed.find('/', at);
    if (end == std::string::npos) end = slashed.size();
    const std::string component = slashed.substr(at, end - at);
    at = end + 1;
    if (component.empty()) continue;  // a doubled or leading '/'
    std::string entry = component;
    if (component != "." && component != ".." && !Exists(result + component) &&
        !MatchInFolder(result, component, &entry))
      return false;
    result += entry;
    if (at <= slashed.size()) result += '/';
  }
  if (!result.empty() && result.back() == '/') result.pop_back();
  if (!Exists(result)) return false;
  *found = result;
  return true;
}

}  // namespace platform
