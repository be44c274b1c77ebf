#include "tools/InputFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  uint8_t chunk[65536];
  bool ok = true;
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, file);
    bytes->insert(bytes->end(), chunk, chunk + got);
    if (got < sizeof chunk) {
      // A directory opens on some systems and then fails to read.
      if (std::ferror(file)) {
        *error = "cannot read the file";
        ok = false;
      }
      break;
    }
  }
  std::fclose(file);
  return ok;
}

bool LooksLikeSmf(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 4 && std::memcmp(bytes.data(), "MThd", 4) == 0;
}

bool HasSmfExtension(const std::string& path) {
  std::string lower;
  for (char c : path) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto endsWith = [&](const char* suffix) {
    size_t n = std::strlen(suffix);
    return lower.size() >= n && lower.compare(lower.size() - n, n, suffix) == 0;
  };
  return endsWith(".mid") || endsWith(".midi") || endsWith(".smf");
}
