// Every libjack client of the program, in one table.
//
// When a JACK server goes away, libjack keeps its clients only until the
// process next calls jack_client_open: that call frees every client still
// open ("Jack server was closed but clients are still allocated,
// cleanup..."), whoever holds it, and a later jack_deactivate or
// jack_client_close on one of them touches freed memory. So every client is
// opened here: the first shutdown callback marks the server lost, and the
// next open (ours, or one of RtAudio's or RtMidi's inside Opening) first
// closes every client still held, itself, on the opening thread. A holder
// reaches its client only through With, under the table's lock, which tells
// it when the client was closed for it; closes run under that lock too, so
// no open frees a client that is being closed.
//
// The callbacks go through the table too: each one is shut out before its
// client closes, so nothing of the holder is touched once Close has
// returned, even when the close itself is still stuck in libjack.
//
// A server that is alive but does not answer (stopped, wedged) keeps a close
// waiting for ever: a close gives up after kCloseBound, says so in one line,
// and leaves the client to a thread of its own.
#pragma once
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/SoundServers.h"

namespace platform {

class JackClient {
 public:
  static constexpr std::chrono::seconds kCloseBound{3};

  using Process = int (*)(jack_nframes_t frames, void* context);
  using Lost = void (*)(void* context, const char* reason);
  using Changed = void (*)(void* context);
  using BufferSize = void (*)(jack_nframes_t frames, void* context);

  // Opens a client of that name on the running server (never starts one).
  // Null with libjack's status when there is none.
  static std::unique_ptr<JackClient> Open(const char* name, jack_status_t* status);
  // Why Open failed, for the log: "JACK: no server is running", or the
  // reason the process could not even try ("JACK: Too many open files").
  static std::string OpenFailure(jack_status_t status);
  ~JackClient();  // Close
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // Before activation. The process callback runs on JACK's real-time thread;
  // lost once, on libjack's thread, when the server goes (it may only store
  // and post); changed on libjack's notification thread for every client,
  // port registration or rename; bufferSize before the first process call
  // and before every change of the period, while no process call runs.
  void SetProcess(Process process, void* context);
  void SetBufferSize(BufferSize bufferSize, void* context);
  void SetLost(Lost lost, void* context);
  void SetChanged(Changed changed, void* context);

  // Runs f(jack_client_t*) under the table's lock; false without running it
  // once the client is closed (its server went away, or Close).
  template <class F>
  bool With(F&& f) {
    std::lock_guard<std::recursive_mutex> hold(TableMutex());
    if (client_ == nullptr) return false;
    f(client_);
    return true;
  }
  // True once the server of this client has gone away.
  bool Gone() const;

  // Shuts the callbacks out, deactivates and closes. False when the server
  // did not answer within the bound: the client is left to a thread that
  // waits for libjack, and this object may go all the same.
  bool Close();

  // Runs f under the table's lock once every client of a server that went
  // away is closed: for the libraries that open clients of their own
  // (RtAudio's listing, RtMidi's ports), so that they never make libjack
  // free ours. The lock is recursive: f may open clients here too.
  template <class F>
  static void Opening(F&& f) {
    std::lock_guard<std::recursive_mutex> hold(TableMutex());
    CloseLostLocked();
    f();
  }
  // Runs f under the table's lock: for a library's client that is closed by
  // its holder (RtMidi's output), so that no open meanwhile makes libjack
  // free it halfway through the close.
  template <class F>
  static void Closing(F&& f) {
    std::lock_guard<std::recursive_mutex> hold(TableMutex());
    f();
  }

  // Runs f(jack_client_t*) under the table's lock with the client that
  // lists: the one named by ListThrough while it is open and its server
  // there, else one short-lived client of the listing's own ("Pelvane list":
  // never activated, no ports); false without a server. A listing reads the
  // whole graph through it, where RtAudio opens a client for every device it
  // describes.
  template <class F>
  static bool WithLister(F&& f) {
    std::lock_guard<std::recursive_mutex> hold(TableMutex());
    JackClient* kept = ListerSlot();
    if (kept != nullptr && kept->client_ != nullptr && !kept->Gone()) {
      f(kept->client_);
      return true;
    }
    std::unique_ptr<JackClient> lister = Open(kListClientName, nullptr);
    if (!lister) return false;
    f(lister->client_);
    return true;
  }
  // Lists through this client from now until it closes: the device watch's,
  // open all the time, so that a listing costs the server nothing (a client
  // opened during a burst of other clients waits for every one of them).
  void ListThrough();

  // A client that a library opened and holds (RtMidi's output): close is
  // called under the table's lock when the server has gone, before the next
  // open. The returned id takes it out again (Forget) when its holder closes
  // it first.
  using CloseForeign = void (*)(void* context);
  static uint64_t AddForeign(CloseForeign close, void* context);
  static void Forget(uint64_t id);

 private:
  struct Link;
  JackClient() = default;
  static std::recursive_mutex& TableMutex();
  static JackClient*& ListerSlot();  // under the table's lock
  static void CloseLostLocked();
  static bool CloseBounded(jack_client_t* client, Link* link);

  jack_client_t* client_ = nullptr;  // under the table's lock
  Link* link_ = nullptr;             // the callbacks' context, freed after the close
};

}  // namespace platform
