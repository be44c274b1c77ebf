// One run of the instrument, from Start to Stop: the mixer, the optional echo
// output, the MIDI input and the dump file, and the state of the sixteen MIDI
// channels. Every incoming message is echoed, recorded, then interpreted, on
// the MidiIn thread.
#pragma once
#include <cstdint>
#include <memory>

#include "engine/Mixer.h"
#include "platform/File.h"
#include "synth/MidiIn.h"
#include "synth/MidiOut.h"

constexpr int32_t MIDI_CHANNEL_COUNT = 16;
constexpr int32_t CONTROLLER_VOLUME = 7;
constexpr int32_t CONTROLLER_SUSTAIN = 64;
// Both act on looped voices only, which never end by themselves; voices
// that play their sample once are not touched.
constexpr int32_t CONTROLLER_ALL_SOUND_OFF = 120;
constexpr int32_t CONTROLLER_ALL_NOTES_OFF = 123;

// Thread: midi-in once the synthesizer is constructed (the replaying
// caller's for a synthesizer without input).
struct ChannelState {
  int32_t program = 0;
  int32_t volume = 100;
  bool sustain = false;
};

class Synthesizer {
 public:
  // Thread: ui. Builds the mixer, then the echo output (none for
  // echo id -1), then the MIDI input, last; takes the dump file (may be
  // platform::kNoFile). Never fails: a part without its device works without.
  // A part that finds no memory is one log line: without the mixer the run
  // has no input either; without the echo output or the input it goes on
  // without them.
  Synthesizer(uint32_t waveDeviceId, int32_t midiInDeviceId, int32_t echoDeviceId,
              platform::FileHandle dumpFile);
  // Thread: ui (the render's driving thread). For replaying messages on the
  // calling thread: no MIDI input, no echo, no
  // dump file, and the mixer handles its device on this thread too (the
  // caller hands it HandleMidiMessage and Mixer::DispatchQueued in turn,
  // and gives up when there is no mixer for want of memory).
  explicit Synthesizer(uint32_t waveDeviceId, MixerThread mixerThread);
  // Thread: ui. Shutdown, then frees the parts; closes the dump file last.
  ~Synthesizer();
  Synthesizer(const Synthesizer&) = delete;
  Synthesizer& operator=(const Synthesizer&) = delete;

  // Thread: ui. Asks every part to stop, then waits for each.
  void Shutdown();

  // Thread: midi-in. The MidiInHandler given to MidiIn; userData is the
  // synthesizer.
  static void MidiInputCallback(void* userData, uint32_t message, uint32_t timeStamp);
  // Thread: midi-in, or the replaying caller's (ui). Echoes, records, then
  // interprets one message; takes Mixer::Lock itself, around its voice work
  // only.
  void HandleMidiMessage(uint32_t message, uint32_t timeStamp);

  // Thread: ui. The run's mixer, null when there was no memory for it: a
  // replaying caller dispatches its device's notifications.
  Mixer* GetMixer() const { return mixer.get(); }

 private:
  friend struct SynthesizerPeer;  // the tests' view of the parts and channels

  // Thread: midi-in (HandleMidiMessage's). Its handlers.
  void SustainOff(int32_t channel);
  void SetChannelVolume(int32_t channel, int32_t value);
  // Controller 123: every playing looped voice of the channel is released as
  // a note-off would release it (sustained while the pedal is down).
  void AllNotesOff(int32_t channel);
  // Controller 120: every looped voice of the channel ends at once.
  void AllSoundOff(int32_t channel);

  // The destructor releases them itself, MidiIn first, then MidiOut, then
  // Mixer, and closes the dump file after them: not in the members' order.
  std::unique_ptr<Mixer> mixer;
  std::unique_ptr<MidiIn> midiIn;
  std::unique_ptr<MidiOut> midiOut;
  platform::FileHandle dumpFile = platform::kNoFile;
  ChannelState channels[MIDI_CHANNEL_COUNT];

  void NoteOff(int32_t note, int32_t channel);
  void NoteOn(int32_t note, int32_t channel, int32_t velocity);
  bool shutDown_ = false;
  // Thread: midi-in. A write to the dump file failed; nothing more is written,
  // so the file ends with its last whole record.
  bool dumpFailed_ = false;
};
