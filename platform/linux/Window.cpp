// Message windows on Linux: a fixed table maps each handle to its procedure,
// its owner and the queue of the thread that created it. One queue per
// thread, as with Windows' thread message queues; posts from any thread keep
// their order.
//
// A post is made from real-time threads (the mixer, the wave device's relay)
// and from threads holding the mixer's lock, so it never allocates, locks or
// waits: the handle is found in the table by its index, the message goes into
// the queue's ring (made when the thread first needed its queue), and a
// semaphore wakes the thread. A full queue fails the post, as PostMessage
// fails on Windows. Creating and destroying windows and queues may lock and
// allocate; they happen on the threads that own them, outside the hot paths.
#include "platform/Window.h"

#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/Ring.h"
#include "platform/linux/MessageQueue.h"

namespace platform {

namespace {

struct Message {
  WindowHandle window;  // 0 for a quit message
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// Messages one thread's queue holds, as Windows' default quota of 10000 is
// about the same order: far more than any of our threads ever has waiting.
constexpr uint32_t kQueueCapacity = 4096;

// A thread's queue. Never freed: a thread that ends hands it back for reuse,
// so that a post racing with the end of a thread always finds valid memory
// (a message for a window that is gone is dropped when dispatched).
struct Queue {
  Queue() : ring(kQueueCapacity) { sem_init(&posted, 0, 0); }
  Ring<Message> ring;
  sem_t posted;
  // The owning thread's own list: messages taken out of the ring so that one
  // from the middle can be removed (TakeQueuedMessage, a window's
  // destruction); always older than anything still in the ring.
  std::vector<Message> taken;
  size_t takenFirst = 0;
  // A quit that found the ring full; seen once the queue is empty.
  std::atomic<bool> quitPending{false};
  std::atomic<MessageWakeHook> wake{nullptr};
  std::atomic<void*> wakeContext{nullptr};
  // Every queue ever made, newest first (under g_tableMutex).
  Queue* nextMade = nullptr;
};

constexpr uint32_t kMaxWindows = 1024;
constexpr WindowHandle kFirstHandle = 0x10000;

struct WindowRecord {
  std::atomic<WindowHandle> handle{0};  // 0: free
  std::atomic<Queue*> queue{nullptr};
  std::atomic<void*> owner{nullptr};
  std::atomic<WindowProcedure> procedure{DefaultWindowProcedure};
  uint64_t generation = 0;  // under g_tableMutex
};

// Creation and destruction only; lookups read the table without it.
std::mutex g_tableMutex;
WindowRecord g_windows[kMaxWindows];
// Both under g_tableMutex, and neither is ever destroyed: a thread may end,
// and hand its queue back, after the static destructors have run. The list of
// every queue made keeps them all reachable to the end, spares or in use.
std::vector<Queue*>& SpareQueues() {
  static std::vector<Queue*>* spares = new std::vector<Queue*>;
  return *spares;
}
Queue* g_madeQueues = nullptr;
std::atomic<bool> g_failCreate{false};
std::atomic<uint32_t> g_failPost{0};

WindowRecord* FindWindow(WindowHandle window) {
  if (window < kFirstHandle) return nullptr;
  WindowRecord& record = g_windows[((window - kFirstHandle) >> 1) % kMaxWindows];
  return record.handle.load(std::memory_order_acquire) == window ? &record : nullptr;
}

// The calling thread's queue, made (or taken from the spares) on first use.
class ThreadQueueHolder {
 public:
  ~ThreadQueueHolder() {
    if (!queue_) return;
    queue_->wake.store(nullptr);
    std::lock_guard<std::mutex> hold(g_tableMutex);
    SpareQueues().push_back(queue_);
  }
  Queue& Get() {
    if (!queue_) {
      {
        std::lock_guard<std::mutex> hold(g_tableMutex);
        if (!SpareQueues().empty()) {
          queue_ = SpareQueues().back();
          SpareQueues().pop_back();
        }
      }
      if (!queue_) {
        queue_ = new Queue;
        queue_->taken.reserve(kQueueCapacity);
        std::lock_guard<std::mutex> hold(g_tableMutex);
        queue_->nextMade = g_madeQueues;
        g_madeQueues = queue_;
      }
      // What the thread before left behind is not this thread's.
      Message stale;
      while (queue_->ring.TryPop(&stale)) {
      }
      queue_->taken.clear();
      queue_->takenFirst = 0;
      queue_->quitPending.store(false);
      while (sem_trywait(&queue_->posted) == 0) {
      }
    }
    return *queue_;
  }

