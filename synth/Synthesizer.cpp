#include "synth/Synthesizer.h"

#include <new>

#include "engine/InstrumentTable.h"
#include "log/Log.h"
#include "synth/DumpFile.h"

Synthesizer::Synthesizer(uint32_t waveDeviceId, int32_t midiInDeviceId, int32_t echoDeviceId,
                         platform::FileHandle dump) {
  for (int32_t channel = 0; channel < MIDI_CHANNEL_COUNT; ++channel) {
    channels[channel].program = 0;
    channels[channel].volume = 100;
    channels[channel].sustain = false;
  }
  dumpFile = dump;
  mixer.reset(new (std::nothrow) Mixer(waveDeviceId));
  if (!mixer) {
    // Input without a mixer would have nowhere to go.
    LogMessage("Synthesizer: not enough memory for the mixer, this run plays nothing");
    return;
  }
  if (echoDeviceId != -1) {
    midiOut.reset(new (std::nothrow) MidiOut(echoDeviceId));
    if (!midiOut) LogMessage("MidiOut: not enough memory, this run has no echo");
  }
  // Last: from here on HandleMidiMessage may run on the MidiIn thread, and
  // everything it uses is in place.
  midiIn.reset(new (std::nothrow) MidiIn(midiInDeviceId, &Synthesizer::MidiInputCallback, this));
  if (!midiIn) LogMessage("Midi-In: not enough memory, this run has no input");
}

Synthesizer::Synthesizer(uint32_t waveDeviceId, MixerThread mixerThread) {
  mixer.reset(new (std::nothrow) Mixer(waveDeviceId, mixerThread));
  if (!mixer) LogMessage("Synthesizer: not enough memory for the mixer, this run plays nothing");
}

Synthesizer::~Synthesizer() {
  Shutdown();
  midiIn.reset();
  midiOut.reset();
  mixer.reset();
  // Last: the MidiIn thread wrote records into it until WaitStopped returned.
  if (dumpFile != platform::kNoFile) {
    platform::FileClose(dumpFile);
    dumpFile = platform::kNoFile;
  }
}

void Synthesizer::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  // Every part is asked before any is waited for, so the MidiIn and Mixer
  // threads wind down in parallel.
  if (midiIn) midiIn->RequestStop();
  if (mixer) mixer->ScheduleShutdown();
  if (midiOut) midiOut->ScheduleShutdown();
  if (midiIn) midiIn->WaitStopped();
  if (mixer) mixer->WaitForShutdown();
  if (midiOut) midiOut->Shutdown();
}

void Synthesizer::MidiInputCallback(void* userData, uint32_t message, uint32_t timeStamp) {
  static_cast<Synthesizer*>(userData)->HandleMidiMessage(message, timeStamp);
}

void Synthesizer::HandleMidiMessage(uint32_t message, uint32_t timeStamp) {
  // Echo first, then record, so the echo device hears the message as early as
  // possible and the dump holds every message whatever its kind.
  if (midiOut) midiOut->Send(message);
  if (!dumpFailed_ && !WriteDumpRecord(dumpFile, timeStamp, message)) {
    // Once per run: a full disk would otherwise give a line per message.
    dumpFailed_ = true;
    LogFormat("Dump file: write failed (GLE = %d), the rest of this run is not recorded",
              platform::LastError());
  }

  const int32_t status = static_cast<int32_t>(message & 0xFF);
  const int32_t data1 = static_cast<int32_t>((message >> 8) & 0xFF);
  const int32_t data2 = static_cast<int32_t>((message >> 16) & 0xFF);
  const int32_t kind = status & 0xF0;
  const int32_t channel = status & 0x0F;

  switch (kind) {
    case 0x80:
      LogFormat("Midi-In: Note OFF (%d, vel. %d)", data1, data2);
      NoteOff(data1, channel);
      break;
    case 0x90:
      LogFormat("Midi-In: Note ON (%d, vel. %d)", data1, data2);
      if (data2 == 0)
        NoteOff(data1, channel);
      else
        NoteOn(data1, channel, data2);
      break;
    case 0xB0:
      if (data1 == CONTROLLER_VOLUME) {
        SetChannelVolume(channel, data2);
      } else if (data1 == CONTROLLER_SUSTAIN) {
        if (data2 != 0)
          channels[channel].sustain = true;
        else
          SustainOff(channel);
      } else if (data1 == CONTROLLER_ALL_NOTES_OFF) {
        AllNotesOff(channel);
      } else if (data1 == CONTROLLER_ALL_SOUND_OFF) {
        AllSoundOff(channel);
      }
      break;
    case 0xC0:
      channels[channel].program = data1;
      break;
    default:
      break;
  }
}

void Synthesizer::NoteOff(int32_t note, int32_t channel) {
  Mixer::Held held(*mixer);
  if (Voice* voice = mixer->FindVoice(note, channel)) voice->NoteOff(channels[channel].sustain);
}

void Synthesizer::NoteOn(int32_t note, int32_t channel, int32_t velocity) {
  Mixer::Held held(*mixer);
  // An instrument of the channel's own plays whatever program it selected.
  Instrument* instrument = ChannelInstrumentTable[channel & 0x0F];
  // A malformed program byte (128 to 255) indexes past the instruments: it
  // counts as an empty slot, so the default instrument plays.
  const int32_t slot = channels[channel].program & 0xFF;
  if (!instrument) instrument = slot < INSTRUMENT_TABLE_SIZE ? InstrumentTable[slot] : nullptr;
  if (!instrument) instrument = InstrumentTable[DEFAULT_INSTRUMENT_SLOT];
  if (!instrument) return;
  mixer->StartVoice(note, channel, velocity, channels[channel].volume, instrument);
}

void Synthesizer::SustainOff(int32_t channel) {
  Mixer::Held held(*mixer);
  mixer->ForEachVoiceOfChannel(channel, [](Voice& voice) { voice.PedalUp(); });
  channels[channel].sustain = false;
}

void Synthesizer::AllNotesOff(int32_t channel) {
  Mixer::Held held(*mixer);
  const bool pedalDown = channels[channel].sustain;
  mixer->ForEachVoiceOfChannel(channel,
                               [pedalDown](Voice& voice) { voice.AllNotesOff(pedalDown); });
}

void Synthesizer::AllSoundOff(int32_t channel) {
  Mixer::Held held(*mixer);
  mixer->ForEachVoiceOfChannel(channel, [](Voice& voice) { voice.AllSoundOff(); });
}

void Synthesizer::SetChannelVolume(int32_t channel, int32_t value) {
  channels[channel].volume = value;
  Mixer::Held held(*mixer);
  mixer->ForEachVoiceOfChannel(channel, [value](Voice& voice) { voice.volume = value; });
}
