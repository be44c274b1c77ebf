// pelvane-render: replays a dump file or a Standard MIDI File into a WAV file.
#include <cstdio>
#include <string>

#include "tools/RenderCommand.h"
#include "tools/RenderOptions.h"

int main(int argc, char** argv) {
  RenderOptions options;
  std::string error;
  if (!options.Parse(argc, argv, &error)) {
    std::fprintf(stderr, "pelvane-render: error: %s\n%s", error.c_str(), kRenderUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kRenderUsage, stdout);
    return 0;
  }
  return RunRenderCommand(options);
}
