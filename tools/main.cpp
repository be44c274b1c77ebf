// pelvane-render: replays a dump file or a Standard MIDI File into a WAV file.
#include <cstdio>
#include <new>
#include <string>

#include "Version.h"
#include "log/Log.h"
#include "platform/File.h"
#include "tools/RenderCommand.h"
#include "tools/RenderOptions.h"

int main(int argc, char** argv) {
  LogPlatformNotices();
  platform::OpenClosedStandardDescriptors();
  // Past the file-size limit a write fails, and the render says so, instead
  // of the process ending with a WAV whose header says it is empty.
  platform::KeepRunningPastFileSizeLimit();
  RenderOptions options;
  std::string error;
  if (!options.Parse(argc, argv, &error)) {
    std::fprintf(stderr, "pelvane-render: error: %s\n%s", error.c_str(), kRenderUsage);
    return 2;
  }
  if (options.help || options.version) {
    std::fputs(options.help ? kRenderUsage
                            : "pelvane-render " PELVANE_VERSION "\n" PELVANE_COPYRIGHT
                              "\n" PELVANE_LICENCE "\n",
               stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "pelvane-render: error: cannot write the %s\n",
                   options.help ? "help text" : "version");
      return 1;
    }
    return 0;
  }
  // The one exception a render can meet: an input too large for the memory
  // left (a limit, a small machine).
  try {
    return RunRenderCommand(options);
  } catch (const std::bad_alloc&) {
    std::fputs("pelvane-render: error: out of memory\n", stderr);
    return 1;
  }
}
