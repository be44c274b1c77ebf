// pelvane_mixer_note READY_FILE [jack|mapper [HOLD_MS [AFTER_MS]]]
// Plays one note through the Mixer on the JACK device (with "mapper": on
// WAVE_MAPPER, the system's choice, as under Wine): waits until READY_FILE
// exists (the recorder is listening), lets the device play silence for a
// moment, starts note 64 of the default instrument (velocity 100, volume 100)
// under the lock, says "mixer_note: note on" on standard error, holds it
// (500 ms unless told), releases it, waits until the mixer has removed the
// voice, plays silence again (400 ms unless told: longer than the frames the
// device and the server still hold) and stops the mixer.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/Instrument.h"
#include "engine/Mixer.h"
#include "engine/PitchTable.h"
#include "log/Log.h"
#include "platform/Thread.h"
#include "platform/WaveOut.h"
#include "support/doubles/SleepMs.h"
#include "synth/DumpFile.h"

namespace {

bool WaitFor(bool (*done)(void*), void* context, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 10) {
    if (done(context)) return true;
    platform::SleepMs(10);
  }
  return done(context);
}

int32_t VoiceCount(Mixer& mixer) {
  mixer.Lock();
  int32_t count = mixer.VoiceCount();
  mixer.Unlock();
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  LogPlatformNotices();
  const bool mapper = argc >= 3 && std::strcmp(argv[2], "mapper") == 0;
  const int holdMs = argc >= 4 ? std::atoi(argv[3]) : 500;
  const int afterMs = argc == 5 ? std::atoi(argv[4]) : 400;
  if (argc < 2 || argc > 5 || (argc >= 3 && !mapper && std::strcmp(argv[2], "jack") != 0) ||
      holdMs <= 0 || afterMs <= 0) {
    std::fprintf(stderr, "usage: %s READY_FILE [jack|mapper [HOLD_MS [AFTER_MS]]]\n", argv[0]);
    return 2;
  }
  uint32_t device = platform::kWaveMapper;
  for (uint32_t id = 0, count = platform::WaveOutGetNumDevs(); id < count && !mapper; ++id) {
    char name[32];
    if (platform::CurrentWaveOutApi().GetDeviceName(id, name) == platform::kWaveOk &&
        std::strcmp(name, "JACK: system") == 0)
      device = id;
  }
  if (device == platform::kWaveMapper && !mapper) {
    std::fprintf(stderr, "mixer_note: no \"JACK: system\" device\n");
    return 1;
  }
  BuildPitchTable();
  Instrument instrument;
  instrument.MakeDefault();

  Mixer* mixer = new Mixer(device);
  const char* ready = argv[1];
  if (!WaitFor([](void* path) { return platform::FileExists(static_cast<const char*>(path)); },
               const_cast<char*>(ready), 20000)) {
    std::fprintf(stderr, "mixer_note: the recorder never got ready\n");
    return 1;
  }
  platform::SleepMs(400);  // silence before the note

  mixer->Lock();
  Voice* voice = mixer->StartVoice(64, 0, 100, 100, &instrument);
  mixer->Unlock();
  if (!voice) {
    std::fprintf(stderr, "mixer_note: StartVoice refused the note\n");
    return 1;
  }
  std::fprintf(stderr, "mixer_note: note on\n");
  platform::SleepMs(holdMs);
  mixer->Lock();
  voice->state = VOICE_RELEASING;
  voice->releaseCounter = VOICE_RELEASE_FRAMES;
  mixer->Unlock();
  bool removed =
      WaitFor([](void* m) { return VoiceCount(*static_cast<Mixer*>(m)) == 0; }, mixer, 10000);
  platform::SleepMs(afterMs);  // silence after the voice is gone

  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();
  delete mixer;
  if (!removed) {
    std::fprintf(stderr, "mixer_note: the voice was never removed\n");
    return 1;
  }
  return 0;
}