 private:
  Queue* queue_ = nullptr;
};

Queue& ThreadQueue() {
  thread_local ThreadQueueHolder holder;
  return holder.Get();
}

bool Push(Queue& queue, const Message& message) {
  if (!queue.ring.TryPush(message)) return false;
  sem_post(&queue.posted);
  if (MessageWakeHook wake = queue.wake.load()) wake(queue.wakeContext.load());
  return true;
}

// The owning thread: moves what the ring holds to the end of its own list.
void TakeAll(Queue& queue) {
  Message message;
  while (queue.ring.TryPop(&message)) queue.taken.push_back(message);
}

// The owning thread: the oldest message, without removing it; false when
// none is queued. A quit that could not be queued comes after everything.
bool Oldest(Queue& queue, Message* message) {
  if (queue.takenFirst == queue.taken.size()) {
    queue.taken.clear();
    queue.takenFirst = 0;
    if (Message* next = queue.ring.Peek()) {
      *message = *next;
      return true;
    }
    if (queue.quitPending.load()) {
      *message = Message{0, kMessageQuit, 0, 0};
      return true;
    }
    return false;
  }
  *message = queue.taken[queue.takenFirst];
  return true;
}

void RemoveOldest(Queue& queue) {
  if (queue.takenFirst < queue.taken.size()) {
    ++queue.takenFirst;
  } else if (queue.ring.Peek()) {
    queue.ring.Pop();
  } else {
    queue.quitPending.store(false);
  }
}

// Hands one message to its window's procedure; false for a quit message.
bool Dispatch(const Message& message) {
  if (message.window == 0 && message.message == kMessageQuit) return false;
  if (WindowRecord* record = FindWindow(message.window))
    record->procedure.load()(message.window, message.message, message.wParam, message.lParam);
  return true;
}

}  // namespace

WindowHandle CreateMessageWindow(const char* title) {
  if (g_failCreate.load()) return 0;
  Queue& queue = ThreadQueue();
  // The thread that owns a hidden window is named after it ("Mixer",
  // "MidiIn"), so that top -H, perf and debuggers tell the threads apart.
  // The process's main thread keeps the program's name.
  if (title && *title && gettid() != getpid()) {
    char name[16] = {};
    for (size_t i = 0; i + 1 < sizeof name && title[i]; ++i) name[i] = title[i];
    pthread_setname_np(pthread_self(), name);
  }
  std::lock_guard<std::mutex> hold(g_tableMutex);
  for (uint32_t index = 0; index < kMaxWindows; ++index) {
    WindowRecord& record = g_windows[index];
    if (record.handle.load(std::memory_order_relaxed) != 0) continue;
    ++record.generation;
    record.queue.store(&queue);
    record.owner.store(nullptr);
    record.procedure.store(DefaultWindowProcedure);
    const WindowHandle handle = kFirstHandle + ((record.generation * kMaxWindows + index) << 1);
    record.handle.store(handle, std::memory_order_release);
    return handle;
  }
  return 0;  // as Windows does when it is out of window handles
}

void SetWindowOwner(WindowHandle window, void* owner) {
  if (WindowRecord* record = FindWindow(window)) record->owner.store(owner);
}

void* GetWindowOwner(WindowHandle window) {
  WindowRecord* record = FindWindow(window);
  return record ? record->owner.load() : nullptr;
}

void SetWindowProcedure(WindowHandle window, WindowProcedure procedure) {
  if (WindowRecord* record = FindWindow(window)) record->procedure.store(procedure);
}

intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t, intptr_t) {
  if (message == kMessageClose) DestroyMessageWindow(window);
  return 0;
}

bool PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message != 0 && message == g_failPost.load()) return false;
  WindowRecord* record = FindWindow(window);
  if (!record) return false;
  Queue* queue = record->queue.load(std::memory_order_acquire);
  return queue && Push(*queue, Message{window, message, wParam, lParam});
}

