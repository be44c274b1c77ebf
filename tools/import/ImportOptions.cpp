#include "tools/import/ImportOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Version.h"

const char kImportVersion[] = "pelvane-import " PELVANE_VERSION;

const char kImportUsage[] =
    "Usage: pelvane-import [options] SOURCE OUTDIR\n"
    "Turns a SoundFont (.sf2, .sf3) or an SFZ kit into a Pelvane instrument set:\n"
    "OUTDIR gets default.pvi, the WAV files it names and import-report.txt.\n"
    "The kind of SOURCE is told by its content.\n"
    "  --bank N         the SoundFont bank whose presets become instruments (default 0)\n"
    "  --drums PRESET   the preset of bank 128 that plays MIDI channel 10 (default 0),\n"
    "                   or 'none'\n"
    "  --velocity V     the velocity layer to keep, 1 to 127 (default 100)\n"
    "  --max-seconds S  the longest a sound without a loop, or the attack ahead of\n"
    "                   a loop, is written out (default 8)\n"
    "  --force          replace an existing default.pvi in OUTDIR\n"
    "  --help           show this text\n"
    "  --version        show the version\n";

namespace {
bool ParseInt(const char* text, long lo, long hi, int* value) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  const long result = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || result < lo || result > hi) return false;
  *value = static_cast<int>(result);
  return true;
}
}  // namespace

bool ImportOptions::Parse(int argc, const char* const* argv, std::string* error) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* text = nullptr;
    auto value = [&]() {
      if (i + 1 >= argc) {
        *error = std::string(arg) + " needs a value";
        return false;
      }
      text = argv[++i];
      return true;
    };
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
      version = true;
    } else if (std::strcmp(arg, "--force") == 0) {
      force = true;
    } else if (std::strcmp(arg, "--bank") == 0) {
      if (!value()) return false;
      if (!ParseInt(text, 0, 16383, &bank)) {
        *error = std::string("--bank needs a bank number from 0 to 16383, not '") + text + "'";
        return false;
      }
    } else if (std::strcmp(arg, "--drums") == 0) {
      if (!value()) return false;
      if (std::strcmp(text, "none") == 0) {
        drums = -1;
      } else if (!ParseInt(text, 0, 127, &drums)) {
        *error = std::string("--drums needs a preset number from 0 to 127 or 'none', not '") +
                 text + "'";
        return false;
      }
    } else if (std::strcmp(arg, "--velocity") == 0) {
      if (!value()) return false;
      if (!ParseInt(text, 1, 127, &velocity)) {
        *error = std::string("--velocity needs a velocity from 1 to 127, not '") + text + "'";
        return false;
      }
    } else if (std::strcmp(arg, "--max-seconds") == 0) {
      if (!value()) return false;
      char* end = nullptr;
      const double seconds = std::strtod(text, &end);
      if (!*text || *end != '\0' || !std::isfinite(seconds) || seconds <= 0.0 || seconds > 600.0) {
        *error =
            std::string("--max-seconds needs a time from 0 to 600 seconds, not '") + text + "'";
        return false;
      }
      maxSeconds = seconds;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      *error = std::string("unknown option '") + arg + "'";
      return false;
    } else {
      if (positional == 0) {
        source = arg;
      } else if (positional == 1) {
        outdir = arg;
      } else {
        *error = std::string("unexpected argument '") + arg + "'";
        return false;
      }
      positional += 1;
    }
  }
  if (help || version) return true;
  if (positional < 2) {
    *error = positional == 0 ? "no SOURCE given" : "no OUTDIR given";
    return false;
  }
  return true;
}
