// Message windows on Linux: a registry maps each handle to its procedure, its
// owner and the queue of the thread that created it. One queue per thread, as
// with Windows' thread message queues; posts from any thread keep their order.
#include "platform/Window.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/linux/MessageQueue.h"

namespace platform {

namespace {

struct Message {
  WindowHandle window;  // 0 for a quit message
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

struct Queue {
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<Message> messages;
  std::atomic<MessageWakeHook> wake{nullptr};
  std::atomic<void*> wakeContext{nullptr};
};

struct WindowRecord {
  std::shared_ptr<Queue> queue;
  std::atomic<void*> owner{nullptr};
  std::atomic<WindowProcedure> procedure{DefaultWindowProcedure};
};

std::mutex g_registryMutex;
std::unordered_map<WindowHandle, std::shared_ptr<WindowRecord>> g_windows;
WindowHandle g_nextHandle = 0x10000;
std::atomic<bool> g_failCreate{false};
std::atomic<uint32_t> g_failPost{0};

std::shared_ptr<Queue>& ThreadQueue() {
  thread_local std::shared_ptr<Queue> queue = std::make_shared<Queue>();
  return queue;
}

std::shared_ptr<WindowRecord> FindWindow(WindowHandle window) {
  std::lock_guard<std::mutex> hold(g_registryMutex);
  auto found = g_windows.find(window);
  return found == g_windows.end() ? nullptr : found->second;
}

void Push(Queue& queue, const Message& message) {
  {
    std::lock_guard<std::mutex> hold(queue.mutex);
    queue.messages.push_back(message);
  }
  queue.posted.notify_one();
  if (MessageWakeHook wake = queue.wake.load()) wake(queue.wakeContext.load());
}

// Hands one message to its window's procedure; false for a quit message.
bool Dispatch(const Message& message) {
  if (message.window == 0 && message.message == kMessageQuit) return false;
  std::shared_ptr<WindowRecord> record = FindWindow(message.window);
  if (record)
    record->procedure.load()(message.window, message.message, message.wParam, message.lParam);
  return true;
}

}  // namespace

WindowHandle CreateMessageWindow(const char* /*title*/) {
  if (g_failCreate.load()) return 0;
  auto record = std::make_shared<WindowRecord>();
  record->queue = ThreadQueue();
  std::lock_guard<std::mutex> hold(g_registryMutex);
  WindowHandle handle = g_nextHandle;
  g_nextHandle += 2;
  g_windows[handle] = record;
  return handle;
}

void SetWindowOwner(WindowHandle window, void* owner) {
  if (auto record = FindWindow(window)) record->owner.store(owner);
}

void* GetWindowOwner(WindowHandle window) {
  auto record = FindWindow(window);
  return record ? record->owner.load() : nullptr;
}

void SetWindowProcedure(WindowHandle window, WindowProcedure procedure) {
  if (auto record = FindWindow(window)) record->procedure.store(procedure);
}

intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t, intptr_t) {
  if (message == kMessageClose) DestroyMessageWindow(window);
  return 0;
}

bool PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message != 0 && message == g_failPost.load()) return false;
  std::shared_ptr<WindowRecord> record = FindWindow(window);
  if (!record) return false;
  Push(*record->queue, Message{window, message, wParam, lParam});
  return true;
}

intptr_t SendToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<WindowRecord> record = FindWindow(window);
  return record ? record->procedure.load()(window, message, wParam, lParam) : 0;
}

bool TakeQueuedMessage(WindowHandle window, uint32_t message, uintptr_t* wParam, intptr_t* lParam) {
  std::shared_ptr<WindowRecord> record = FindWindow(window);
  if (!record) return false;
  std::lock_guard<std::mutex> hold(record->queue->mutex);
  auto& messages = record->queue->messages;
  for (auto it = messages.begin(); it != messages.end(); ++it) {
    if (it->window == window && it->message == message) {
      *wParam = it->wParam;
      *lParam = it->lParam;
      messages.erase(it);
      return true;
    }
  }
  return false;
}

void DestroyMessageWindow(WindowHandle window) {
  std::shared_ptr<WindowRecord> record;
  {
    std::lock_guard<std::mutex> hold(g_registryMutex);
    auto found = g_windows.find(window);
    if (found == g_windows.end()) return;
    record = found->second;
    g_windows.erase(found);
  }
  std::lock_guard<std::mutex> hold(record->queue->mutex);
  auto& messages = record->queue->messages;
  for (auto it = messages.begin(); it != messages.end();)
    it = it->window == window ? messages.erase(it) : it + 1;
}

bool WindowExists(WindowHandle window) { return FindWindow(window) != nullptr; }

bool GetAndDispatchMessage() {
  Queue& queue = *ThreadQueue();
  Message message;
  {
    std::unique_lock<std::mutex> hold(queue.mutex);
    queue.posted.wait(hold, [&] { return !queue.messages.empty(); });
    message = queue.messages.front();
    queue.messages.pop_front();
  }
  return Dispatch(message);
}

bool PeekAndDispatchMessage(bool* quit) {
  Queue& queue = *ThreadQueue();
  Message message;
  {
    std::lock_guard<std::mutex> hold(queue.mutex);
    if (queue.messages.empty()) return false;
    message = queue.messages.front();
    queue.messages.pop_front();
  }
  *quit = !Dispatch(message);
  return true;
}

bool DispatchQueuedMessage() {
  Queue& queue = *ThreadQueue();
  Message message;
  {
    std::lock_guard<std::mutex> hold(queue.mutex);
    if (queue.messages.empty()) return false;
    message = queue.messages.front();
    if (message.window == 0 && message.message == kMessageQuit) return false;
    queue.messages.pop_front();
  }
  Dispatch(message);
  return true;
}

void SetMessageWakeHook(MessageWakeHook hook, void* context) {
  Queue& queue = *ThreadQueue();
  queue.wakeContext.store(context);
  queue.wake.store(hook);
}

void SetWindowFaults(bool failCreate, uint32_t failPost) {
  g_failCreate.store(failCreate);
  g_failPost.store(failPost);
}

void PostQuit(int /*exitCode*/) { Push(*ThreadQueue(), Message{0, kMessageQuit, 0, 0}); }

}  // namespace platform
