// The Linux wave output: JACK when a server runs (a client of our own,
// JackOutput), PulseAudio (or PipeWire's PulseAudio service) and ALSA
// through RtAudio. The devices are listed through RtAudio for all three.
//
// Each open device is a WaveDevice; its handle is the device's address, kept
// in a fixed table that Write and GetPosition search without a lock, so that
// the Mixer's refill never waits for a device listing that holds the list's
// mutex while it asks the sound servers.
//
// A device that runs at another rate than 44100 gets the frames converted
// (RateConverter): JACK runs at the server's rate, PulseAudio at the sink's
// (when RtAudio can open that rate; otherwise the server converts), ALSA at
// 44100 when the card takes it, else at the card's preferred rate.
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <pulse/pulseaudio.h>
#include <rtaudio/RtAudio.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Notice.h"
#include "platform/RealTime.h"
#include "platform/WaveOut.h"
#include "platform/linux/JackClient.h"
#include "platform/linux/RealTimePriority.h"
#include "platform/linux/audio/JackOutput.h"
#include "platform/linux/audio/WaveDevice.h"
#include "platform/linux/watch/DeviceLists.h"

namespace platform {

namespace {

constexpr unsigned kChannels = 2;
constexpr unsigned kRequestedPeriod = 1024;
// The JACK client name, and so the prefix of our output ports ("Pelvane:outport 0").
constexpr const char* kStreamName = "Pelvane";
constexpr int kMaxOpen = 16;

using Endpoint = AudioEndpoint;

// RtAudio 5's PulseAudio backend keeps what a device listing collects in
// one global record, and every getDeviceCount, from a listing or from an
// openStream, refills it: two RtAudio objects at work on two threads (the
// watch's listing and the Mixer's open) corrupt it. So every RtAudio object
// is made, used and destroyed under this lock; only the streams' own
// callbacks run outside it.
std::mutex& RtAudioMutex() {
  static std::mutex mutex;
  return mutex;
}

// The device's product name as the device lists show it: which audio system,
// then the system's own name, cut to 31 characters.
std::string DisplayName(const char* system, const std::string& name) {
  std::string shown = std::string(system) + ": " + name;
  if (shown.size() > 31) shown.resize(31);
  return shown;
}

void QuietJack(const char*) {}
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// libjack reports a missing server, and alsa-lib a missing sound card, on
// standard error whenever RtAudio looks for them; a machine without either is
// normal, so those lines are dropped.
void SilenceLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(QuietJack);
    jack_set_info_function(QuietJack);
    snd_lib_error_set_handler(QuietAlsa);
  });
}

bool IsSocket(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// Asked without a server, libpulse may start a PulseAudio daemon of its own;
// a synthesizer should not, so PulseAudio is asked only when a server (or
// PipeWire's PulseAudio service) is already listening.
bool PulseServerReachable() {
  if (const char* server = std::getenv("PULSE_SERVER")) return server[0] != 0;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return (runtime && IsSocket(std::string(runtime) + "/pulse/native")) ||
         IsSocket("/run/pulse/native");
}

// RtAudio 5 copies the server's default sink name without looking whether
// there is one, and a server without any sink has none: its listing would
// crash. So the server is asked first (two seconds at most).
bool PulseHasDefaultSink() {
  struct Asked {
    bool done = false;
    bool sink = false;
  } asked;
  pa_mainloop* loop = pa_mainloop_new();
  if (loop == nullptr) return false;
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Pelvane list");
  bool going = context != nullptr &&
               pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
  pa_operation* question = nullptr;
  const pa_usec_t deadline = pa_rtclock_now() + 2 * PA_USEC_PER_SEC;
  while (going && !asked.done && pa_rtclock_now() < deadline) {
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state)) break;
    if (state == PA_CONTEXT_READY && question == nullptr) {
      question = pa_context_get_server_info(
          context,
          [](pa_context*, const pa_server_info* info, void* self) {
            auto* answer = static_cast<Asked*>(self);
            answer->sink = info != nullptr && info->default_sink_name != nullptr &&
                           info->default_sink_name[0] != 0;
            answer->done = true;
          },
          &asked);
      if (question == nullptr) break;
    }
    going = pa_mainloop_prepare(loop, 100000) >= 0 && pa_mainloop_poll(loop) >= 0 &&
            pa_mainloop_dispatch(loop) >= 0;
  }
  if (question != nullptr) pa_operation_unref(question);
  if (context != nullptr) {
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
  pa_mainloop_free(loop);
  return asked.sink;
}