intptr_t SendToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  WindowRecord* record = FindWindow(window);
  return record ? record->procedure.load()(window, message, wParam, lParam) : 0;
}

bool TakeQueuedMessage(WindowHandle window, uint32_t message, uintptr_t* wParam, intptr_t* lParam) {
  if (!FindWindow(window)) return false;
  Queue& queue = ThreadQueue();
  TakeAll(queue);
  for (size_t i = queue.takenFirst; i < queue.taken.size(); ++i) {
    const Message& found = queue.taken[i];
    if (found.window == window && found.message == message) {
      *wParam = found.wParam;
      *lParam = found.lParam;
      if (i == queue.takenFirst)
        ++queue.takenFirst;
      else
        queue.taken.erase(queue.taken.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

void DestroyMessageWindow(WindowHandle window) {
  WindowRecord* record = FindWindow(window);
  if (!record) return;
  {
    std::lock_guard<std::mutex> hold(g_tableMutex);
    if (record->handle.load() != window) return;
    record->handle.store(0, std::memory_order_release);
    record->owner.store(nullptr);
  }
  // Messages still queued for it are dropped here; any posted later find no
  // window.
  Queue& queue = ThreadQueue();
  TakeAll(queue);
  size_t kept = queue.takenFirst;
  for (size_t i = queue.takenFirst; i < queue.taken.size(); ++i)
    if (queue.taken[i].window != window) queue.taken[kept++] = queue.taken[i];
  queue.taken.resize(kept);
}

bool WindowExists(WindowHandle window) { return FindWindow(window) != nullptr; }

bool GetAndDispatchMessage() {
  Queue& queue = ThreadQueue();
  Message message;
  while (!Oldest(queue, &message)) {
    while (sem_wait(&queue.posted) != 0 && errno == EINTR) {
    }
  }
  RemoveOldest(queue);
  return Dispatch(message);
}

bool PeekAndDispatchMessage(bool* quit) {
  Queue& queue = ThreadQueue();
  Message message;
  if (!Oldest(queue, &message)) return false;
  RemoveOldest(queue);
  *quit = !Dispatch(message);
  return true;
}

bool DispatchQueuedMessage() {
  Queue& queue = ThreadQueue();
  Message message;
  if (!Oldest(queue, &message)) return false;
  if (message.window == 0 && message.message == kMessageQuit) return false;
  RemoveOldest(queue);
  Dispatch(message);
  return true;
}

bool WaitForQueuedMessage(unsigned milliseconds) {
  Queue& queue = ThreadQueue();
  Message message;
  timespec until;
  clock_gettime(CLOCK_REALTIME, &until);
  until.tv_sec += milliseconds / 1000;
  until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
  if (until.tv_nsec >= 1000000000) until.tv_sec += 1, until.tv_nsec -= 1000000000;
  while (!Oldest(queue, &message)) {
    if (sem_timedwait(&queue.posted, &until) != 0 && errno == ETIMEDOUT)
      return Oldest(queue, &message);
  }
  return true;
}

void SetMessageWakeHook(MessageWakeHook hook, void* context) {
  Queue& queue = ThreadQueue();
  queue.wakeContext.store(context);
  queue.wake.store(hook);
}

void SetWindowFaults(bool failCreate, uint32_t failPost) {
  g_failCreate.store(failCreate);
  g_failPost.store(failPost);
}

void PostQuit(int /*exitCode*/) {
  Queue& queue = ThreadQueue();
  if (!Push(queue, Message{0, kMessageQuit, 0, 0})) {
    queue.quitPending.store(true);
    sem_post(&queue.posted);
    if (MessageWakeHook wake = queue.wake.load()) wake(queue.wakeContext.load());
  }
}

}  // namespace platform
