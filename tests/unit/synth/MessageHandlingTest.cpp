// Synthesizer::HandleMidiMessage called directly, as the MidiIn thread would,
// on a synthesizer whose wave device returns no buffers: voices keep exactly
// the state the messages gave them.
#include "SynthTestRig.h"
#include "support/SynthesizerPeer.h"

namespace {

using Bytes = std::vector<unsigned char>;

class MessageHandling : public SynthTestRig {
 protected:
  MessageHandling() : synth_(new Synthesizer(0, 0, 0, CreateDumpFile())) {
    // The threads' own start-up lines come first, so the lines a test sees
    // afterwards are those of its messages.
    EXPECT_TRUE(midi_.WaitInputStarted(0, 5000));
    EXPECT_TRUE(log_.WaitFor("Midi-In successfully opened"));
    EXPECT_TRUE(log_.WaitFor("Wave out opened"));
  }
  ~MessageHandling() override { delete synth_; }

  void Send(uint32_t word, uint32_t timeStamp = 0) { synth_->HandleMidiMessage(word, timeStamp); }
  static uint32_t Word(int status, int data1, int data2) {
    return static_cast<uint32_t>(status | data1 << 8 | data2 << 16);
  }
  std::vector<VoiceView> Voices() { return SynthTestRig::Voices(*synth_); }
  // Lets the test put a voice into a state no message reaches directly.
  void SetState(int32_t slot, int32_t state, int32_t releaseCounter) {
    synth_->GetMixer()->Lock();
    synth_->GetMixer()->VoiceAt(slot)->state = state;
    synth_->GetMixer()->VoiceAt(slot)->releaseCounter = releaseCounter;
    synth_->GetMixer()->Unlock();
  }
  std::vector<std::string> MidiLines() { return log_.Starting("Midi-In: "); }

