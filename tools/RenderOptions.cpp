#include "tools/RenderOptions.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

const char kRenderUsage[] =
    "Usage: pelvane-render [options] INPUT OUTPUT.wav\n"
    "       pelvane-render [options] INPUT -    (the WAV file to standard output)\n"
    "       pelvane-render --print [--trim] INPUT\n"
    "Replays a dump file or a Standard MIDI File (also inside a RIFF RMID file)\n"
    "through the synthesizer into a 16-bit stereo 44100 Hz WAV file, exactly as\n"
    "it would have sounded live. The kind of input is told by its content.\n"
    "  --dir DIR      read default.wav and default.pvi from DIR (default: .)\n"
    "  --trim         start at the first message instead of time 0\n"
    "  --tail-ms N    end at most N ms after the last message (default 600000)\n"
    "  --rate HZ      convert the output to HZ frames per second (8000 to 384000;\n"
    "                 default 44100, the engine's own rate, left as it is)\n"
    "  --gain DB      turn the output up or down by DB decibels (-100 to 60;\n"
    "                 default 0: the engine's own bytes)\n"
    "  --print        list the messages (time in s, channel, kind, data)\n"
    "  --verbose      show every log line (each note played, ...) on standard\n"
    "                 error, not only those saying why something did not load\n"
    "  -q, --quiet    show nothing but errors\n"
    "  --version      show the version\n"
    "  --help         show this text\n";

namespace {
bool ParseCount(const char* text, uint64_t* value) {
  if (!*text) return false;
  uint64_t result = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    if (result > (UINT64_MAX - 9) / 10) return false;
    result = result * 10 + static_cast<uint64_t>(*p - '0');
  }
  *value = result;
  return true;
}
bool ParseDecibels(const char* text, double* value) {
  char* end = nullptr;
  const double result = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(result)) return false;
  if (result < -100.0 || result > 60.0) return false;
  *value = result;
  return true;
}
}  // namespace

bool RenderOptions::Parse(int argc, const char* const* argv, std::string* error) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) {
        *error = std::string(arg) + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      help = true;
    } else if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
      version = true;
    } else if (std::strcmp(arg, "--trim") == 0) {
      trim = true;
    } else if (std::strcmp(arg, "--print") == 0) {
      print = true;
    } else if (std::strcmp(arg, "--verbose") == 0 || std::strcmp(arg, "-v") == 0) {
      verbose = true;
    } else if (std::strcmp(arg, "--quiet") == 0 || std::strcmp(arg, "-q") == 0) {
      quiet = true;
    } else if (std::strcmp(arg, "--rate") == 0) {
      const char* text;
      if (!value(&text)) return false;
      uint64_t hz = 0;
      if (!ParseCount(text, &hz) || hz < 8000 || hz > 384000) {
        *error = std::string("--rate needs a rate in Hz from 8000 to 384000, not '") + text + "'";
        return false;
      }
      rate = static_cast<uint32_t>(hz);
    } else if (std::strcmp(arg, "--gain") == 0) {
      const char* text;
      if (!value(&text)) return false;
      if (!ParseDecibels(text, &gainDb)) {
        *error = std::string("--gain needs a level in dB from -100 to 60, not '") + text + "'";
        return false;
      }
    } else if (std::strcmp(arg, "--dir") == 0) {
      const char* text;
      if (!value(&text)) return false;
      dir = text;
    } else if (std::strcmp(arg, "--tail-ms") == 0) {
      const char* text;
      if (!value(&text)) return false;
      if (!ParseCount(text, &tailMs)) {
        *error = std::string("--tail-ms needs a number of milliseconds, not '") + text + "'";
        return false;
      }
      tailGiven = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      *error = std::string("unknown option '") + arg + "'";
      return false;
    } else {
      if (positional == 0)
        input = arg;
      else if (positional == 1)
        output = arg;
      else {
        *error = std::string("unexpected argument '") + arg + "'";
        return false;
      }
      positional += 1;
    }
  }
  if (help || version) return true;
  if (quiet && verbose) {
    *error = "--quiet and --verbose exclude each other";
    return false;
  }
  if (input.empty()) {
    *error = "no input file given";
    return false;
  }
  if (print && !output.empty()) {
    *error = "--print takes no output file";
    return false;
  }
  if (!print && output.empty()) {
    *error = "no output file given";
    return false;
  }
  return true;
}
