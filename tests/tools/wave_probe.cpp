// pelvane_wave_probe
// Lists the wave output devices ("devices N", then "device ID NAME" each),
// then starts a Mixer on WAVE_MAPPER, lets it run for half a second, stops it
// in the two phases and prints "stopped". Without any device the Mixer must
// still start and stop.
#include <cstdio>

#include "engine/Mixer.h"
#include "log/Log.h"
#include "platform/Thread.h"
#include "platform/WaveOut.h"
#include "support/doubles/SleepMs.h"

int main() {
  LogPlatformNotices();
  uint32_t count = platform::WaveOutGetNumDevs();
  std::printf("devices %u\n", count);
  for (uint32_t id = 0; id < count; ++id) {
    char name[32];
    if (platform::CurrentWaveOutApi().GetDeviceName(id, name) == platform::kWaveOk)
      std::printf("device %u %s\n", id, name);
  }
  std::fflush(stdout);
  Mixer* mixer = new Mixer(platform::kWaveMapper);
  platform::SleepMs(500);
  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();
  delete mixer;
  std::printf("stopped\n");
  return 0;
}
