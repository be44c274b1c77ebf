#include "platform/linux/JackOutput.h"

#include <cstring>
#include <vector>

#include "platform/RealTime.h"
#include "platform/linux/RealTimePriority.h"

namespace platform {

std::unique_ptr<JackOutput> JackOutput::Open(WaveDevice& device, const char* clientName,
                                             std::string* error) {
  std::unique_ptr<JackOutput> output(new JackOutput(device));
  jack_status_t status;
  NameJackThreads();
  output->client_ = jack_client_open(clientName, JackNoStartServer, &status);
  if (!output->client_) {
    *error = (status & JackServerFailed) ? "JACK: no server is running"
                                         : "JACK: the server refused the client";
    return nullptr;
  }
  for (int i = 0; i < 2; ++i) {
    const std::string name = "outport " + std::to_string(i);
    output->ports_[i] = jack_port_register(output->client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                           JackPortIsOutput, 0);
    if (!output->ports_[i]) {
      *error = "JACK: cannot register the output ports";
      return nullptr;
    }
  }
  jack_set_process_callback(output->client_, &JackOutput::Process, output.get());
  jack_on_info_shutdown(output->client_, &JackOutput::OnShutdown, output.get());
  return output;
}

JackOutput::~JackOutput() { Shutdown(); }

bool JackOutput::Start(const std::string& target, std::string* error) {
  if (jack_activate(client_) != 0) {
    *error = "JACK: the client cannot be activated";
    return false;
  }
  active_ = true;
  // The target's inputs in the server's order: the first two take left and right.
  std::vector<std::string> inputs;
  if (const char** ports =
          jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput)) {
    const std::string prefix = target + ":";
    for (const char** port = ports; *port; ++port)
      if (std::strncmp(*port, prefix.c_str(), prefix.size()) == 0) inputs.push_back(*port);
    jack_free(ports);
  }
  if (inputs.size() < 2) {
    *error = "JACK: '" + target + "' has fewer than two inputs";
    return false;
  }
  for (int i = 0; i < 2; ++i) {
    if (jack_connect(client_, jack_port_name(ports_[i]), inputs[i].c_str()) != 0) {
      *error = "JACK: cannot connect to " + inputs[i];
      return false;
    }
  }
  return true;
}

void JackOutput::Shutdown() {
  if (!client_) return;
  if (active_) jack_deactivate(client_);
  jack_client_close(client_);
  client_ = nullptr;
  active_ = false;
}

// JACK's process thread.
int JackOutput::Process(jack_nframes_t frames, void* self) {
  RealTimeScope realTime;
  auto* output = static_cast<JackOutput*>(self);
  auto* left = static_cast<float*>(jack_port_get_buffer(output->ports_[0], frames));
  auto* right = static_cast<float*>(jack_port_get_buffer(output->ports_[1], frames));
  output->device_.RenderFloat(left, right, 1, frames);
  return 0;
}

// A thread of libjack's, like a signal handler: only tells the device.
void JackOutput::OnShutdown(jack_status_t, const char* reason, void* self) {
  static_cast<JackOutput*>(self)->device_.Lost(reason);
}

}  // namespace platform
