#include "platform/linux/JackClient.h"

#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Notice.h"

namespace platform {

// What libjack's threads call: each callback enters only while its client is
// not being closed, and a close waits until the ones inside have left.
struct JackClient::Link {
  std::atomic<int> inside{0};
  std::atomic<bool> closed{false};
  std::atomic<bool> gone{false};
  Process process = nullptr;
  void* processContext = nullptr;
  Lost lost = nullptr;
  void* lostContext = nullptr;
  Changed changed = nullptr;
  void* changedContext = nullptr;
  BufferSize bufferSize = nullptr;
  void* bufferSizeContext = nullptr;

  bool Enter() {
    inside.fetch_add(1);
    if (!closed.load()) return true;
    inside.fetch_sub(1);
    return false;
  }
  void Leave() { inside.fetch_sub(1); }
  // Not a spin: the closing thread may be the time-critical Mixer thread,
  // and a callback it waits for may need the same processor.
  void ShutOut() {
    closed.store(true);
    const timespec pause = {0, 200000};
    while (inside.load() != 0) nanosleep(&pause, nullptr);
  }

  static int OnProcess(jack_nframes_t frames, void* self) {
    auto* link = static_cast<Link*>(self);
    if (!link->Enter()) return 0;
    int result = link->process(frames, link->processContext);
    link->Leave();
    return result;
  }
  static int OnBufferSize(jack_nframes_t frames, void* self) {
    auto* link = static_cast<Link*>(self);
    if (!link->Enter()) return 0;
    link->bufferSize(frames, link->bufferSizeContext);
    link->Leave();
    return 0;
  }
  static void OnShutdown(jack_status_t, const char* reason, void* self);
  static void OnClient(const char*, int, void* self) { static_cast<Link*>(self)->Change(); }
  static void OnPort(jack_port_id_t, int, void* self) { static_cast<Link*>(self)->Change(); }
  static void OnRename(jack_port_id_t, const char*, const char*, void* self) {
    static_cast<Link*>(self)->Change();
  }
  void Change() {
    if (!Enter()) return;
    if (changed != nullptr) changed(changedContext);
    Leave();
  }
};

namespace {

struct Foreign {
  uint64_t id;
  JackClient::CloseForeign close;
  void* context;
};

// Under the table's lock.
std::vector<JackClient*> g_open;
std::vector<Foreign> g_foreign;
uint64_t g_nextForeign = 1;

// Set by a shutdown callback (libjack's thread, so only an atomic store);
// cleared once every client held is closed.
std::atomic<bool> g_lost{false};
// A close is waiting for a server that does not answer; closes after it
// queue behind it in libjack and are not waited for.
std::atomic<bool> g_stuck{false};

}  // namespace

void JackClient::Link::OnShutdown(jack_status_t, const char* reason, void* self) {
  auto* link = static_cast<Link*>(self);
  link->gone.store(true);
  g_lost.store(true);
  if (!link->Enter()) return;
  if (link->lost != nullptr) link->lost(link->lostContext, reason);
  link->Leave();
}

std::recursive_mutex& JackClient::TableMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

JackClient*& JackClient::ListerSlot() {
  static JackClient* lister = nullptr;
  return lister;
}

void JackClient::ListThrough() {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  ListerSlot() = this;
}

std::unique_ptr<JackClient> JackClient::Open(const char* name, jack_status_t* status) {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  CloseLostLocked();
  jack_status_t ignored;
  jack_client_t* raw = jack_client_open(name, JackNoStartServer, status ? status : &ignored);
  if (raw == nullptr) return nullptr;
  std::unique_ptr<JackClient> client(new JackClient);
  client->client_ = raw;
  client->link_ = new Link;
  jack_on_info_shutdown(raw, &Link::OnShutdown, client->link_);
  g_open.push_back(client.get());
  return client;
}

std::string JackClient::OpenFailure(jack_status_t status) {
  if (!(status & JackServerFailed)) return "JACK: the server refused the client";
  // libjack says "no server" for any socket it could not make; a socket of
  // our own tells whether the process is out of descriptors.
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return std::string("JACK: ") + std::strerror(errno);
  close(probe);
  return "JACK: no server is running";
}

JackClient::~JackClient() { Close(); }

void JackClient::SetProcess(Process process, void* context) {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  if (client_ == nullptr) return;
  link_->process = process;
  link_->processContext = context;
  jack_set_process_callback(client_, &Link::OnProcess, link_);
}

void JackClient::SetBufferSize(BufferSize bufferSize, void* context) {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  if (client_ == nullptr) return;
  link_->bufferSize = bufferSize;
  link_->bufferSizeContext = context;
  jack_set_buffer_size_callback(client_, &Link::OnBufferSize, link_);
}

void JackClient::SetLost(Lost lost, void* context) {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  if (client_ == nullptr) return;
  link_->lost = lost;
  link_->lostContext = context;
}

void JackClient::SetChanged(Changed changed, void* context) {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  if (client_ == nullptr) return;
  link_->changed = changed;
  link_->changedContext = context;
  jack_set_client_registration_callback(client_, &Link::OnClient, link_);
  jack_set_port_registration_callback(client_, &Link::OnPort, link_);
  jack_set_port_rename_callback(client_, &Link::OnRename, link_);
}

bool JackClient::Gone() const {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  return link_ == nullptr || link_->gone.load();
}

// Under the table's lock to the end: an open on another thread meanwhile
// (after the server went away) would make libjack free this client while it
// is still being closed.
bool JackClient::Close() {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  jack_client_t* raw = client_;
  Link* link = link_;
  client_ = nullptr;
  link_ = nullptr;
  if (ListerSlot() == this) ListerSlot() = nullptr;
  g_open.erase(std::remove(g_open.begin(), g_open.end(), this), g_open.end());
  if (raw == nullptr) return true;
  return CloseBounded(raw, link);
}

uint64_t JackClient::AddForeign(CloseForeign close, void* context) {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  g_foreign.push_back({g_nextForeign, close, context});
  return g_nextForeign++;
}

void JackClient::Forget(uint64_t id) {
  std::lock_guard<std::recursive_mutex> hold(TableMutex());
  g_foreign.erase(std::remove_if(g_foreign.begin(), g_foreign.end(),
                                 [id](const Foreign& foreign) { return foreign.id == id; }),
                  g_foreign.end());
}

// Under the table's lock. The clients of a server that is gone close at once.
void JackClient::CloseLostLocked() {
  if (!g_lost.load()) return;
  for (JackClient* client : g_open) {
    CloseBounded(client->client_, client->link_);
    client->client_ = nullptr;
    client->link_ = nullptr;
  }
  g_open.clear();
  for (const Foreign& foreign : g_foreign) foreign.close(foreign.context);
  g_foreign.clear();
  g_lost.store(false);
}

// Deactivation first, so that the process callback fills the ports until
// the server stops calling it; the callbacks are shut out before the close
// returns here, also when it gives up waiting.
bool JackClient::CloseBounded(jack_client_t* raw, Link* link) {
  struct Job {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
  };
  auto job = std::make_shared<Job>();
  auto close = [raw, link, job] {
    jack_deactivate(raw);
    link->ShutOut();
    jack_client_close(raw);
    {
      std::lock_guard<std::mutex> hold(job->mutex);
      job->finished = true;
      if (job->abandoned) g_stuck.store(false);
      job->done.notify_all();
    }
    delete link;
  };
  const bool waitForIt = !g_stuck.load();
  try {
    std::thread(close).detach();
  } catch (...) {
    // No thread to spare: closed here, however long it takes.
    jack_deactivate(raw);
    link->ShutOut();
    jack_client_close(raw);
    delete link;
    return true;
  }
  std::unique_lock<std::mutex> hold(job->mutex);
  if (waitForIt && job->done.wait_for(hold, kCloseBound, [&] { return job->finished; }))
    return true;
  if (job->finished) return true;
  // Still under the job's lock, which the closing thread takes before it
  // frees the link.
  job->abandoned = true;
  link->ShutOut();
  if (waitForIt && !g_stuck.exchange(true))
    NoticeFormat("JACK: the server does not answer; its clients were left open after %d s",
                 static_cast<int>(kCloseBound.count()));
  return false;
}

}  // namespace platform
