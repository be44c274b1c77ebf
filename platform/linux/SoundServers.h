// What the wave output, the MIDI devices and the device watch share about the
// sound servers they ask: the names of our own clients, one rule that tells
// them from everyone else's, quiet libraries, and whether PulseAudio may be
// asked at all.
#pragma once
#include <string>

namespace platform {

// The clients this program opens. The wave output's JACK client, and so the
// prefix of our output ports ("Pelvane:outport 0"), also names its PulseAudio
// and ALSA streams.
constexpr const char* kOutputClientName = "Pelvane";
// Every MIDI port we create. It differs from the wave output's, so that name
// stays the audio's whatever order the clients open in.
constexpr const char* kMidiClientName = "Pelvane MIDI";
// The device watch's JACK client, ALSA sequencer client and PulseAudio context.
constexpr const char* kWatchClientName = "Pelvane watch";
// A short-lived client that only lists (JackClient::WithLister, the
// PulseAudio sink question): never activated, no ports.
constexpr const char* kListClientName = "Pelvane list";

// Any thread. Whether a JACK port name ("client:port"), an RtMidi port name
// (the client's name first, then ':') or an ALSA sequencer client name
// belongs to one of our clients above, also as JACK makes a clashing name
// unique ("Pelvane-01", "Pelvane MIDI-02"). The device watch never counts
// them as a change, and the MIDI lists never show them, so the synthesizer
// can never be wired to itself (its echo output feeding its own input would
// loop for ever).
bool IsOwnClient(const std::string& name);

// Any thread, once per process. libjack reports every failed connection on
// standard error, and alsa-lib every missing card; looking for a server or a
// card that is not there is normal here, so those lines are dropped.
// SilenceJack quiets libjack alone (the MIDI devices).
void SilenceLibraries();
void SilenceJack();

// Any thread. Asked without a server, libpulse may start a PulseAudio daemon
// of its own; a synthesizer should not, so PulseAudio is asked only when a
// server (or PipeWire's PulseAudio service) is already listening.
bool PulseServerListening();

}  // namespace platform