// Every output device of one API that can take two channels, in RtAudio's
// order. RtAudio reports problems by throwing and by printing; both stay here.
void AddEndpoints(RtAudio::Api api, const char* system, std::vector<Endpoint>& out) {
  std::lock_guard<std::mutex> serial(RtAudioMutex());
  try {
    RtAudio audio(api);
    audio.showWarnings(false);
    unsigned count = audio.getDeviceCount();
    for (unsigned i = 0; i < count; ++i) {
      RtAudio::DeviceInfo info = audio.getDeviceInfo(i);
      if (!info.probed || info.outputChannels < kChannels) continue;
      out.push_back(Endpoint{api, i, info.name, DisplayName(system, info.name), info.sampleRates,
                             info.preferredSampleRate});
    }
  } catch (...) {
  }
}

// The JACK clients that take two channels or more, in the order their first
// ports come, as RtAudio lists them; read through the one listing client
// rather than RtAudio's, which opens a client for every device it describes.
void AddJackEndpoints(std::vector<Endpoint>& out) {
  JackClient::WithLister([&](jack_client_t* client) {
    const unsigned rate = jack_get_sample_rate(client);
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, 0);
    std::vector<std::string> clients;
    std::vector<unsigned> inputs;
    for (const char** port = ports; port != nullptr && *port != nullptr; ++port) {
      const std::string name = *port;
      const std::string owner = name.substr(0, name.find(':'));
      size_t i = std::find(clients.begin(), clients.end(), owner) - clients.begin();
      if (i == clients.size()) {
        clients.push_back(owner);
        inputs.push_back(0);
      }
      jack_port_t* handle = jack_port_by_name(client, *port);
      if (handle != nullptr && (jack_port_flags(handle) & JackPortIsInput)) inputs[i] += 1;
    }
    if (ports != nullptr) jack_free(ports);
    for (size_t i = 0; i < clients.size(); ++i) {
      if (inputs[i] < kChannels) continue;
      out.push_back(Endpoint{RtAudio::UNIX_JACK,
                             static_cast<unsigned>(i),
                             clients[i],
                             DisplayName("JACK", clients[i]),
                             {rate},
                             rate});
    }
  });
}

// The kept listing while the device watch keeps one, else a listing now.
std::vector<Endpoint> Enumerate() {
  std::shared_ptr<const DeviceListing> kept = KeptListing();
  return kept ? kept->wave : ListAudioEndpoints();
}

bool Takes(const Endpoint& endpoint, unsigned rate) {
  return std::find(endpoint.rates.begin(), endpoint.rates.end(), rate) != endpoint.rates.end();
}

// The rate to open a PulseAudio or ALSA device at; 0 when none fits.
unsigned ChooseRate(const Endpoint& endpoint) {
  if (endpoint.api == RtAudio::LINUX_PULSE) {
    // RtAudio gives a sink's own rate as the preferred one and lists what it
    // can open; PulseAudio converts anything else (an 88200 sink) itself.
    return Takes(endpoint, endpoint.preferredRate) ? endpoint.preferredRate : WaveDevice::kRate;
  }
  if (Takes(endpoint, WaveDevice::kRate)) return WaveDevice::kRate;
  if (endpoint.preferredRate != 0 && Takes(endpoint, endpoint.preferredRate))
    return endpoint.preferredRate;
  for (unsigned rate : {48000u, 96000u, 88200u})
    if (Takes(endpoint, rate)) return rate;
  return 0;
}

