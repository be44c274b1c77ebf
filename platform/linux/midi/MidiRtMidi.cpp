// The native MIDI devices on Linux: ALSA sequencer ports where /dev/snd/seq
// exists and JACK MIDI ports where a JACK server runs. RtMidi lists both,
// opens the outputs and the ALSA inputs; a JACK input is our own client on
// libjack (JackMidiIn), because RtMidi's calls our callback on JACK's
// real-time thread and allocates there for every message.
//
// Device ids index one combined list (ALSA first, then JACK), taken when the
// caller asks for the number of devices, as midiInGetNumDevs/midiOutGetNumDevs
// callers do before they ask for names or open a device. Opening looks the
// listed port up again by its name, so a port that came or went in between
// never makes us open the wrong one.
//
// RtMidi reports failures either by throwing or, once an error callback is
// set, through that callback; both are caught here and turned into a result
// code plus a per-thread error number (LastError), the RtMidiError type.
#include "platform/Midi.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/Notice.h"
#include "platform/linux/JackClient.h"
#include "platform/linux/SoundServers.h"
#include "platform/linux/midi/JackMidiIn.h"
#include "platform/linux/midi/ShortMessage.h"
#include "platform/linux/watch/DeviceLists.h"

namespace platform {

namespace {

constexpr size_t kMaxNameLength = 31;

thread_local int t_lastError = 0;

bool AlsaSequencerPresent() { return access("/dev/snd/seq", R_OK | W_OK) == 0; }

// RtMidi's JACK classes warn on stderr from their constructors when no server
// runs, before an error callback can be installed; asking the server first
// (quietly) keeps the console clean. Called inside JackClient::Opening.
bool JackServerRunning() {
  SilenceJack();
  return JackClient::WithLister([](jack_client_t*) {});
}

// RtMidi's JACK output hands each message to its process callback through a
// ring buffer, and its close waits for one cycle only: a message queued just
// after that cycle took the buffer's contents would be dropped with the port.
// Before such a close, three cycles of the server are waited out (at most two
// seconds), so the last whole cycle took every message sent before it.
void WaitForJackCycles() {
  SilenceJack();
  jack_status_t status;
  std::unique_ptr<JackClient> client = JackClient::Open(kMidiClientName, &status);
  if (!client) return;
  std::atomic<int> cycles{0};
  client->SetProcess(
      [](jack_nframes_t, void* counter) {
        static_cast<std::atomic<int>*>(counter)->fetch_add(1, std::memory_order_relaxed);
        return 0;
      },
      &cycles);
  bool active = false;
  client->With([&](jack_client_t* raw) { active = jack_activate(raw) == 0; });
  if (active) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (cycles.load(std::memory_order_relaxed) < 3 &&
           std::chrono::steady_clock::now() < deadline && !client->Gone())
      usleep(1000);
  }
  client->Close();
}

using Port = MidiPort;

// Records what RtMidi reports through its error callback; warnings are dropped
// (they would otherwise go to stderr).
struct ErrorSink {
  std::atomic<int> error{0};
  static void Callback(RtMidiError::Type type, const std::string&, void* user) {
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) return;
    static_cast<ErrorSink*>(user)->error.store(static_cast<int>(type));
  }
};

// A JACK client of RtMidi's is made inside JackClient::Opening, so that
// making it never frees one of ours (see JackClient).
template <class RtMidiClass>
std::unique_ptr<RtMidiClass> MakeClient(RtMidi::Api api, ErrorSink* sink) {
  if (api == RtMidi::LINUX_ALSA && !AlsaSequencerPresent()) return nullptr;
  std::unique_ptr<RtMidiClass> client;
  if (api == RtMidi::UNIX_JACK) {
    JackClient::Opening([&] {
      if (JackServerRunning()) client = std::make_unique<RtMidiClass>(api, kMidiClientName);
    });
    if (!client) return nullptr;
  } else {
    client = std::make_unique<RtMidiClass>(api, kMidiClientName);
  }
  client->setErrorCallback(&ErrorSink::Callback, sink);
  return client;
}

