// Start and Stop of the main window: the three device ids come from the
// selected entries' item data, -1 where nothing is selected; Stop always
// logs its line first.
#include "SynthTestRig.h"
#include "app/MainWindow.h"
#include "support/FakeWidgets.h"
#include "support/MixerPeer.h"
#include "support/SynthesizerPeer.h"
#include "support/doubles/SleepMs.h"

namespace {

class StartStop : public SynthTestRig {
 protected:
  StartStop() {
    wave_.SetDeviceNames({"Speakers", "Headphones"});
    window_ = new MainWindow(widgets_);
  }
  ~StartStop() override {
    // The log lines posted to the window are its to free: show them first.
    widgets_.PostQuit();
    widgets_.RunMessageLoop();
    delete window_;
  }

  // Selects the entry whose item data is id; -1 selects nothing.
  void Choose(Widget list, intptr_t id) {
    int index = -1;
    for (size_t i = 0; i < widgets_.Get(list).items.size(); ++i)
      if (widgets_.Get(list).items[i].data == id) index = static_cast<int>(i);
    widgets_.ComboSetSelection(list, index);
  }

  FakeWidgets widgets_;
  MainWindow* window_;
};

TEST_F(StartStop, TheSelectedEntriesDataAreTheDeviceIds) {
  Choose(window_->waveOutList, 1);
  Choose(window_->midiInList, 0);
  Choose(window_->midiEchoList, 1);
  window_->StartSynthesizer();
  Synthesizer* synth = window_->synthesizer.get();
  ASSERT_NE(synth, nullptr);
  EXPECT_EQ(MixerPeer::DeviceId(*synth->GetMixer()), 1u);
  EXPECT_EQ(MidiInPeer::DeviceId(*SynthesizerPeer::Input(*synth)), 0);
  ASSERT_NE(SynthesizerPeer::Echo(*synth), nullptr);
  EXPECT_EQ(SynthesizerPeer::Echo(*synth)->deviceId, 1);
  ASSERT_TRUE(midi_.WaitInputStarted(0, 5000));
  EXPECT_TRUE(midi_.OutputOpen(1));
  EXPECT_FALSE(midi_.OutputOpen(0));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"dump0001.pvd"}));
  // Start is offered only while stopped; a stray one changes nothing.
  window_->StartSynthesizer();
  EXPECT_EQ(window_->synthesizer.get(), synth);
  EXPECT_EQ(folder_.Names().size(), 1u);

  // The mixer's thread logs "Wave out opened" when the device announces
  // itself, at a moment of its own: only once it has queued its buffers may
  // the log be cleared for Stop's lines.
  ASSERT_TRUE(wave_.WaitForWrites(4, 5000));
  log_.Clear();
  window_->StopSynthesizer();
  EXPECT_EQ(window_->synthesizer, nullptr);
  std::vector<std::string> texts = log_.Lines();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0], "Stopping synthesizer, please wait...");
  EXPECT_EQ(log_.Starting("MidiOut: "),
            (std::vector<std::string>{"MidiOut: ScheduleShutdown()", "MidiOut: Shut down"}));
  EXPECT_FALSE(midi_.OutputOpen(1));
  EXPECT_FALSE(midi_.InputOpen(0));
}

TEST_F(StartStop, NothingSelectedMeansMinusOne) {
  for (Widget list : {window_->waveOutList, window_->midiInList, window_->midiEchoList})
    widgets_.ComboSetSelection(list, -1);
  window_->StartSynthesizer();
  ASSERT_NE(window_->synthesizer, nullptr);
  EXPECT_EQ(MixerPeer::DeviceId(*window_->synthesizer->GetMixer()), platform::kWaveMapper);
  EXPECT_EQ(MidiInPeer::DeviceId(*SynthesizerPeer::Input(*window_->synthesizer)), -1);
  EXPECT_EQ(SynthesizerPeer::Echo(*window_->synthesizer), nullptr);
  window_->StopSynthesizer();
  EXPECT_TRUE(log_.Starting("MidiOut: ").empty());
  EXPECT_EQ(midi_.GetCounts().inOpens, 0);
}

TEST_F(StartStop, TheWaveMapperEntryPassesMinusOne) {
  Choose(window_->waveOutList, -1);
  EXPECT_EQ(widgets_.ComboGetSelection(window_->waveOutList), 0);
  window_->StartSynthesizer();
  EXPECT_EQ(MixerPeer::DeviceId(*window_->synthesizer->GetMixer()), platform::kWaveMapper);
  window_->StopSynthesizer();
}

TEST_F(StartStop, StopWithoutASynthesizerLogsOnlyItsLine) {
  log_.Clear();
  window_->StopSynthesizer();
  EXPECT_EQ(log_.Lines(), (std::vector<std::string>{"Stopping synthesizer, please wait..."}));
  EXPECT_EQ(window_->synthesizer, nullptr);
}

TEST_F(StartStop, StartStopStartMakesASecondIndependentRun) {
  window_->StartSynthesizer();
  ASSERT_TRUE(midi_.WaitInputStarted(0, 5000));
  ASSERT_TRUE(midi_.Inject(0, 0x000507C0, 10));  // program 5 on channel 0
  for (int i = 0; i < 2000 && TempFolder::Read("dump0001.pvd").size() < 8; ++i)
    platform::SleepMs(5);
  ASSERT_EQ(TempFolder::Read("dump0001.pvd").size(), 8u);
  window_->StopSynthesizer();
  window_->StartSynthesizer();
  ASSERT_NE(window_->synthesizer, nullptr);
  EXPECT_EQ(SynthesizerPeer::Channels(*window_->synthesizer)[0].program, 0);
  window_->StopSynthesizer();
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"dump0001.pvd", "dump0002.pvd"}));
  EXPECT_EQ(midi_.GetCounts().inOpens, 2);
  EXPECT_EQ(midi_.GetCounts().inCloses, 2);
}

}  // namespace