// A PulseAudio or ALSA device through an RtAudio stream. RtAudio runs the
// callback on a thread of its own that writes each period to the server or
// card with a blocking write, under a mutex of RtAudio's that only starting
// and stopping the stream also take.
class RtAudioOutput : public DeviceOutput {
 public:
  static std::unique_ptr<RtAudioOutput> Open(const Endpoint& endpoint, unsigned rate,
                                             WaveDevice& device, std::string* error) {
    std::unique_ptr<RtAudioOutput> output(new RtAudioOutput(device, rate != WaveDevice::kRate));
    std::lock_guard<std::mutex> serial(RtAudioMutex());
    try {
      output->audio_ = std::make_unique<RtAudio>(endpoint.api);
      output->audio_->showWarnings(false);
      RtAudio::StreamParameters parameters;
      parameters.deviceId = endpoint.index;
      parameters.nChannels = kChannels;
      RtAudio::StreamOptions options;
      options.streamName = kStreamName;
      // Four periods at most wait in the server: without a bound PulseAudio
      // keeps two seconds, and every note would come that late.
      options.numberOfBuffers = 4;
      unsigned period = kRequestedPeriod;
      output->audio_->openStream(
          &parameters, nullptr, output->float_ ? RTAUDIO_FLOAT32 : RTAUDIO_SINT16, rate, &period,
          &RtAudioOutput::Callback, output.get(), &options, &RtAudioOutput::ErrorCallback);
    } catch (const RtAudioError& failure) {
      *error = failure.getMessage();
      return nullptr;
    } catch (...) {
      *error = "RtAudio: the stream cannot be opened";
      return nullptr;
    }
    return output;
  }

  ~RtAudioOutput() override { Shutdown(); }

  bool Start(std::string* error) {
    std::lock_guard<std::mutex> serial(RtAudioMutex());
    try {
      audio_->startStream();
    } catch (const RtAudioError& failure) {
      *error = failure.getMessage();
      return false;
    }
    return true;
  }

  void Shutdown() override {
    if (!audio_) return;
    std::lock_guard<std::mutex> serial(RtAudioMutex());
    try {
      if (audio_->isStreamOpen()) {
        if (audio_->isStreamRunning()) audio_->abortStream();
        audio_->closeStream();
      }
    } catch (...) {
    }
    audio_.reset();
  }

 private:
  RtAudioOutput(WaveDevice& device, bool asFloat) : device_(device), float_(asFloat) {}

  // RtAudio's thread.
  static int Callback(void* out, void*, unsigned frames, double, RtAudioStreamStatus, void* self) {
    RealTimeScope realTime;
    auto* output = static_cast<RtAudioOutput*>(self);
    t_current = output;
    if (output->device_.IsLost()) {
      std::memset(out, 0,
                  size_t(frames) * kChannels * (output->float_ ? sizeof(float) : sizeof(int16_t)));
      return 2;  // abort: the server is gone, every further write fails at once
    }
    if (output->float_) {
      float* samples = static_cast<float*>(out);
      output->device_.RenderFloat(samples, samples + 1, kChannels, frames);
    } else {
      output->device_.RenderInt16(static_cast<int16_t*>(out), frames);
    }
    return 0;
  }

  // RtAudio reports a failed write on the callback's thread, right after the
  // callback; RtAudio gives the error callback no context, hence t_current.
  // A write that fails for another reason than an ALSA underrun means the
  // server or card is gone.
  static void ErrorCallback(RtAudioError::Type, const std::string& text) {
    RtAudioOutput* output = t_current;
    if (!output || text.find("write error") == std::string::npos ||
        text.find("underrun") != std::string::npos)
      return;
    output->device_.Lost(text.c_str());
  }

  static thread_local RtAudioOutput* t_current;

  WaveDevice& device_;
  bool float_;
  std::unique_ptr<RtAudio> audio_;
};

thread_local RtAudioOutput* RtAudioOutput::t_current = nullptr;

// The reason this thread's latest Open failed, for GetErrorText.
thread_local uint32_t t_openResult = kWaveOk;
thread_local char t_openReason[256] = "";

uint32_t OpenFailed(uint32_t result, const std::string& reason) {
  t_openResult = result;
  std::snprintf(t_openReason, sizeof t_openReason, "%s", reason.c_str());
  return result;
}

class WaveOutRtAudio : public WaveOutApi {
 public:
  uint32_t GetNumDevs() override {
    // Listed before the lock is taken: the Mixer's open never waits for
    // the sound servers to answer.
    std::vector<Endpoint> listed = Enumerate();
    std::lock_guard<std::mutex> hold(mutex_);
    endpoints_ = std::move(listed);
    listed_ = true;
    return static_cast<uint32_t>(endpoints_.size());
  }

