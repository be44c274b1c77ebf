#include "tools/import/OutputFolder.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

OutputFolder::~OutputFolder() {
  if (temp_.empty()) return;
  std::error_code ignored;
  fs::remove_all(temp_, ignored);
}

bool OutputFolder::Open(const std::string& outdir, bool force, std::string* error) {
  outdir_ = outdir;
  while (outdir_.size() > 1 && outdir_.back() == '/') outdir_.pop_back();
  struct stat info {};
  std::string pattern;
  if (stat(outdir_.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) {
      *error = "'" + outdir + "' exists and is not a folder";
      return false;
    }
    existed_ = true;
    const std::string set = outdir_ + "/default.pvi";
    if (!force && stat(set.c_str(), &info) == 0) {
      *error = "an existing '" + set + "' is kept (--force replaces it)";
      return false;
    }
    pattern = outdir_ + "/.pelvane-import-XXXXXX";
  } else if (errno != ENOENT) {
    *error = "cannot use '" + outdir + "': " + std::strerror(errno);
    return false;
  } else {
    const fs::path path(outdir_);
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    pattern = (parent / ("." + path.filename().string() + ".pelvane-import-XXXXXX")).string();
  }
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) {
    *error = "cannot write into '" +
             (existed_ ? outdir : fs::path(outdir_).parent_path().string()) +
             "': " + std::strerror(errno);
    return false;
  }
  temp_ = name.data();
  return true;
}

bool OutputFolder::Commit(std::string* error) {
  if (!existed_) {
    if (std::rename(temp_.c_str(), outdir_.c_str()) != 0) {
      *error = "cannot move the imported set to '" + outdir_ + "': " + std::strerror(errno);
      return false;
    }
    temp_.clear();
    return true;
  }
  std::error_code code;
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(temp_, code))
    if (entry.path().filename() != "default.pvi") files.push_back(entry.path());
  files.push_back(fs::path(temp_) / "default.pvi");
  for (const fs::path& file : files) {
    const std::string to = outdir_ + "/" + file.filename().string();
    if (std::rename(file.c_str(), to.c_str()) != 0) {
      *error = "cannot move '" + file.filename().string() + "' into '" + outdir_ +
               "': " + std::strerror(errno);
      return false;
    }
  }
  fs::remove_all(temp_, code);
  temp_.clear();
  return true;
}
