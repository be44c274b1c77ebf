// The Linux wave output on RtAudio: JACK when a server runs, PulseAudio (or
// PipeWire's PulseAudio service), ALSA.
//
// waveOut hands the device whole buffers and gets each one back when it has
// been played; RtAudio instead asks for a fixed number of frames per callback,
// and JACK chooses that number itself. So the callback copies frames from the
// queued buffers strictly in order, crossing buffer boundaries inside one
// callback when it must, and plays silence when nothing is queued. It never
// blocks, allocates or logs: the queue is a fixed ring of header pointers with
// three counters (written by Write, played by the callback, returned by the
// relay thread), and a semaphore wakes the relay thread, which marks finished
// buffers done and posts one kMessageWaveOutDone per buffer, in order.
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <semaphore.h>
#include <sys/stat.h>

#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/WaveOut.h"

namespace platform {

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kChannels = 2;
constexpr unsigned kFrameBytes = 4;
constexpr unsigned kRequestedPeriod = 1024;
// More than any caller queues; Write refuses a buffer beyond it.
constexpr uint64_t kRingSize = 256;
// The JACK client name, and so the prefix of our output ports ("Pelvane:outport 0").
constexpr const char* kStreamName = "Pelvane";

struct Endpoint {
  RtAudio::Api api;
  unsigned index;  // RtAudio's device number within that API
  std::string name;
};

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
  return (runtime && IsSocket(std::string(runtime) + "/pulse/native")) || IsSocket("/run/pulse/native");
}

// Every output device of one API that can take two channels, in RtAudio's
// order. RtAudio reports problems by throwing and by printing; both stay here.
void AddEndpoints(RtAudio::Api api, const char* system, std::vector<Endpoint>& out) {
  try {
    RtAudio audio(api);
    audio.showWarnings(false);
    unsigned count = audio.getDeviceCount();
    for (unsigned i = 0; i < count; ++i) {
      RtAudio::DeviceInfo info = audio.getDeviceInfo(i);
      if (!info.probed || info.outputChannels < kChannels) continue;
      out.push_back(Endpoint{api, i, DisplayName(system, info.name)});
    }
  } catch (...) {
  }
}

std::vector<Endpoint> Enumerate() {
  SilenceLibraries();
  std::vector<Endpoint> endpoints;
  AddEndpoints(RtAudio::UNIX_JACK, "JACK", endpoints);
  if (PulseServerReachable()) AddEndpoints(RtAudio::LINUX_PULSE, "PulseAudio", endpoints);
  AddEndpoints(RtAudio::LINUX_ALSA, "ALSA", endpoints);
  return endpoints;
}

// One open device. The handle given out is its address.
struct Device {
  std::unique_ptr<RtAudio> audio;
  WindowHandle window = 0;

  WaveHeader* ring[kRingSize] = {};
  std::atomic<uint64_t> written{0};   // Write (under control)
  std::atomic<uint64_t> played{0};    // the callback (Reset while it is shut out)
  std::atomic<uint64_t> returned{0};  // the relay (under relayMutex)
  uint32_t offset = 0;                // frames of ring[played] already played
  std::atomic<uint64_t> position{0};  // buffer frames played since open or reset

  // The callback runs only while `stopped` is false; `busy` tells that it is
  // inside. Both sequentially consistent, so a thread that sets `stopped` and
  // then sees `busy` false knows the callback will not touch the ring again.
  std::atomic<bool> stopped{false};
  std::atomic<bool> busy{false};

  sem_t wake;
  bool semaphoreReady = false;
  std::atomic<bool> quit{false};
  std::thread relay;
  std::mutex relayMutex;
  std::mutex control;  // Write, Reset and Close against one another
};

// Audio thread. Hidden from ThreadSanitizer: the mixer mixes a new voice into
// a queued buffer after reading the play position without synchronising with
// the device (as waveOut's hardware would read it), so a buffer the device has
// just started may still be written. That costs at most a few late frames of
// the new voice, by design; every other access here is ordered by atomics.
__attribute__((no_sanitize("thread"))) void CopyFrames(int16_t* to, const char* from, uint32_t frames) {
  const volatile int16_t* source = reinterpret_cast<const volatile int16_t*>(from);
  for (uint32_t i = 0; i < frames * kChannels; ++i) to[i] = source[i];
}

