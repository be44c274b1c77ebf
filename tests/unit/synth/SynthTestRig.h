// What a running Synthesizer needs around it in a test: a temporary working
// folder, virtual MIDI ports ("Keys" in, "Echo" and "Thru" out), a virtual
// wave device that returns no buffer unless told (so voices keep the state
// the messages gave them), the default instrument in slot 128 and a "Piano"
// in slot 5 that maps notes 40 to 80 only; and the log.
#pragma once
#include <gtest/gtest.h>

#include <cstring>

#include "engine/InstrumentTable.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/doubles/VirtualMidi.h"
#include "support/doubles/VirtualWaveOut.h"
#include "synth/DumpFile.h"
#include "synth/Synthesizer.h"

constexpr int32_t kPianoSlot = 5;

class SynthTestRig : public ::testing::Test {
 protected:
  SynthTestRig() : midi_({"Keys"}, {"Echo", "Thru"}) {
    platform::InstallMidiApi(&midi_);
    platform::InstallWaveOutApi(&wave_);
    auto* tone = new Instrument;
    tone->MakeDefault();
    tone->name.reset(Copy("Default"));
    InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = tone;
    auto* piano = new Instrument;
    piano->MakeDefault();
    piano->name.reset(Copy("Piano"));
    for (int32_t note = 0; note < 128; ++note)
      piano->noteMap[note] = (note >= 40 && note <= 80) ? 0 : -1;
    InstrumentTable[kPianoSlot] = piano;
  }
  ~SynthTestRig() override {
    for (Instrument*& slot : InstrumentTable) {
      delete slot;
      slot = nullptr;
    }
    for (Instrument*& own : ChannelInstrumentTable) {
      delete own;
      own = nullptr;
    }
    platform::InstallWaveOutApi(nullptr);
    platform::InstallMidiApi(nullptr);
  }

  static char* Copy(const char* text) {
    char* copy = new char[std::strlen(text) + 1];
    std::strcpy(copy, text);
    return copy;
  }

  // Voices as (note, channel, state) in list order, read under the lock.
  struct VoiceView {
    int32_t note, channel, velocity, volume, state, releaseCounter;
    Instrument* instrument;
  };
  static std::vector<VoiceView> Voices(Synthesizer& synth) {
    std::vector<VoiceView> views;
    synth.GetMixer()->Lock();
    for (int32_t k = 0; k < synth.GetMixer()->VoiceCount(); ++k) {
      Voice* v = synth.GetMixer()->VoiceAt(k);
      views.push_back({v->note, v->channel, v->velocity, v->volume, v->state, v->releaseCounter,
                       v->instrument});
    }
    synth.GetMixer()->Unlock();
    return views;
  }

  LogCapture log_;  // first: outlives every thread that logs
  TempFolder folder_;
  platform::VirtualMidi midi_;
  platform::VirtualWaveOut wave_;
};
