// pelvane-import: turns a SoundFont 2/3 file or an SFZ kit into a Pelvane
// instrument set folder.
#include <cstdio>
#include <new>
#include <string>

#include "engine/PitchTable.h"
#include "log/Log.h"
#include "tools/import/ImportCommand.h"
#include "tools/import/ImportOptions.h"

int main(int argc, char** argv) {
  LogPlatformNotices();
  ImportOptions options;
  std::string error;
  if (!options.Parse(argc, argv, &error)) {
    std::fprintf(stderr, "pelvane-import: error: %s\n%s", error.c_str(), kImportUsage);
    return 2;
  }
  if (options.help || options.version) {
    if (options.help)
      std::fputs(kImportUsage, stdout);
    else
      std::printf("%s\n", kImportVersion);
    return 0;
  }
  BuildPitchTable();
  try {
    return RunImportCommand(options);
  } catch (const std::bad_alloc&) {
    std::fputs("pelvane-import: error: out of memory\n", stderr);
    return 1;
  }
}
