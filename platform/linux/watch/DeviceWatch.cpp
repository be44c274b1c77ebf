// The device watch on Linux: one thread that polls the sources' descriptors
// (inside libpulse's loop while a PulseAudio server is connected) and an
// eventfd that libjack's callback thread writes to. The first
// sign of a change opens a short window in which more signs only join it;
// when it closes, the sources describe what they watch, and only a
// description that differs from the last one counts. Sources whose server is
// not running are tried again every few seconds, and the others described
// again as often, for a sign that never came.
//
// A change that counts is listed on the watch's thread (DeviceLists.h), so
// the window never waits for the sound servers. The listing goes to a
// message window of the window's own thread, which keeps it for the
// backends and only then posts WM_DEVICECHANGE: the listing the window's
// refill reads is changed only between two of its messages, and is complete.
// Signs that come while a listing runs wait in the descriptors and open the
// next window: however many there were, they make one more listing.
#include "platform/DeviceWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/watch/DeviceLists.h"
#include "platform/linux/watch/DeviceSources.h"

namespace platform {

namespace {

// Long enough to take in a client's registration with all its ports, a
// card's several device nodes or a burst of plugging; short enough that a
// new device is listed well within a second.
constexpr auto kCoalesce = std::chrono::milliseconds(200);
constexpr auto kRetry = std::chrono::seconds(2);
// To the relay window: a listing is ready.
constexpr uint32_t kMessageListed = kMessageUser + 0x219;

DeviceSourceMaker g_maker = nullptr;

}  // namespace

struct DeviceWatch::Impl {
  WindowHandle window = 0;
  WindowHandle relay = 0;  // on the window's thread
  std::mutex listedMutex;
  std::shared_ptr<const DeviceListing> listed;  // the newest listing not yet kept
  int wake = -1;
  std::atomic<bool> quit{false};
  std::vector<std::unique_ptr<DeviceSource>> sources;
  std::vector<bool> connected;
  std::thread thread;

  // Any thread: the libraries' callbacks and the destructor.
  static void Wake(void* self) {
    uint64_t one = 1;
    ssize_t written = write(static_cast<Impl*>(self)->wake, &one, sizeof one);
    (void)written;  // a full counter wakes the thread just as well
  }

  // Connects what is not connected; true when a source came or went.
  bool ConnectAll() {
    bool changed = false;
    for (size_t i = 0; i < sources.size(); ++i) {
      bool now = sources[i]->Connect();
      changed = changed || now != connected[i];
      connected[i] = now;
    }
    return changed;
  }

  std::string Describe() {
    std::string state;
    for (auto& source : sources) source->Describe(&state);
    return state;
  }

  // What the sources described when the watch started: taken before its
  // thread runs, so that a device that comes while the thread starts up is a
  // change, not part of where the watch began.
  std::string last;

