// The Linux wave output's device list: JACK clients read through the one
// listing client, PulseAudio (or PipeWire's PulseAudio service) and ALSA
// devices through RtAudio.
#include <jack/jack.h>
#include <pulse/pulseaudio.h>
#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/JackClient.h"
#include "platform/linux/SoundServers.h"
#include "platform/linux/audio/RtAudioOutput.h"
#include "platform/linux/watch/DeviceLists.h"

namespace platform {

namespace {

constexpr unsigned kChannels = RtAudioOutput::kChannels;

using Endpoint = AudioEndpoint;

// The device's product name as the device lists show it: which audio system,
// then the system's own name, cut to 31 characters.
std::string DisplayName(const char* system, const std::string& name) {
  std::string shown = std::string(system) + ": " + name;
  if (shown.size() > 31) shown.resize(31);
  return shown;
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
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), kListClientName);
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

}  // namespace

std::vector<AudioEndpoint> ListAudioEndpoints() {
  SilenceLibraries();
  std::vector<Endpoint> endpoints;
  AddJackEndpoints(endpoints);
  if (PulseServerListening() && PulseHasDefaultSink())
    AddEndpoints(RtAudio::LINUX_PULSE, "PulseAudio", endpoints);
  AddEndpoints(RtAudio::LINUX_ALSA, "ALSA", endpoints);
  return endpoints;
}

}  // namespace platform
