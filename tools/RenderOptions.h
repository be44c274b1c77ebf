// The command line of pelvane-render.
#pragma once
#include <cstdint>
#include <string>

struct RenderOptions {
  std::string input;
  std::string output;  // empty with --print; "-" for standard output
  std::string dir;     // empty: the current directory
  bool trim = false;
  bool print = false;
  bool help = false;
  bool version = false;
  bool verbose = false;  // every log line, not only those of a refusal
  bool quiet = false;    // nothing but errors
  uint32_t rate = 44100;
  double gainDb = 0.0;
  bool tailGiven = false;
  uint64_t tailMs = 0;

  // False with *error set on a malformed command line.
  bool Parse(int argc, const char* const* argv, std::string* error);
};

extern const char kRenderUsage[];
