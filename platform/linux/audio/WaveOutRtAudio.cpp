// The Linux wave output: JACK when a server runs (a client of our own,
// JackOutput), PulseAudio (or PipeWire's PulseAudio service) and ALSA
// through RtAudio (RtAudioOutput). The devices are listed in AudioEndpoints.cpp.
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
#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Notice.h"
#include "platform/WaveOut.h"
#include "platform/linux/RealTimePriority.h"
#include "platform/linux/SoundServers.h"
#include "platform/linux/audio/JackOutput.h"
#include "platform/linux/audio/RtAudioOutput.h"
#include "platform/linux/audio/WaveDevice.h"
#include "platform/linux/watch/DeviceLists.h"

namespace platform {

namespace {

constexpr int kMaxOpen = 16;

using Endpoint = AudioEndpoint;

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
      auto output = JackOutput::Open(*device, kOutputClientName, reason);
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

WaveOutApi& NativeWaveOutApi() {
  static WaveOutRtAudio api;
  return api;
}

}  // namespace platform