  uint32_t GetDeviceName(uint32_t deviceId, char name[32]) override {
    std::lock_guard<std::mutex> hold(mutex_);
    ListOnce();
    name[0] = 0;
    if (deviceId >= endpoints_.size()) return kWaveBadDeviceId;
    std::snprintf(name, 32, "%s", endpoints_[deviceId].name.c_str());
    return kWaveOk;
  }

  // Ids refer to the list the last GetNumDevs made, so a device chosen from a
  // list stays the same device when a server appears or goes meanwhile.
  uint32_t Open(WaveOutHandle* handle, uint32_t deviceId, WindowHandle window) override {
    *handle = 0;
    t_openResult = kWaveOk;
    t_openReason[0] = 0;
    std::vector<Endpoint> candidates;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ListOnce();
      if (deviceId == kWaveMapper) {
        candidates = endpoints_;
      } else if (deviceId < endpoints_.size()) {
        candidates.push_back(endpoints_[deviceId]);
      }
    }
    if (candidates.empty()) {
      return OpenFailed(kWaveBadDeviceId,
                        deviceId == kWaveMapper
                            ? "no JACK server, PulseAudio server or ALSA device was found"
                            : "no such device in the list");
    }
    std::string firstReason;
    for (const Endpoint& endpoint : candidates) {
      std::string reason;
      WaveDevice* device = OpenEndpoint(endpoint, window, &reason);
      if (!device) {
        if (firstReason.empty()) firstReason = endpoint.name + ": " + reason;
        continue;
      }
      if (!Register(device)) {
        delete device;
        return OpenFailed(kWaveNoMemory, "too many devices open");
      }
      if (device->Converting())
        NoticeFormat("Wave out: converting from %u Hz to the device's %u Hz", WaveDevice::kRate,
                     device->DeviceRate());
      *handle = reinterpret_cast<WaveOutHandle>(device);
      PostToWindow(window, kMessageWaveOutOpen, *handle, 0);
      return kWaveOk;
    }
    return OpenFailed(kWaveError, firstReason);
  }

  uint32_t PrepareHeader(WaveOutHandle handle, WaveHeader* header) override {
    if (!Find(handle)) return kWaveInvalidHandle;
    if (!header) return kWaveError;
    header->flags |= kWaveHeaderPrepared;
    return kWaveOk;
  }

  uint32_t UnprepareHeader(WaveOutHandle handle, WaveHeader* header) override {
    if (!Find(handle)) return kWaveInvalidHandle;
    if (!header) return kWaveError;
    if (header->flags & kWaveHeaderInQueue) return kWaveStillPlaying;
    header->flags &= ~kWaveHeaderPrepared;
    return kWaveOk;
  }

  // The Mixer's refill: no lock, no allocation.
  uint32_t Write(WaveOutHandle handle, WaveHeader* header) override {
    WaveDevice* device = Find(handle);
    if (!device) return kWaveInvalidHandle;
    if (!header) return kWaveError;
    if (!(header->flags & kWaveHeaderPrepared)) return kWaveUnprepared;
    return device->Write(header);
  }

  uint32_t GetPosition(WaveOutHandle handle, uint32_t* frames, bool* isSamples) override {
    *frames = 0;
    *isSamples = false;
    WaveDevice* device = Find(handle);
    if (!device) return kWaveInvalidHandle;
    *frames = device->Position();
    *isSamples = true;
    return kWaveOk;
  }

  uint32_t Reset(WaveOutHandle handle) override {
    WaveDevice* device = Find(handle);
    if (!device) return kWaveInvalidHandle;
    device->Reset();
    return kWaveOk;
  }

  uint32_t Close(WaveOutHandle handle) override {
    WaveDevice* device = Find(handle);
    if (!device) return kWaveInvalidHandle;
    if (!device->AllReturned()) return kWaveStillPlaying;
    device->ShutOutCallback();
    Unregister(device);
    WindowHandle window = device->Window();
    delete device;
    PostToWindow(window, kMessageWaveOutClose, handle, 0);
    return kWaveOk;
  }

  MemoryHandle AllocBufferMemory(uint32_t bytes) override {
    return reinterpret_cast<MemoryHandle>(std::calloc(1, bytes));
  }
  void* LockBufferMemory(MemoryHandle memory) override { return reinterpret_cast<void*>(memory); }
  void UnlockBufferMemory(MemoryHandle) override {}
  void FreeBufferMemory(MemoryHandle memory) override {
    std::free(reinterpret_cast<void*>(memory));
  }

  void GetErrorText(uint32_t result, char* text, size_t size) override {
    if (result != kWaveOk && result == t_openResult && t_openReason[0] && size > 0) {
      std::snprintf(text, size, "%s", t_openReason);
      return;
    }
    WaveOutApi::GetErrorText(result, text, size);
  }

 private:
  void ListOnce() {
    if (!listed_) {
      endpoints_ = Enumerate();
      listed_ = true;
    }
  }

  // Handles are looked up without a lock. The caller keeps them apart from
  // Close: no call on a handle runs while it is being closed.
  WaveDevice* Find(WaveOutHandle handle) {
    if (handle == 0) return nullptr;
    for (std::atomic<WaveDevice*>& slot : open_)
      if (reinterpret_cast<WaveOutHandle>(slot.load(std::memory_order_acquire)) == handle)
        return slot.load();
    return nullptr;
  }

  bool Register(WaveDevice* device) {
    for (std::atomic<WaveDevice*>& slot : open_) {
      WaveDevice* empty = nullptr;
      if (slot.compare_exchange_strong(empty, device)) return true;
    }
    return false;
  }

  void Unregister(WaveDevice* device) {
    for (std::atomic<WaveDevice*>& slot : open_) {
      WaveDevice* expected = device;
      slot.compare_exchange_strong(expected, nullptr);
    }
  }

  static WaveDevice* OpenEndpoint(const Endpoint& endpoint, WindowHandle window,
                                  std::string* reason) {
    SilenceLibraries();
    if (endpoint.api == RtAudio::UNIX_JACK) {
      auto device = std::make_unique<WaveDevice>(window, "the JACK server");
      auto output = JackOutput::Open(*device, kStreamName, reason);
      if (!output) return nullptr;
      // Just below JACK's own client threads: the mixer and the relay feed
      // them, and a server thread must never wait behind ours. A server
      // without real-time threads leaves nothing to stay below.
      const int jackPriority = output->ClientPriority();
      SetRealTimeCeiling(jackPriority > 1 ? jackPriority - 1 : -1);
      if (!device->SetDeviceRate(output->Rate(), reason) || !device->StartRelay(false))
        return nullptr;
      // The device owns the output from here, so that a failed start still
      // closes the client before the device goes.
      JackOutput* jack = output.get();
      device->SetOutput(std::move(output));
      if (!jack->Start(endpoint.system, reason)) return nullptr;
      return device.release();
    }
    SetRealTimeCeiling(-1);
    const bool pulse = endpoint.api == RtAudio::LINUX_PULSE;
    auto device = std::make_unique<WaveDevice>(window, pulse ? "PulseAudio" : "the ALSA device");
    const unsigned rate = ChooseRate(endpoint);
    if (rate == 0) {
      *reason = "the device takes none of the rates 44100, 48000, 88200 or 96000";
      return nullptr;
    }
    if (!device->SetDeviceRate(rate, reason)) return nullptr;
    auto output = RtAudioOutput::Open(endpoint, rate, *device, reason);
    if (!output || !device->StartRelay(true)) return nullptr;
    RtAudioOutput* stream = output.get();
    device->SetOutput(std::move(output));
    if (!stream->Start(reason)) return nullptr;
    return device.release();
  }

  std::mutex mutex_;  // the list
  std::vector<Endpoint> endpoints_;
  bool listed_ = false;
  std::atomic<WaveDevice*> open_[kMaxOpen] = {};
};

}  // namespace

std::vector<AudioEndpoint> ListAudioEndpoints() {
  SilenceLibraries();
  std::vector<Endpoint> endpoints;
  AddJackEndpoints(endpoints);
  if (PulseServerReachable() && PulseHasDefaultSink())
    AddEndpoints(RtAudio::LINUX_PULSE, "PulseAudio", endpoints);
  AddEndpoints(RtAudio::LINUX_ALSA, "ALSA", endpoints);
  return endpoints;
}

WaveOutApi& NativeWaveOutApi() {
  static WaveOutRtAudio api;
  return api;
}

}  // namespace platform
