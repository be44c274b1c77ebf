// A private temporary folder, made once per fuzzing process and made the
// current directory, for the files the targets write. Corpus paths given to
// the fuzzer must therefore be absolute.
#pragma once
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/WaveBytes.h"

inline const std::string& FuzzFolder() {
  static const std::string path = [] {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/pelvane-fuzz-XXXXXX";
    const char* made = mkdtemp(&pattern[0]);
    if (!made || chdir(made) != 0) {
      std::perror("pelvane fuzz folder");
      abort();
    }
    return std::string(made);
  }();
  return path;
}