// Audio thread: never blocks, allocates or logs.
int Callback(void* output, void*, unsigned frameCount, double, RtAudioStreamStatus, void* context) {
  Device& device = *static_cast<Device*>(context);
  int16_t* out = static_cast<int16_t*>(output);
  unsigned left = frameCount;
  device.busy.store(true);
  if (!device.stopped.load()) {
    uint64_t written = device.written.load(std::memory_order_acquire);
    uint64_t played = device.played.load(std::memory_order_relaxed);
    uint64_t frames = 0;
    bool finished = false;
    while (left > 0 && played != written) {
      WaveHeader* header = device.ring[played % kRingSize];
      uint32_t length = header->bufferLength / kFrameBytes;
      uint32_t count = std::min<uint32_t>(length - device.offset, left);
      CopyFrames(out, header->data + size_t(device.offset) * kFrameBytes, count);
      out += size_t(count) * kChannels;
      left -= count;
      frames += count;
      device.offset += count;
      if (device.offset >= length) {
        device.offset = 0;
        ++played;
        device.played.store(played, std::memory_order_release);
        finished = true;
      }
    }
    device.position.fetch_add(frames, std::memory_order_release);
    if (finished) sem_post(&device.wake);
  }
  std::memset(out, 0, size_t(left) * kFrameBytes);
  device.busy.store(false);
  return 0;
}

void ErrorCallback(RtAudioError::Type, const std::string&) {}

// Returns every buffer the callback has finished, in order. Relay thread, or
// Reset (holding relayMutex keeps the two from interleaving).
void ReturnFinished(Device& device) {
  uint64_t played = device.played.load(std::memory_order_acquire);
  uint64_t returned = device.returned.load(std::memory_order_relaxed);
  while (returned != played) {
    WaveHeader* header = device.ring[returned % kRingSize];
    header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
    ++returned;
    device.returned.store(returned, std::memory_order_release);
    PostToWindow(device.window, kMessageWaveOutDone, reinterpret_cast<uintptr_t>(&device),
                 reinterpret_cast<intptr_t>(header));
  }
}

void RelayMain(Device* device) {
  for (;;) {
    while (sem_wait(&device->wake) != 0 && errno == EINTR) {
    }
    if (device->quit.load()) return;
    std::lock_guard<std::mutex> hold(device->relayMutex);
    ReturnFinished(*device);
  }
}

// Shuts the callback out of the ring and waits for a running call to leave.
void StopCallback(Device& device) {
  device.stopped.store(true);
  while (device.busy.load()) std::this_thread::yield();
}

