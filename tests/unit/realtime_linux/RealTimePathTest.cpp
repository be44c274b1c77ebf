// The real-time path under load, on a private JACK server: the audio
// callback and the Mixer's refill (the code inside platform::RealTimeScope)
// neither touch the heap nor take any lock but Mixer::Lock; and a standard
// error that nobody reads neither stops the refills nor Stop, while its lost
// lines are counted exactly.
//
// This executable has the real-time counter linked in
// (support/RealTimeCounter.cpp), counting the calls made inside a
// RealTimeScope by every library in the process (libjack, libsamplerate,
// libstdc++). Sanitizers bring their own allocator, so there the counter is
// left out and its test skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Instrument.h"
#include "engine/Mixer.h"
#include "engine/PitchTable.h"
#include "platform/RealTime.h"
#include "platform/Thread.h"
#include "platform/WaveOut.h"
#include "support/JackRecorder.h"
#include "support/JackServer.h"
#include "support/LogCapture.h"
#include "support/MixerPeer.h"
#include "support/RealTimeCounter.h"
#include "support/doubles/SleepMs.h"

namespace {

using platform::WaveOutApi;

uint32_t JackSystemDevice() {
  WaveOutApi& api = platform::NativeWaveOutApi();
  const uint32_t count = api.GetNumDevs();
  for (uint32_t id = 0; id < count; ++id) {
    char name[32];
    if (api.GetDeviceName(id, name) == platform::kWaveOk && std::strcmp(name, "JACK: system") == 0)
      return id;
  }
  return platform::kWaveMapper;
}

int32_t Voices(Mixer& mixer) {
  mixer.Lock();
  const int32_t count = mixer.VoiceCount();
  mixer.Unlock();
  return count;
}

// Ten seconds of 256 voices at once, on a server at 48000 (so the rate
// conversion runs too): whenever voices end, new ones take their places, some
// released at once so that fades end and voices leave in every refill.
TEST(RealTimePath, TenSecondsOf256VoicesNeitherAllocateNorWait) {
#if !defined(PELVANE_RTCOUNT)
  GTEST_SKIP() << "a sanitizer's allocator cannot be counted";
#else
  const PelvaneRtCountFilter inScope = [] { return int(platform::InRealTimeScope()); };
  // The counter counts: a scope on this thread sees its own calls.
  pelvane_rtcount_start(inScope);
  {
    platform::RealTimeScope scope;
    void* volatile block = std::malloc(16);  // volatile: the pair is not optimised away
    std::free(block);
  }
  ASSERT_EQ(pelvane_rtcount_stop().heap, 2);

  JackServer server(256, 48000);
  ASSERT_TRUE(server.Ready()) << "the JACK server did not start";
  BuildPitchTable();
  Instrument instrument;
  instrument.MakeDefault();
  LogCapture log;
  const uint32_t device = JackSystemDevice();
  ASSERT_NE(device, platform::kWaveMapper);
  auto mixer = std::make_unique<Mixer>(device);
  ASSERT_TRUE(log.WaitFor("Wave out opened"));
  // Mixer::Lock is the one lock the refill takes: a pthread mutex at the
  // start of the Lock's storage, with priority inheritance (glibc marks such
  // a mutex with PTHREAD_MUTEX_PRIO_INHERIT_NP, 32, in its kind), the
  // program's only such mutex; the counter counts every other one apart.
  auto* mixerLock = reinterpret_cast<pthread_mutex_t*>(&MixerPeer::Lock(*mixer));
  EXPECT_NE(mixerLock->__data.__kind & 32, 0);
  pelvane_rtcount_start(inScope);

  int32_t peak = 0, started = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
    mixer->Lock();
    while (mixer->VoiceCount() < MIXER_MAX_VOICES) {
      Voice* voice = mixer->StartVoice(40 + started % 48, started % 16, 100, 100, &instrument);
      if (!voice) break;
      if (started % 5 == 0) {
        voice->state = VOICE_RELEASING;
        voice->releaseCounter = VOICE_RELEASE_FRAMES;
      }
      ++started;
    }
    peak = std::max(peak, mixer->VoiceCount());
    mixer->Unlock();
    platform::SleepMs(20);
  }
  const PelvaneRtCounts counts = pelvane_rtcount_stop();
  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();

  EXPECT_EQ(peak, MIXER_MAX_VOICES);
  EXPECT_GT(started, 2 * MIXER_MAX_VOICES) << "voices ended and were replaced";
  // About 430 refills and as many buffers ended in ten seconds (the audio
  // callback wakes the relay thread with a semaphore once a buffer ends:
  // proof that the callback ran inside its scope).
  const long otherLocks = counts.locks + counts.tryLocks;
  EXPECT_GT(counts.piLocks, 100);
  EXPECT_GT(counts.posts, 100);
  std::printf(
      "%d voices started; in the real-time scopes %ld refills, %ld buffers ended, %ld heap calls, "
      "%ld other locks\n",
      started, counts.piLocks, counts.posts, counts.heap, otherLocks);
  EXPECT_EQ(counts.heap, 0);
  EXPECT_EQ(otherLocks, 0);
#endif
}