// The other side's JACK MIDI ports, in the order RtMidi lists them: for an
// input the sources (output ports), for an output the destinations. Asked of
// libjack directly, through the one listing client (JackClient::WithLister)
// instead of RtMidi's two short-lived ones.
void AddJackPorts(bool sources, std::vector<Port>& ports) {
  SilenceJack();
  JackClient::WithLister([&](jack_client_t* raw) {
    const char** names = jack_get_ports(raw, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        sources ? JackPortIsOutput : JackPortIsInput);
    for (const char** name = names; name != nullptr && *name != nullptr; ++name) {
      if (!IsOwnClient(*name)) ports.push_back({RtMidi::UNIX_JACK, *name});
    }
    if (names != nullptr) jack_free(names);
  });
}

// Lists the other side's ports: for an input, the sources (RtMidiIn's list);
// for an output, the destinations (RtMidiOut's list). ALSA first, then JACK.
template <class RtMidiClass>
std::vector<Port> ListPortsNow() {
  std::vector<Port> ports;
  try {
    ErrorSink sink;
    if (auto client = MakeClient<RtMidiClass>(RtMidi::LINUX_ALSA, &sink)) {
      unsigned count = client->getPortCount();
      for (unsigned i = 0; i < count; ++i) {
        std::string name = client->getPortName(i);
        if (!name.empty() && !IsOwnClient(name)) ports.push_back({RtMidi::LINUX_ALSA, name});
      }
    }
  } catch (...) {
    // A backend that fails to list offers no devices.
  }
  AddJackPorts(std::is_same<RtMidiClass, RtMidiIn>::value, ports);
  return ports;
}

// The kept listing while the device watch keeps one, else a listing now.
template <class RtMidiClass>
std::vector<Port> ListPorts() {
  constexpr bool sources = std::is_same<RtMidiClass, RtMidiIn>::value;
  std::shared_ptr<const DeviceListing> kept = KeptListing();
  if (!kept) return ListPortsNow<RtMidiClass>();
  return sources ? kept->midiIn : kept->midiOut;
}

// The index RtMidi gives the port of that name right now, or -1.
int FindPort(RtMidi& client, const std::string& name) {
  unsigned count = client.getPortCount();
  for (unsigned i = 0; i < count; ++i) {
    if (client.getPortName(i) == name) return static_cast<int>(i);
  }
  return -1;
}

uint32_t CopyName(const std::vector<Port>& ports, uint32_t deviceId, char name[32]) {
  name[0] = 0;
  if (deviceId >= ports.size()) return kMidiBadDeviceId;
  const Port& port = ports[deviceId];
  std::string label = (port.api == RtMidi::UNIX_JACK ? "JACK: " : "ALSA: ") + port.name;
  label.resize(std::min(label.size(), kMaxNameLength));
  std::memcpy(name, label.c_str(), label.size() + 1);
  return kMidiOk;
}

int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct InPort {
  ErrorSink sink;
  std::unique_ptr<RtMidiIn> midi;    // an ALSA sequencer input
  std::unique_ptr<JackMidiIn> jack;  // a JACK input
  MidiInCallback callback = nullptr;
  uintptr_t instance = 0;

  // Written by InStart/InReset, read on RtMidi's thread.
  std::atomic<bool> started{false};
  std::atomic<uint64_t> startCount{0};
  std::atomic<int64_t> startNs{0};

  // RtMidi's thread only. RtMidi gives each message the time since the one
  // before (the first one gets 0), so the input's own clock is the running
  // sum; the first message after a start is placed by the wall clock and
  // later ones by that sum, which keeps the driver's spacing between them.
  double driverSeconds = 0;
  uint64_t anchoredStart = 0;
  double anchorDriverSeconds = 0;
  int64_t anchorMs = 0;
  int64_t lastMs = 0;

  static void OnMessage(double deltaSeconds, std::vector<unsigned char>* bytes, void* user) {
    static_cast<InPort*>(user)->Deliver(deltaSeconds, *bytes);
  }

  // The JACK input's relay thread.
  static void OnJackMessage(void* user, uint32_t word, uint32_t milliseconds) {
    auto* self = static_cast<InPort*>(user);
    self->callback(reinterpret_cast<MidiInHandle>(self), kMidiInData, self->instance, word,
                   milliseconds);
  }

  void Deliver(double deltaSeconds, const std::vector<unsigned char>& bytes) {
    driverSeconds += deltaSeconds;
    if (!started.load(std::memory_order_acquire)) return;
    uint32_t word = 0;
    if (!ShortMessageWord(bytes.data(), bytes.size(), &word)) return;
    uint64_t count = startCount.load(std::memory_order_acquire);
    if (anchoredStart != count) {
      anchoredStart = count;
      anchorDriverSeconds = driverSeconds;
      anchorMs = (SteadyNowNs() - startNs.load(std::memory_order_acquire)) / 1000000;
      lastMs = 0;
    }
    int64_t ms = anchorMs + static_cast<int64_t>((driverSeconds - anchorDriverSeconds) * 1000.0);
    lastMs = std::max(lastMs, ms);
    callback(reinterpret_cast<MidiInHandle>(this), kMidiInData, instance, word,
             static_cast<uintptr_t>(static_cast<uint32_t>(lastMs)));
  }
};

