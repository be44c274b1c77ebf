// The command line of pelvane-import.
#pragma once
#include <string>

struct ImportOptions {
  std::string source;
  std::string outdir;
  int bank = 0;
  int drums = 0;  // the preset of bank 128 that becomes the channel 10 kit; -1: none
  int velocity = 100;
  double maxSeconds = 8.0;
  bool force = false;
  bool help = false;
  bool version = false;

  // False with *error set on a malformed command line.
  bool Parse(int argc, const char* const* argv, std::string* error);
};

extern const char kImportUsage[];
extern const char kImportVersion[];