// Standard error as a pipe whose buffer is full and that nobody reads: every
// log line must then wait in the output's queue or be dropped. A note plays
// on while the log is flooded from under Mixer::Lock (every StartVoice for a
// note without a sample logs there); it is heard without a gap, and Stop
// completes. Once the pipe is read again, the lines kept come out in order
// and one line tells exactly how many were dropped.
TEST(RealTimePath, StalledStandardErrorStopsNeitherRefillsNorStop) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const int savedError = dup(2);
  fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
  const std::string filler = "filler\n";
  size_t fillerLines = 0;
  while (write(pipeEnds[1], filler.data(), filler.size()) == ssize_t(filler.size())) ++fillerLines;
  fcntl(pipeEnds[1], F_SETFL, 0);
  dup2(pipeEnds[1], 2);
  struct Restore {
    int saved;
    ~Restore() { dup2(saved, 2); }
  } restore{savedError};

  LogCapture log;
  JackServer server(256);
  ASSERT_TRUE(server.Ready()) << "the JACK server did not start";
  JackRecorder recorder(44100 * 20);
  ASSERT_TRUE(recorder.Ok());
  BuildPitchTable();
  Instrument tone, silent;
  tone.MakeDefault();
  const uint32_t device = JackSystemDevice();
  ASSERT_NE(device, platform::kWaveMapper);
  auto mixer = std::make_unique<Mixer>(device);
  ASSERT_TRUE(log.WaitFor("Wave out opened"));
  for (int tries = 0; !recorder.Connect("Pelvane:outport 0", "Pelvane:outport 1"); ++tries) {
    ASSERT_LT(tries, 1000);
    platform::SleepMs(10);
  }

  mixer->Lock();
  Voice* note = mixer->StartVoice(64, 0, 100, 100, &tone);
  mixer->Unlock();
  ASSERT_NE(note, nullptr);
  // A flood of 20,000 lines, ten a millisecond, while the note plays: more
  // than twice what the debug output's ring holds, however slowly a loaded or
  // sanitized build logs them, so that lines must be dropped.
  auto flood = std::async(std::launch::async, [&] {
    for (int round = 0; round < 2000; ++round) {
      for (int i = 0; i < 10; ++i) {
        mixer->Lock();
        mixer->StartVoice(30, 1, 100, 100, &silent);
        mixer->Unlock();
      }
      platform::SleepMs(1);
    }
  });
  if (flood.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "logging blocked its caller";
    char chunk[65536];
    while (flood.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      read(pipeEnds[0], chunk, sizeof chunk);
    return;
  }
  mixer->Lock();
  note->state = VOICE_RELEASING;
  note->releaseCounter = VOICE_RELEASE_FRAMES;
  mixer->Unlock();
  for (int waited = 0; Voices(*mixer) > 0 && waited < 20000; waited += 10) platform::SleepMs(10);
  ASSERT_EQ(Voices(*mixer), 0);
  auto stopped = std::async(std::launch::async, [&] {
    mixer->ScheduleShutdown();
    mixer->WaitForShutdown();
  });
  ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "Stop did not complete";

  // The note from its first frame to its release: never silent in both
  // channels for more than a frame (the tone is a sine of 2047 at this gain).
  size_t first = 0, last = 0, gap = 0, longestGap = 0;
  for (size_t f = 0; f < recorder.Frames(); ++f)
    if (recorder.At(f, 0) != 0 || recorder.At(f, 1) != 0) (first == 0 ? first : last) = f;
  ASSERT_GT(last, first + 44100 / 2);
  for (size_t f = first; f + VOICE_RELEASE_FRAMES < last; ++f) {
    gap = (recorder.At(f, 0) == 0 && recorder.At(f, 1) == 0) ? gap + 1 : 0;
    longestGap = std::max(longestGap, gap);
  }
  EXPECT_LE(longestGap, 1u) << "the refills fell behind";

  // Read the pipe until the loss has been told.
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
  while (text.find("lines lost while standard error was not being read\n") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    char chunk[65536];
    ssize_t got = read(pipeEnds[0], chunk, sizeof chunk);
    if (got > 0)
      text.append(chunk, size_t(got));
    else
      platform::SleepMs(5);
  }
  std::vector<std::string> written;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) written.push_back(line);
  ASSERT_GT(written.size(), fillerLines);
  for (size_t i = 0; i < fillerLines; ++i) ASSERT_EQ(written[i], "filler");
  written.erase(written.begin(), written.begin() + long(fillerLines));
  ASSERT_FALSE(written.empty());
  const std::string report = written.back();
  written.pop_back();

  // Every line logged reached the capture; those written are its first ones,
  // in order, whole.
  std::vector<std::string> logged;
  for (const std::string& entry : log.Raw())
    if (entry != "\n") logged.push_back(entry);
  ASSERT_LT(written.size(), logged.size()) << "some lines must have been dropped";
  for (size_t i = 0; i < written.size(); ++i) ASSERT_EQ(written[i], logged[i]) << "line " << i;
  const size_t lost = logged.size() - written.size();
  EXPECT_EQ(report.substr(12), "Debug output: " + std::to_string(lost) +
                                   " lines lost while standard error was not being read");
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

}  // namespace
