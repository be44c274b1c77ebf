#include <alsa/asoundlib.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "platform/linux/SoundServers.h"
#include "platform/linux/watch/DeviceSources.h"

namespace platform {

namespace {

class SequencerSource : public DeviceSource {
 public:
  SequencerSource() { SilenceLibraries(); }
  ~SequencerSource() override {
    if (seq_ != nullptr) snd_seq_close(seq_);
  }

  bool Connect() override {
    if (seq_ != nullptr) return true;
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) return false;
    if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
      seq_ = nullptr;
      return false;
    }
    snd_seq_set_client_name(seq_, kWatchClientName);
    int port = snd_seq_create_simple_port(seq_, "announce",
                                          SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                          SND_SEQ_PORT_TYPE_APPLICATION);
    struct pollfd poll;
    if (port < 0 ||
        snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0 ||
        snd_seq_poll_descriptors(seq_, &poll, 1, POLLIN) != 1) {
      snd_seq_close(seq_);
      seq_ = nullptr;
      return false;
    }
    descriptor_ = poll.fd;
    return true;
  }

  int Descriptor() const override { return seq_ != nullptr ? descriptor_ : -1; }

  // The announcements themselves say little that the description does not.
  void Read() override {
    snd_seq_event_t* event;
    int result;
    do {
      result = snd_seq_event_input(seq_, &event);
    } while (result >= 0 || result == -ENOSPC);
  }

  void Describe(std::string* state) override {
    if (seq_ == nullptr) return;
    int self = snd_seq_client_id(seq_);
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
      int id = snd_seq_client_info_get_client(client);
      const char* name = snd_seq_client_info_get_name(client);
      if (id == self || id == SND_SEQ_CLIENT_SYSTEM || IsOwnClient(name)) continue;
      snd_seq_port_info_set_client(port, id);
      snd_seq_port_info_set_port(port, -1);
      while (snd_seq_query_next_port(seq_, port) >= 0) {
        unsigned caps = snd_seq_port_info_get_capability(port);
        if (caps & SND_SEQ_PORT_CAP_NO_EXPORT) continue;
        state->append("alsa ").append(name).append(":").append(snd_seq_port_info_get_name(port));
        state->append(" ").append(std::to_string(caps)).append("\n");
      }
    }
  }

 private:
  snd_seq_t* seq_ = nullptr;
  int descriptor_ = -1;
};

}  // namespace

std::unique_ptr<DeviceSource> MakeSequencerSource() { return std::make_unique<SequencerSource>(); }

}  // namespace platform