  void Run() {
    using Clock = std::chrono::steady_clock;
    bool pending = false;
    Clock::time_point due{};
    Clock::time_point retry = Clock::now() + kRetry;
    while (!quit.load()) {
      std::vector<pollfd> polled{{wake, POLLIN, 0}};
      std::vector<DeviceSource*> readers;
      for (auto& source : sources) {
        int descriptor = source->Descriptor();
        if (descriptor < 0) continue;
        polled.push_back({descriptor, POLLIN, 0});
        readers.push_back(source.get());
      }
      Clock::time_point next = pending ? std::min(due, retry) : retry;
      auto wait =
          std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
      int timeout = static_cast<int>(std::max<long long>(wait, 0));
      int ready = 0;
      bool polledInLoop = false;
      for (auto& source : sources) {
        if (source->PollWith(&polled, timeout, &ready)) {
          polledInLoop = true;
          break;
        }
      }
      if (!polledInLoop) ready = poll(polled.data(), polled.size(), timeout);
      if (quit.load()) break;
      bool signal = false;
      for (auto& source : sources) signal = source->TakeChange() || signal;
      if (ready > 0) {
        if (polled[0].revents & POLLIN) {
          uint64_t count;
          ssize_t got = read(wake, &count, sizeof count);
          (void)got;
          signal = true;
        }
        for (size_t i = 0; i < readers.size(); ++i) {
          if (polled[i + 1].revents & (POLLIN | POLLERR | POLLHUP)) {
            readers[i]->Read();
            signal = true;
          }
        }
      }
      Clock::time_point now = Clock::now();
      if (now >= retry) {
        // A server that started (or stopped) since is a change as well. So is
        // a description that no sign announced: a sign can be lost (the lists
        // were once seen to stay short after a storm of a hundred JACK clients).
        if (ConnectAll() || (!pending && Describe() != last)) signal = true;
        retry = Clock::now() + kRetry;
      }
      if (signal && !pending) {
        pending = true;
        due = now + kCoalesce;
      }
      if (pending && Clock::now() >= due) {
        pending = false;
        ConnectAll();  // a server that went away is closed before it is described
        std::string state = Describe();
        if (state != last) {
          last = state;
          std::shared_ptr<const DeviceListing> listing = ListDevices();
          {
            std::lock_guard<std::mutex> hold(listedMutex);
            listed = std::move(listing);
          }
          PostToWindow(relay, kMessageListed, 0, 0);
        }
      }
    }
  }

  // The window's thread. Listings that were made while it was busy are
  // one change: the newest is kept, the message posted once.
  static intptr_t Relay(WindowHandle relay, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<Impl*>(GetWindowOwner(relay));
    if (message != kMessageListed || self == nullptr)
      return DefaultWindowProcedure(relay, message, wParam, lParam);
    std::shared_ptr<const DeviceListing> listing;
    {
      std::lock_guard<std::mutex> hold(self->listedMutex);
      listing = std::move(self->listed);
    }
    if (listing == nullptr) return 0;
    KeepListing(std::move(listing));
    PostToWindow(self->window, kMessageDeviceChange, kDeviceNodesChanged, 0);
    return 0;
  }
};

void SetDeviceSourceMaker(DeviceSourceMaker maker) { g_maker = maker; }

DeviceWatch::DeviceWatch(WindowHandle window) : impl_(std::make_unique<Impl>()) {
  impl_->window = window;
  impl_->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl_->wake < 0) return;
  impl_->relay = CreateMessageWindow("device listing");
  if (impl_->relay == 0) return;
  SetWindowOwner(impl_->relay, impl_.get());
  SetWindowProcedure(impl_->relay, &Impl::Relay);
  if (g_maker != nullptr) {
    impl_->sources = g_maker(&Impl::Wake, impl_.get());
  } else {
    impl_->sources.push_back(MakeJackSource(&Impl::Wake, impl_.get()));
    impl_->sources.push_back(MakeSequencerSource());
    impl_->sources.push_back(MakePulseSource());
    impl_->sources.push_back(MakeSoundCardSource());
  }
  impl_->connected.assign(impl_->sources.size(), false);
  impl_->ConnectAll();
  impl_->last = impl_->Describe();
  impl_->thread = std::thread(&Impl::Run, impl_.get());
}

DeviceWatch::~DeviceWatch() {
  if (impl_->thread.joinable()) {
    impl_->quit.store(true);
    Impl::Wake(impl_.get());
    impl_->thread.join();
  }
  // The sources close their clients (and so stop their callbacks) before the
  // descriptor the callbacks write to goes.
  impl_->sources.clear();
  if (impl_->wake >= 0) close(impl_->wake);
  // Without the watch nothing tells the kept listing is old: the backends
  // list on each call again. A listing still queued for the relay goes with it.
  if (impl_->relay != 0) {
    KeepListing(nullptr);
    DestroyMessageWindow(impl_->relay);
  }
}

}  // namespace platform
