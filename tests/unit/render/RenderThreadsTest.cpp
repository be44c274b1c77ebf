// A render is one thread: the mixer handles its device on the rendering
// thread, and no thread is started for MIDI input or anything else.
#include <gtest/gtest.h>

#include <algorithm>

#include "ScratchFolder.h"
#include "engine/InstrumentTable.h"
#include "engine/PitchTable.h"
#include "platform/Thread.h"
#include "support/LogCapture.h"
#include "support/doubles/ProcessCounters.h"
#include "tools/Renderer.h"

namespace {

MidiEvent At(uint32_t ms, uint32_t message) { return {uint64_t{ms} * 1000, message, ms}; }

TEST(RenderThreads, TheMixerRunsOnTheRenderingThreadAndNoThreadIsStarted) {
  BuildPitchTable();
  auto* tone = new Instrument;
  tone->MakeDefault();
  InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = tone;
  ScratchFolder folder;
  const std::vector<MidiEvent> events = {At(0, 0x00643C90), At(50, 0x00644090), At(300, 0x00403C80),
                                         At(400, 0x00404080)};
  auto render = [&](const std::string& name, int* mostThreads) {
    Renderer renderer(events, false, Renderer::kDefaultTailMs);
    renderer.SetProgress([mostThreads](uint64_t, uint64_t) {
      *mostThreads = std::max(*mostThreads, platform::ProcessThreadCount());
    });
    WavWriter out;
    EXPECT_TRUE(out.Open(folder.File(name))) << out.Error();
    RenderStats stats;
    std::string error;
    EXPECT_TRUE(renderer.Run(&out, &stats, &error)) << error;
    EXPECT_TRUE(out.Finish()) << out.Error();
    return stats;
  };
  // A first render, so that whatever the system starts once per process
  // (Wine's own helpers) is there before counting.
  int unused = 0;
  render("first.wav", &unused);

  LogCapture log;
  const int before = platform::ProcessThreadCount();
  int most = before;
  const RenderStats stats = render("second.wav", &most);
  EXPECT_EQ(stats.peakVoices, 2);
  EXPECT_GT(stats.frames, 0u);
  EXPECT_EQ(most, before);
  // Device notifications, refills and shutdown all on this thread.
  const uint32_t self = platform::CurrentThreadId();
  int mixerLines = 0;
  for (const LogCapture::Line& line : log.Entries()) {
    EXPECT_EQ(line.thread, self) << line.text;
    mixerLines += line.text == "Wave out opened" || line.text == "Mixer: IsShutdown()";
  }
  EXPECT_EQ(mixerLines, 2);

  for (Instrument*& slot : InstrumentTable) {
    delete slot;
    slot = nullptr;
  }
}

}  // namespace
