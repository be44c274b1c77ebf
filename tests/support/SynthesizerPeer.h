// The tests' view of a Synthesizer's parts and channel state, which the
// program never reaches.
#pragma once
#include "support/MidiInPeer.h"
#include "synth/Synthesizer.h"

struct SynthesizerPeer {
  static MidiIn* Input(Synthesizer& synth) { return synth.midiIn.get(); }
  static MidiOut* Echo(Synthesizer& synth) { return synth.midiOut.get(); }
  static platform::FileHandle& DumpFile(Synthesizer& synth) { return synth.dumpFile; }
  static ChannelState (&Channels(Synthesizer& synth))[MIDI_CHANNEL_COUNT] { return synth.channels; }
};