  Synthesizer* synth_;
};

TEST_F(MessageHandling, ChannelsStartAtProgram0Volume100PedalUp) {
  for (const ChannelState& channel : SynthesizerPeer::Channels(*synth_)) {
    EXPECT_EQ(channel.program, 0);
    EXPECT_EQ(channel.volume, 100);
    EXPECT_FALSE(channel.sustain);
  }
  EXPECT_NE(SynthesizerPeer::Echo(*synth_), nullptr);
  EXPECT_NE(SynthesizerPeer::DumpFile(*synth_), platform::kNoFile);
}

TEST_F(MessageHandling, NoteOnStartsAVoiceAndNoteOffReleasesIt) {
  Send(0x00643C90);
  std::vector<VoiceView> voices = Voices();
  ASSERT_EQ(voices.size(), 1u);
  EXPECT_EQ(voices[0].note, 60);
  EXPECT_EQ(voices[0].channel, 0);
  EXPECT_EQ(voices[0].velocity, 100);
  EXPECT_EQ(voices[0].volume, 100);
  EXPECT_EQ(voices[0].state, VOICE_PLAYING);
  EXPECT_EQ(voices[0].instrument, InstrumentTable[DEFAULT_INSTRUMENT_SLOT]);

  Send(Word(0x80, 60, 64));
  voices = Voices();
  ASSERT_EQ(voices.size(), 1u);
  EXPECT_EQ(voices[0].state, VOICE_RELEASING);
  EXPECT_EQ(voices[0].releaseCounter, 2048);
  EXPECT_EQ(MidiLines(), (std::vector<std::string>{"Midi-In: Note ON (60, vel. 100)",
                                                   "Midi-In: Note OFF (60, vel. 64)"}));
  // A second note-off finds no playing voice: only its line.
  Send(Word(0x80, 60, 0));
  EXPECT_EQ(Voices()[0].releaseCounter, 2048);
  EXPECT_EQ(MidiLines().back(), "Midi-In: Note OFF (60, vel. 0)");
}

TEST_F(MessageHandling, VelocityZeroIsANoteOffLoggedAsNoteOn) {
  Send(Word(0x90, 60, 100));
  Send(Word(0x90, 60, 0));
  EXPECT_EQ(Voices()[0].state, VOICE_RELEASING);
  EXPECT_EQ(Voices()[0].releaseCounter, 2048);
  EXPECT_EQ(Voices().size(), 1u);
  EXPECT_EQ(MidiLines(), (std::vector<std::string>{"Midi-In: Note ON (60, vel. 100)",
                                                   "Midi-In: Note ON (60, vel. 0)"}));
}

TEST_F(MessageHandling, TheSameNoteTwiceSoundsTwiceAndOneNoteOffReleasesTheFirst) {
  Send(Word(0x90, 60, 100));
  Send(Word(0x91, 60, 90));  // same note, other channel: never found for channel 0
  Send(Word(0x90, 60, 80));
  Send(Word(0x80, 60, 0));
  std::vector<VoiceView> voices = Voices();
  ASSERT_EQ(voices.size(), 3u);
  EXPECT_EQ(voices[0].state, VOICE_RELEASING);
  EXPECT_EQ(voices[1].state, VOICE_PLAYING);
  EXPECT_EQ(voices[2].state, VOICE_PLAYING);
  Send(Word(0x80, 60, 0));
  EXPECT_EQ(Voices()[2].state, VOICE_RELEASING);
  EXPECT_EQ(Voices()[1].state, VOICE_PLAYING);
}

TEST_F(MessageHandling, SustainPedalHoldsReleasedNotesAndLetsGoOfOnlyThoseOfItsChannel) {
  Send(Word(0x90, 60, 100));  // 0: ch 0, will be sustained
  Send(Word(0x90, 62, 100));  // 1: ch 0, key still held
  Send(Word(0x91, 64, 100));  // 2: ch 1, sustained on its own channel
  Send(Word(0x90, 65, 100));  // 3: ch 0, already releasing before the pedal
  Send(Word(0x80, 65, 0));
  SetState(3, VOICE_RELEASING, 1000);

  // Value 1 already puts the pedal down; pressing it changes no voice.
  Send(Word(0xB0, 64, 1));
  Send(Word(0xB1, 64, 127));
  EXPECT_TRUE(SynthesizerPeer::Channels(*synth_)[0].sustain);
  EXPECT_TRUE(SynthesizerPeer::Channels(*synth_)[1].sustain);
  EXPECT_FALSE(SynthesizerPeer::Channels(*synth_)[2].sustain);
  EXPECT_EQ(Voices()[0].state, VOICE_PLAYING);

  Send(Word(0x80, 60, 0));
  Send(Word(0x81, 64, 0));
  std::vector<VoiceView> voices = Voices();
  EXPECT_EQ(voices[0].state, VOICE_SUSTAINED);
  EXPECT_EQ(voices[0].releaseCounter, 0);
  EXPECT_EQ(voices[2].state, VOICE_SUSTAINED);
  // A note-off for a voice already sustained finds nothing.
  Send(Word(0x80, 60, 0));
  EXPECT_EQ(Voices()[0].state, VOICE_SUSTAINED);

  Send(Word(0xB0, 64, 0));
  voices = Voices();
  EXPECT_FALSE(SynthesizerPeer::Channels(*synth_)[0].sustain);
  EXPECT_EQ(voices[0].state, VOICE_RELEASING);
  EXPECT_EQ(voices[0].releaseCounter, 2048);
  EXPECT_EQ(voices[1].state, VOICE_PLAYING);
  EXPECT_EQ(voices[2].state, VOICE_SUSTAINED);
  EXPECT_EQ(voices[3].state, VOICE_RELEASING);
  EXPECT_EQ(voices[3].releaseCounter, 1000);
  EXPECT_TRUE(SynthesizerPeer::Channels(*synth_)[1].sustain);

  // With the pedal up again, a note-off releases at once.
  Send(Word(0x80, 62, 0));
  EXPECT_EQ(Voices()[1].state, VOICE_RELEASING);
  // Controller lines are not logged.
  EXPECT_EQ(log_.Starting("Midi-In: Note").size(), MidiLines().size());
}

TEST_F(MessageHandling, Controller7SetsEveryVoiceOfTheChannelInEveryStateAndLaterOnes) {
  for (int note : {60, 61, 62, 63}) Send(Word(0x92, note, 100));
  Send(Word(0x93, 60, 100));
  SetState(1, VOICE_SUSTAINED, 0);
  SetState(2, VOICE_RELEASING, 2048);
  SetState(3, VOICE_FINISHED, 0);

  Send(Word(0xB2, 7, 30));
  std::vector<VoiceView> voices = Voices();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(voices[k].volume, 30) << "slot " << k;
  EXPECT_EQ(voices[4].volume, 100);
  EXPECT_EQ(SynthesizerPeer::Channels(*synth_)[2].volume, 30);
  EXPECT_EQ(SynthesizerPeer::Channels(*synth_)[3].volume, 100);
  EXPECT_EQ(voices[1].state, VOICE_SUSTAINED);

  Send(Word(0x92, 70, 100));
  Send(Word(0x93, 70, 100));
  voices = Voices();
  EXPECT_EQ(voices[5].volume, 30);
  EXPECT_EQ(voices[6].volume, 100);
  // Zero silences without ending.
  Send(Word(0xB2, 7, 0));
  EXPECT_EQ(Voices()[0].volume, 0);
  EXPECT_EQ(Voices()[0].state, VOICE_PLAYING);
}

TEST_F(MessageHandling, ProgramChangeChoosesTheInstrumentOfLaterNotesOnly) {
  Send(Word(0xC4, kPianoSlot, 0));
  EXPECT_EQ(SynthesizerPeer::Channels(*synth_)[4].program, kPianoSlot);
  Send(Word(0x94, 60, 100));
  // Program 6 has no instrument: the default plays; the piano voice stays.
  Send(Word(0xC4, 6, 0));
  Send(Word(0x94, 61, 100));
  // The piano has no sample for note 30: its refusal, no voice.
  Send(Word(0xC4, kPianoSlot, 0));
  Send(Word(0x94, 30, 100));
  std::vector<VoiceView> voices = Voices();
  ASSERT_EQ(voices.size(), 2u);
  EXPECT_EQ(voices[0].instrument, InstrumentTable[kPianoSlot]);
  EXPECT_EQ(voices[1].instrument, InstrumentTable[DEFAULT_INSTRUMENT_SLOT]);
  EXPECT_EQ(log_.Lines().back(),
            "  Request has been made for an unassigned sample (note 30, channel 4, "
            "instrument 'Piano')");
  EXPECT_EQ(SynthesizerPeer::Channels(*synth_)[0].program, 0);
}

TEST_F(MessageHandling, WithoutAnyInstrumentNotesAreIgnoredSilently) {
  delete InstrumentTable[DEFAULT_INSTRUMENT_SLOT];
  InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = nullptr;
  Send(Word(0x90, 60, 100));
  EXPECT_TRUE(Voices().empty());
  EXPECT_EQ(MidiLines(), (std::vector<std::string>{"Midi-In: Note ON (60, vel. 100)"}));
  EXPECT_TRUE(log_.Starting("  Request").empty());
}

TEST_F(MessageHandling, Status9FAddressesChannel15) {
  Send(Word(0x9F, 60, 100));
  ASSERT_EQ(Voices().size(), 1u);
  EXPECT_EQ(Voices()[0].channel, 15);
  Send(Word(0x8F, 60, 0));
  EXPECT_EQ(Voices()[0].state, VOICE_RELEASING);
}

TEST_F(MessageHandling, OtherKindsAreEchoedAndRecordedOnly) {
  Send(Word(0x90, 60, 100));
  const std::vector<uint32_t> others = {
      Word(0xA0, 60, 20), Word(0xD0, 50, 0),  Word(0xE0, 0, 0x7F), Word(0xF0, 1, 2),
      Word(0xF8, 0, 0),   Word(0xFF, 0, 0),   Word(0x10, 60, 0),   Word(0x7F, 7, 0),
      Word(0xB0, 121, 0), Word(0xB0, 123, 0), Word(0xB0, 10, 64),  Word(0xB0, 63, 127)};
  log_.Clear();
  for (uint32_t word : others) Send(word, 9);
  EXPECT_TRUE(log_.Lines().empty());
  std::vector<VoiceView> voices = Voices();
  ASSERT_EQ(voices.size(), 1u);
  EXPECT_EQ(voices[0].state, VOICE_PLAYING);
  EXPECT_EQ(voices[0].volume, 100);
  for (const ChannelState& channel : SynthesizerPeer::Channels(*synth_)) {
    EXPECT_EQ(channel.program, 0);
    EXPECT_EQ(channel.volume, 100);
    EXPECT_FALSE(channel.sustain);
  }
  std::vector<uint32_t> echoed = midi_.Sent(0);
  ASSERT_EQ(echoed.size(), others.size() + 1);
  EXPECT_TRUE(std::equal(others.begin(), others.end(), echoed.begin() + 1));
  delete synth_;
  synth_ = nullptr;
  EXPECT_EQ(TempFolder::Read("dump0001.pvd").size(), 8 * (others.size() + 1));
}

// Data bytes of 128 and above never reach outside the instruments or a note
// map: a program beyond the table is an empty slot, a note beyond 127 has no
// sample, and the values are otherwise taken as they come.
TEST_F(MessageHandling, MalformedDataBytesStaySafe) {
  Send(0x00FFC8C0);  // program 200
  EXPECT_EQ(SynthesizerPeer::Channels(*synth_)[0].program, 200);
  Send(Word(0x90, 64, 255));
  Send(Word(0x90, 200, 100));
  Send(Word(0x80, 200, 255));
  Send(Word(0xB0, 7, 255));
  Send(Word(0xC1, 128, 0));
  Send(Word(0x91, 64, 100));
  std::vector<VoiceView> voices = Voices();
  ASSERT_EQ(voices.size(), 2u);
  EXPECT_EQ(voices[0].instrument, InstrumentTable[DEFAULT_INSTRUMENT_SLOT]);
  EXPECT_EQ(voices[0].velocity, 255);
  EXPECT_EQ(voices[0].volume, 255);
  EXPECT_EQ(voices[1].instrument, InstrumentTable[DEFAULT_INSTRUMENT_SLOT]);
  EXPECT_EQ(MidiLines(),
            (std::vector<std::string>{
                "Midi-In: Note ON (64, vel. 255)", "Midi-In: Note ON (200, vel. 100)",
                "Midi-In: Note OFF (200, vel. 255)", "Midi-In: Note ON (64, vel. 100)"}));
  EXPECT_EQ(log_.Starting("  Request has been made").size(), 1u);
}

TEST_F(MessageHandling, AFailedDumpWriteIsOneLineAndTheMessagesGoOn) {
  // A handle that cannot be written stands in for a full disk.
  platform::FileClose(SynthesizerPeer::DumpFile(*synth_));
  TempFolder::Touch("full.pvd");
  SynthesizerPeer::DumpFile(*synth_) = platform::FileOpenRead("full.pvd");
  ASSERT_NE(SynthesizerPeer::DumpFile(*synth_), platform::kNoFile);
  Send(Word(0x90, 60, 100));
  Send(Word(0x90, 62, 100));
  Send(Word(0x80, 60, 0));
  const std::vector<std::string> lines = log_.Starting("Dump file: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Dump file: write failed (GLE = ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("), the rest of this run is not recorded"), std::string::npos)
      << lines[0];
  const std::vector<VoiceView> voices = Voices();
  ASSERT_EQ(voices.size(), 2u);
  EXPECT_EQ(voices[0].state, VOICE_RELEASING);
  EXPECT_EQ(voices[1].state, VOICE_PLAYING);
  EXPECT_EQ(MidiLines().size(), 3u);
}

}  // namespace

