#include "app/UserFolder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "log/Log.h"

namespace fs = std::filesystem;

namespace {
bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

// What the example folder holds that an instrument set can use.
bool IsKitFile(const fs::path& name) {
  std::string extension = name.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c | 0x20); });
  return name.filename() == "default.pvi" || extension == ".wav";
}

void FillFromExamples(const fs::path& folder, const fs::path& examples) {
  std::error_code error;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(examples, error), end; !error && it != end; it.increment(error))
    if (it->is_regular_file() && IsKitFile(it->path().filename())) files.push_back(it->path());
  if (error || files.empty()) {
    LogFormat("No example instruments in '%s': the folder stays empty", examples.string().c_str());
    return;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    if (!fs::copy_file(file, folder / file.filename(), error))
      LogFormat("Cannot copy '%s': %s", file.string().c_str(), error.message().c_str());
  }
  LogFormat("Made %s with the example instruments (%s); set PELVANE_HOME to use another folder.",
            folder.string().c_str(), examples.string().c_str());
}
}  // namespace

std::string UserFolderPath(const char* pelvaneHome, const char* xdgDataHome, const char* home) {
  if (IsSet(pelvaneHome)) return fs::absolute(fs::path(pelvaneHome)).lexically_normal().string();
  if (IsSet(xdgDataHome) && fs::path(xdgDataHome).is_absolute())
    return (fs::path(xdgDataHome) / "pelvane").lexically_normal().string();
  if (IsSet(home) && fs::path(home).is_absolute())
    return (fs::path(home) / ".local/share/pelvane").lexically_normal().string();
  return std::string();
}

bool EnterUserFolder(const std::string& folder, const std::string& examples) {
  if (folder.empty()) {
    LogMessage("No folder for Pelvane: set PELVANE_HOME, XDG_DATA_HOME or HOME");
    return false;
  }
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    if (!fs::create_directories(folder, error) && error) {
      LogFormat("Cannot make the folder '%s': %s", folder.c_str(), error.message().c_str());
      return false;
    }
    FillFromExamples(folder, examples);
  }
  fs::current_path(folder, error);
  if (error) {
    LogFormat("Cannot work in the folder '%s': %s", folder.c_str(), error.message().c_str());
    return false;
  }
  LogFormat("Pelvane runs in %s: default.pvi, default.wav and the dump files are there.",
            folder.c_str());
  return true;
}