struct OutPort {
  ErrorSink sink;
  std::unique_ptr<RtMidiOut> midi;  // null once its JACK server went away
  bool jack = false;                // a JACK port, whose messages wait in a ring buffer
  uint64_t foreign = 0;             // its entry in the JACK client table
};

class RtMidiApi : public MidiApi {
 public:
  uint32_t InGetNumDevs() override {
    std::vector<Port> ports = ListPorts<RtMidiIn>();
    std::lock_guard<std::mutex> lock(mutex_);
    inPorts_ = std::move(ports);
    inListed_ = true;
    return static_cast<uint32_t>(inPorts_.size());
  }

  uint32_t InGetDeviceName(uint32_t deviceId, char name[32]) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return CopyName(inPorts_, deviceId, name);
  }

  uint32_t InOpen(MidiInHandle* device, uint32_t deviceId, MidiInCallback callback,
                  uintptr_t instance) override {
    *device = 0;
    Port port;
    if (!LookUp(true, deviceId, &port)) {
      // Nothing chosen (-1) is not a failure to tell.
      if (deviceId != 0xFFFFFFFFu) TellInFailure(deviceId, "no such device in the list");
      return Fail(kMidiBadDeviceId, RtMidiError::INVALID_PARAMETER);
    }
    auto in = std::make_unique<InPort>();
    in->callback = callback;
    in->instance = instance;
    if (port.api == RtMidi::UNIX_JACK) {
      in->jack = std::make_unique<JackMidiIn>(&InPort::OnJackMessage, in.get());
      JackMidiIn::OpenResult opened = in->jack->Open(kMidiClientName, port.name);
      if (opened != JackMidiIn::OpenResult::kOk) {
        TellInFailure(port, in->jack->Failure().c_str());
        return Fail(kMidiError, opened == JackMidiIn::OpenResult::kNoSuchPort
                                    ? RtMidiError::INVALID_DEVICE
                                    : RtMidiError::DRIVER_ERROR);
      }
    } else {
      int error = RtMidiError::UNSPECIFIED;
      try {
        in->midi = MakeClient<RtMidiIn>(port.api, &in->sink);
        if (in->midi) {
          int index = FindPort(*in->midi, port.name);
          if (index >= 0) {
            // The callback goes in before the port opens so that nothing is
            // queued inside RtMidi; sysex is dropped there, timing clock and
            // active sensing are short messages like any other.
            in->midi->setCallback(&InPort::OnMessage, in.get());
            in->midi->ignoreTypes(true, false, false);
            in->midi->openPort(static_cast<unsigned>(index), "MIDI In");
            error = in->sink.error.load();
            if (error == 0 && !in->midi->isPortOpen()) error = RtMidiError::DRIVER_ERROR;
          } else {
            error = RtMidiError::INVALID_DEVICE;
          }
        } else {
          error = RtMidiError::DRIVER_ERROR;
        }
      } catch (const RtMidiError& e) {
        error = e.getType();
      } catch (...) {
      }
      if (error != 0) {
        TellInFailure(port, ErrorWords(error));
        return Fail(kMidiError, error);
      }
    }
    InPort* raw = in.release();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ins_.insert(raw);
    }
    *device = reinterpret_cast<MidiInHandle>(raw);
    // As midiInOpen does with MIM_OPEN: before the open returns.
    callback(*device, kMidiInOpen, instance, 0, 0);
    return kMidiOk;
  }

  uint32_t InStart(MidiInHandle device) override {
    std::lock_guard<std::mutex> lock(mutex_);
    InPort* in = FindIn(device);
    if (!in) return kMidiInvalidHandle;
    if (in->started.load()) return kMidiOk;
    in->startNs.store(SteadyNowNs(), std::memory_order_release);
    in->startCount.fetch_add(1, std::memory_order_acq_rel);
    in->started.store(true, std::memory_order_release);
    if (in->jack) in->jack->Start();
    return kMidiOk;
  }

  uint32_t InReset(MidiInHandle device) override {
    std::lock_guard<std::mutex> lock(mutex_);
    InPort* in = FindIn(device);
    if (!in) return kMidiInvalidHandle;
    in->started.store(false, std::memory_order_release);
    if (in->jack) in->jack->Reset();
    return kMidiOk;
  }

  uint32_t InClose(MidiInHandle device) override {
    InPort* in;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      in = FindIn(device);
      if (!in) return kMidiInvalidHandle;
      ins_.erase(in);
    }
    in->started.store(false, std::memory_order_release);
    // Destroying the RtMidi client closes its port and waits until its
    // delivery thread has finished; closing the JACK input ends its relay
    // thread. So no message reaches the caller after the close notification.
    try {
      in->midi.reset();
    } catch (...) {
    }
    if (in->jack) in->jack->Close();
    in->callback(device, kMidiInClose, in->instance, 0, 0);
    delete in;
    return kMidiOk;
  }

  uint32_t OutGetNumDevs() override {
    std::vector<Port> ports = ListPorts<RtMidiOut>();
    std::lock_guard<std::mutex> lock(mutex_);
    outPorts_ = std::move(ports);
    outListed_ = true;
    return static_cast<uint32_t>(outPorts_.size());
  }

  uint32_t OutGetDeviceName(uint32_t deviceId, char name[32]) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return CopyName(outPorts_, deviceId, name);
  }

  uint32_t OutOpen(MidiOutHandle* device, uint32_t deviceId) override {
    *device = 0;
    Port port;
    if (!LookUp(false, deviceId, &port))
      return Fail(kMidiBadDeviceId, RtMidiError::INVALID_PARAMETER);
    auto out = std::make_unique<OutPort>();
    uint32_t result = kMidiOk;
    // RtMidi's JACK client joins the table (see JackClient) before anything
    // else can open a client.
    JackClient::Opening([&] {
      result = OpenOut(port, out.get());
      if (result == kMidiOk && out->jack)
        out->foreign = JackClient::AddForeign(&RtMidiApi::CloseLostOut, out.get());
    });
    if (result != kMidiOk) return result;
    OutPort* raw = out.release();
    std::lock_guard<std::mutex> lock(mutex_);
    outs_.insert(raw);
    *device = reinterpret_cast<MidiOutHandle>(raw);
    return kMidiOk;
  }

  // The lock is held over the send so that a close on another thread can
  // never release the port while a message is on its way into it.
  uint32_t OutShortMsg(MidiOutHandle device, uint32_t message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    OutPort* out = FindOut(device);
    if (!out) return kMidiInvalidHandle;
    unsigned char bytes[3] = {static_cast<unsigned char>(message),
                              static_cast<unsigned char>(message >> 8),
                              static_cast<unsigned char>(message >> 16)};
    size_t length = ShortMessageLength(bytes[0]);
    if (length == 0 || !out->midi) return kMidiError;
    try {
      out->midi->sendMessage(bytes, length);
    } catch (const RtMidiError& e) {
      return Fail(kMidiError, e.getType());
    } catch (...) {
      return Fail(kMidiError, RtMidiError::UNSPECIFIED);
    }
    return kMidiOk;
  }

  uint32_t OutClose(MidiOutHandle device) override {
    OutPort* out;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      out = FindOut(device);
      if (!out) return kMidiInvalidHandle;
      outs_.erase(out);
    }
    // From here the table no longer closes it; if it already did, midi is null.
    if (out->foreign != 0) JackClient::Forget(out->foreign);
    if (out->jack && out->midi) WaitForJackCycles();
    JackClient::Closing([&] {
      try {
        out->midi.reset();
      } catch (...) {
      }
    });
    delete out;
    return kMidiOk;
  }

  int LastError() override { return t_lastError; }

 private:
  // One line for an input that was chosen but cannot be opened: without it
  // the user plays into silence with no word why.
  static void TellInFailure(const Port& port, const char* reason) {
    char name[32];
    CopyName({port}, 0, name);
    NoticeFormat("Midi-In: cannot open '%s': %s", name, reason);
  }
  static void TellInFailure(uint32_t deviceId, const char* reason) {
    NoticeFormat("Midi-In: cannot open device %u: %s", deviceId, reason);
  }
  static const char* ErrorWords(int error) {
    switch (error) {
      case RtMidiError::INVALID_DEVICE:
        return "the port is gone";
      case RtMidiError::DRIVER_ERROR:
        return "the ALSA sequencer cannot be reached";
      case RtMidiError::MEMORY_ERROR:
        return "out of memory";
      default:
        return "RtMidi cannot open the port";
    }
  }

  static uint32_t OpenOut(const Port& port, OutPort* out) {
    try {
      out->midi = MakeClient<RtMidiOut>(port.api, &out->sink);
      if (!out->midi) return Fail(kMidiError, RtMidiError::DRIVER_ERROR);
      out->jack = port.api == RtMidi::UNIX_JACK;
      int index = FindPort(*out->midi, port.name);
      if (index < 0) return Fail(kMidiError, RtMidiError::INVALID_DEVICE);
      out->midi->openPort(static_cast<unsigned>(index), "MIDI Out");
      if (out->sink.error.load() != 0 || !out->midi->isPortOpen()) {
        return Fail(kMidiError,
                    out->sink.error.load() ? out->sink.error.load() : RtMidiError::DRIVER_ERROR);
      }
    } catch (const RtMidiError& e) {
      return Fail(kMidiError, e.getType());
    } catch (...) {
      return Fail(kMidiError, RtMidiError::UNSPECIFIED);
    }
    return kMidiOk;
  }

  // Under the JACK client table's lock, when the echo's server has gone:
  // RtMidi closes its client itself before libjack could free it.
  static void CloseLostOut(void* context) {
    auto* out = static_cast<OutPort*>(context);
    auto& api = static_cast<RtMidiApi&>(NativeMidiApi());
    std::lock_guard<std::mutex> lock(api.mutex_);
    try {
      out->midi.reset();
    } catch (...) {
    }
  }

  static uint32_t Fail(uint32_t result, int error) {
    t_lastError = error;
    return result;
  }

  bool LookUp(bool input, uint32_t deviceId, Port* port) {
    bool listed;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      listed = input ? inListed_ : outListed_;
    }
    // A caller that opens without enumerating first gets today's list.
    if (!listed) input ? InGetNumDevs() : OutGetNumDevs();
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<Port>& ports = input ? inPorts_ : outPorts_;
    if (deviceId >= ports.size()) return false;
    *port = ports[deviceId];
    return true;
  }

  InPort* FindIn(MidiInHandle device) {
    auto it = ins_.find(reinterpret_cast<InPort*>(device));
    return it == ins_.end() ? nullptr : *it;
  }

  OutPort* FindOut(MidiOutHandle device) {
    auto it = outs_.find(reinterpret_cast<OutPort*>(device));
    return it == outs_.end() ? nullptr : *it;
  }

  std::mutex mutex_;  // guards everything below
  std::vector<Port> inPorts_;
  std::vector<Port> outPorts_;
  bool inListed_ = false;
  bool outListed_ = false;
  std::set<InPort*> ins_;
  std::set<OutPort*> outs_;
};

}  // namespace

std::vector<MidiPort> ListMidiPorts(bool sources) {
  return sources ? ListPortsNow<RtMidiIn>() : ListPortsNow<RtMidiOut>();
}

MidiApi& NativeMidiApi() {
  static RtMidiApi api;
  return api;
}

}  // namespace platform