class WaveOutRtAudio : public WaveOutApi {
 public:
  uint32_t GetNumDevs() override {
    std::lock_guard<std::mutex> hold(mutex_);
    endpoints_ = Enumerate();
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
    std::vector<Endpoint> candidates;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ListOnce();
      if (deviceId == kWaveMapper) {
        candidates = endpoints_;
      } else {
        if (deviceId >= endpoints_.size()) return kWaveBadDeviceId;
        candidates.push_back(endpoints_[deviceId]);
      }
    }
    if (candidates.empty()) return kWaveBadDeviceId;
    for (const Endpoint& endpoint : candidates) {
      Device* device = OpenEndpoint(endpoint, window);
      if (!device) continue;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        open_.insert(device);
      }
      *handle = reinterpret_cast<WaveOutHandle>(device);
      PostToWindow(window, kMessageWaveOutOpen, *handle, 0);
      return kWaveOk;
    }
    return kWaveError;
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

  uint32_t Write(WaveOutHandle handle, WaveHeader* header) override {
    Device* device = Find(handle);
    if (!device) return kWaveInvalidHandle;
    if (!header) return kWaveError;
    if (!(header->flags & kWaveHeaderPrepared)) return kWaveUnprepared;
    std::lock_guard<std::mutex> hold(device->control);
    if (header->flags & kWaveHeaderInQueue) return kWaveStillPlaying;
    uint64_t written = device->written.load(std::memory_order_relaxed);
    if (written - device->returned.load(std::memory_order_acquire) >= kRingSize) return kWaveNoMemory;
    header->flags = (header->flags & ~kWaveHeaderDone) | kWaveHeaderInQueue;
    device->ring[written % kRingSize] = header;
    device->written.store(written + 1, std::memory_order_release);
    return kWaveOk;
  }

  uint32_t GetPosition(WaveOutHandle handle, uint32_t* frames, bool* isSamples) override {
    *frames = 0;
    *isSamples = false;
    Device* device = Find(handle);
    if (!device) return kWaveInvalidHandle;
    *frames = static_cast<uint32_t>(device->position.load(std::memory_order_acquire));
    *isSamples = true;
    return kWaveOk;
  }

  uint32_t Reset(WaveOutHandle handle) override {
    Device* device = Find(handle);
    if (!device) return kWaveInvalidHandle;
    std::lock_guard<std::mutex> hold(device->control);
    StopCallback(*device);
    device->played.store(device->written.load());
    device->offset = 0;
    device->position.store(0);
    {
      std::lock_guard<std::mutex> relay(device->relayMutex);
      ReturnFinished(*device);
    }
    device->stopped.store(false);
    return kWaveOk;
  }

  uint32_t Close(WaveOutHandle handle) override {
    Device* device = Find(handle);
    if (!device) return kWaveInvalidHandle;
    {
      std::lock_guard<std::mutex> hold(device->control);
      if (device->written.load() != device->returned.load()) return kWaveStillPlaying;
      StopCallback(*device);
    }
    {
      std::lock_guard<std::mutex> hold(mutex_);
      open_.erase(device);
    }
    WindowHandle window = device->window;
    Destroy(device);
    PostToWindow(window, kMessageWaveOutClose, handle, 0);
    return kWaveOk;
  }

  MemoryHandle AllocBufferMemory(uint32_t bytes) override {
    return reinterpret_cast<MemoryHandle>(std::calloc(1, bytes));
  }
  void* LockBufferMemory(MemoryHandle memory) override { return reinterpret_cast<void*>(memory); }
  void UnlockBufferMemory(MemoryHandle) override {}
  void FreeBufferMemory(MemoryHandle memory) override { std::free(reinterpret_cast<void*>(memory)); }

 private:
  void ListOnce() {
    if (!listed_) {
      endpoints_ = Enumerate();
      listed_ = true;
    }
  }

  Device* Find(WaveOutHandle handle) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = open_.find(reinterpret_cast<Device*>(handle));
    return found == open_.end() ? nullptr : *found;
  }

  static Device* OpenEndpoint(const Endpoint& endpoint, WindowHandle window) {
    auto device = std::make_unique<Device>();
    device->window = window;
    if (sem_init(&device->wake, 0, 0) != 0) return nullptr;
    device->semaphoreReady = true;
    try {
      device->audio = std::make_unique<RtAudio>(endpoint.api);
      device->audio->showWarnings(false);
      RtAudio::StreamParameters output;
      output.deviceId = endpoint.index;
      output.nChannels = kChannels;
      RtAudio::StreamOptions options;
      options.streamName = kStreamName;
      unsigned period = kRequestedPeriod;
      device->audio->openStream(&output, nullptr, RTAUDIO_SINT16, kRate, &period, Callback,
                                device.get(), &options, ErrorCallback);
      device->relay = std::thread(RelayMain, device.get());
      device->audio->startStream();
    } catch (...) {
      Destroy(device.release());
      return nullptr;
    }
    return device.release();
  }

  // The callback is shut out (or never ran) and no buffer is queued.
  static void Destroy(Device* device) {
    try {
      if (device->audio && device->audio->isStreamOpen()) {
        if (device->audio->isStreamRunning()) device->audio->abortStream();
        device->audio->closeStream();
      }
    } catch (...) {
    }
    device->audio.reset();
    if (device->relay.joinable()) {
      device->quit.store(true);
      sem_post(&device->wake);
      device->relay.join();
    }
    if (device->semaphoreReady) sem_destroy(&device->wake);
    delete device;
  }

  std::mutex mutex_;
  std::vector<Endpoint> endpoints_;
  bool listed_ = false;
  std::set<Device*> open_;
};

}  // namespace

WaveOutApi& NativeWaveOutApi() {
  static WaveOutRtAudio api;
  return api;
}

}  // namespace platform
