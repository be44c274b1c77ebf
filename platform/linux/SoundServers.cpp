#include "platform/linux/SoundServers.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>

namespace platform {

namespace {

void QuietJack(const char*) {}
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

bool IsSocket(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

bool IsOwnClient(const std::string& name) {
  const std::string client = name.substr(0, name.find(':'));
  for (const char* own : {kOutputClientName, kMidiClientName, kWatchClientName, kListClientName}) {
    const size_t n = std::char_traits<char>::length(own);
    if (client.compare(0, n, own) == 0 && (client.size() == n || client[n] == '-')) return true;
  }
  return false;
}

void SilenceJack() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(QuietJack);
    jack_set_info_function(QuietJack);
  });
}

void SilenceLibraries() {
  SilenceJack();
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsa); });
}

bool PulseServerListening() {
  if (const char* server = std::getenv("PULSE_SERVER")) return server[0] != 0;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return (runtime && IsSocket(std::string(runtime) + "/pulse/native")) ||
         IsSocket("/run/pulse/native");
}

}  // namespace platform