namespace {

// An instrument of the built-in tone under another name; its sample loops
// frames 1000 to 9999 and fades over 4410 frames (100 ms) when loop is set.
Instrument* Tone(const char* name, bool loop) {
  auto* instrument = new Instrument;
  instrument->MakeDefault();
  instrument->name.reset(new char[std::strlen(name) + 1]);
  std::strcpy(instrument->name.get(), name);
  if (loop) {
    Sample& sample = *instrument->samples[0];
    sample.loopMode = SAMPLE_LOOP_CONTINUOUS;
    sample.loopStart = 1000;
    sample.loopEnd = 9999;
    sample.releaseFrames = 4410;
  }
  return instrument;
}

TEST_F(MessageHandling, AChannelInstrumentPlaysEveryNoteOfItsChannelWhateverItsProgram) {
  ChannelInstrumentTable[9] = Tone("Drums", false);
  Send(Word(0xC9, kPianoSlot, 0));  // channel 10 selects the piano: no effect
  Send(Word(0x99, 60, 100));
  Send(Word(0xC0, kPianoSlot, 0));  // channel 1 does select it
  Send(Word(0x90, 60, 100));
  Send(Word(0x91, 60, 100));  // channel 2, program 0: the default instrument
  Send(Word(0xC9, 0, 0));
  Send(Word(0x99, 61, 100));
  const std::vector<VoiceView> voices = Voices();
  ASSERT_EQ(voices.size(), 4u);
  EXPECT_EQ(voices[0].instrument, ChannelInstrumentTable[9]);
  EXPECT_EQ(voices[1].instrument, InstrumentTable[kPianoSlot]);
  EXPECT_EQ(voices[2].instrument, InstrumentTable[DEFAULT_INSTRUMENT_SLOT]);
  EXPECT_EQ(voices[3].instrument, ChannelInstrumentTable[9]);
  EXPECT_EQ(SynthesizerPeer::Channels(*synth_)[9].program, 0);  // still recorded
}

TEST_F(MessageHandling, AllNotesOffAndAllSoundOffActOnLoopedVoicesOnly) {
  InstrumentTable[7] = Tone("Strings", true);
  Send(Word(0xC0, 7, 0));
  Send(Word(0xC1, 7, 0));
  Send(Word(0x90, 60, 100));  // 0: ch 1, looped
  Send(Word(0x91, 61, 100));  // 1: ch 2, looped, held by the pedal below
  Send(Word(0x90, 62, 100));  // 2: ch 1, looped, already released
  Send(Word(0x80, 62, 0));
  Send(Word(0xC0, 0, 0));
  Send(Word(0x90, 63, 100));  // 3: ch 1, the default tone: no loop
  std::vector<VoiceView> voices = Voices();
  ASSERT_EQ(voices.size(), 4u);
  // A looped sample's release time counts down from its own frames.
  EXPECT_EQ(voices[2].state, VOICE_RELEASING);
  EXPECT_EQ(voices[2].releaseCounter, 4410);
  SetState(2, VOICE_RELEASING, 3000);

  Send(Word(0xB0, 123, 0));
  Send(Word(0xB1, 64, 127));
  Send(Word(0xB1, 123, 0));
  voices = Voices();
  EXPECT_EQ(voices[0].state, VOICE_RELEASING);
  EXPECT_EQ(voices[0].releaseCounter, 4410);
  EXPECT_EQ(voices[1].state, VOICE_SUSTAINED);  // as a note-off with the pedal down
  EXPECT_EQ(voices[2].releaseCounter, 3000);    // not released again
  EXPECT_EQ(voices[3].state, VOICE_PLAYING);

  Send(Word(0xB0, 120, 0));
  voices = Voices();
  for (int k : {0, 2}) {
    EXPECT_EQ(voices[k].state, VOICE_FINISHED) << k;
    EXPECT_EQ(voices[k].velocity, 0) << k;
  }
  EXPECT_EQ(voices[1].state, VOICE_SUSTAINED);  // another channel
  EXPECT_EQ(voices[3].state, VOICE_PLAYING);
  EXPECT_EQ(voices[3].velocity, 100);
  Send(Word(0xB1, 120, 0));
  EXPECT_EQ(Voices()[1].state, VOICE_FINISHED);
  EXPECT_EQ(log_.Starting("Midi-In: Note").size(), MidiLines().size());
}

}  // namespace
