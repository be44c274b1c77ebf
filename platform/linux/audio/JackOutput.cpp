#include "platform/linux/audio/JackOutput.h"

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
  output->client_ = JackClient::Open(clientName, &status);
  if (!output->client_) {
    *error = JackClient::OpenFailure(status);
    return nullptr;
  }
  bool registered = false;
  output->client_->With([&](jack_client_t* client) {
    for (int i = 0; i < 2; ++i) {
      const std::string name = "outport " + std::to_string(i);
      output->ports_[i] =
          jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    }
    registered = output->ports_[0] != nullptr && output->ports_[1] != nullptr;
  });
  if (!registered) {
    *error = "JACK: cannot register the output ports";
    return nullptr;
  }
  output->client_->SetProcess(&JackOutput::Process, output.get());
  output->client_->SetBufferSize(&JackOutput::OnBufferSize, output.get());
  output->client_->SetLost(&JackOutput::OnShutdown, output.get());
  return output;
}

JackOutput::~JackOutput() { Shutdown(); }

unsigned JackOutput::Rate() const {
  unsigned rate = 0;
  client_->With([&](jack_client_t* client) { rate = jack_get_sample_rate(client); });
  return rate;
}

int JackOutput::ClientPriority() const {
  int priority = 0;
  client_->With([&](jack_client_t* client) {
    priority = jack_is_realtime(client) ? jack_client_real_time_priority(client) : 0;
  });
  return priority;
}

bool JackOutput::Start(const std::string& target, std::string* error) {
  *error = "JACK: the server has gone away";
  bool started = false;
  client_->With([&](jack_client_t* client) {
    if (jack_activate(client) != 0) {
      *error = "JACK: the client cannot be activated";
      return;
    }
    // The target's inputs in the server's order: the first two take left and right.
    std::vector<std::string> inputs;
    if (const char** ports =
            jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput)) {
      const std::string prefix = target + ":";
      for (const char** port = ports; *port; ++port)
        if (std::strncmp(*port, prefix.c_str(), prefix.size()) == 0) inputs.push_back(*port);
      jack_free(ports);
    }
    if (inputs.size() < 2) {
      *error = "JACK: '" + target + "' has fewer than two inputs";
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (jack_connect(client, jack_port_name(ports_[i]), inputs[i].c_str()) != 0) {
        *error = "JACK: cannot connect to " + inputs[i];
        return;
      }
    }
    started = true;
  });
  return started;
}

// Bounded (JackClient::Close); a client whose server went away may have been
// closed by the table already.
void JackOutput::Shutdown() {
  if (client_) client_->Close();
  client_.reset();
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

// libjack's notification thread (or the process thread before its first
// cycle), while no process call runs.
void JackOutput::OnBufferSize(jack_nframes_t frames, void* self) {
  static_cast<JackOutput*>(self)->device_.PreparePeriod(frames);
}

// A thread of libjack's, like a signal handler: only tells the device.
void JackOutput::OnShutdown(void* self, const char* reason) {
  static_cast<JackOutput*>(self)->device_.Lost(reason);
}

}  // namespace platform
