// The three device lists of the Linux backends as one listing, and the
// listing the window reads while the device watch keeps one.
//
// Listing asks every sound and MIDI system in turn, which can take a second
// when many JACK clients come and go; the window must not wait for that. So
// while a device watch runs, the watch's thread makes each listing and hands
// it to the window's thread whole (DeviceWatch.cpp); the backends' GetNumDevs
// calls then only copy the listing kept here. Without a watch (tests, tools,
// the window's first fill) they list on the calling thread, as before.
#pragma once
#include <rtaudio/RtAudio.h>
#include <rtmidi/RtMidi.h>

#include <memory>
#include <string>
#include <vector>

namespace platform {

struct AudioEndpoint {
  RtAudio::Api api;
  unsigned index;               // RtAudio's device number within that API
  std::string system;           // the audio system's own name ("system" for JACK)
  std::string name;             // as listed
  std::vector<unsigned> rates;  // what RtAudio says the device takes
  unsigned preferredRate;
};

struct MidiPort {
  RtMidi::Api api;
  std::string name;  // RtMidi's port name, as listed
};

struct DeviceListing {
  std::vector<AudioEndpoint> wave;
  std::vector<MidiPort> midiIn;   // the sources
  std::vector<MidiPort> midiOut;  // the destinations
};

// Any thread: lists now, asking the systems (audio/AudioEndpoints.cpp,
// midi/MidiRtMidi.cpp).
std::vector<AudioEndpoint> ListAudioEndpoints();
std::vector<MidiPort> ListMidiPorts(bool sources);
inline std::shared_ptr<const DeviceListing> ListDevices() {
  auto listing = std::make_shared<DeviceListing>();
  listing->wave = ListAudioEndpoints();
  listing->midiIn = ListMidiPorts(true);
  listing->midiOut = ListMidiPorts(false);
  return listing;
}

// Any thread: the listing kept for the backends' GetNumDevs, null while
// none is kept. Replaced only on the window's thread, between two of its
// messages, so that a refill of the three lists reads one listing.
std::shared_ptr<const DeviceListing> KeptListing();
void KeepListing(std::shared_ptr<const DeviceListing> listing);

}  // namespace platform
