// Message windows: per-thread message queues with a procedure per window.
// Win32: a window of class "STATIC" (WS_POPUP, never shown) whose user data and
// procedure are replaced (SetWindowLongPtrA); PostMessageA; GetMessageA and
// DispatchMessageA. Linux: a registry of handles, one queue per thread.
//
// The procedure type has the WNDPROC calling convention on 64-bit Windows, so
// the Win32 backend installs it as the window procedure unchanged.
#pragma once
#include <cstdint>

namespace platform {

using WindowHandle = uintptr_t;  // 0: no window
using WindowProcedure = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam);

// System window messages (the platform's own numbers).
constexpr uint32_t kMessageClose = 0x0010;  // WM_CLOSE
constexpr uint32_t kMessageQuit = 0x0012;   // WM_QUIT
constexpr uint32_t kMessageUser = 0x0400;   // WM_USER

// On the thread that will receive its messages: creates a hidden window with
// this title. Its procedure is the default one until replaced.
WindowHandle CreateMessageWindow(const char* title);
// Stores the owner in the window's user data (GWLP_USERDATA).
void SetWindowOwner(WindowHandle window, void* owner);
// The owner stored with SetWindowOwner, or null (also for a window that is gone).
void* GetWindowOwner(WindowHandle window);
// Replaces the window's procedure (GWLP_WNDPROC).
void SetWindowProcedure(WindowHandle window, WindowProcedure procedure);
// DefWindowProcA: kMessageClose destroys the window; everything else returns 0.
intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);
// Any thread, never waits for the receiving thread. False when the window does
// not exist (any more); the message is then not delivered.
bool PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// The owning thread: calls the window's procedure at once (SendMessageA) and
// returns its result; 0 when the window does not exist.
intptr_t SendToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// The owning thread: takes the oldest queued message of this kind for this
// window out of the queue without dispatching it (PeekMessageA with
// PM_REMOVE). False when there is none.
bool TakeQueuedMessage(WindowHandle window, uint32_t message, uintptr_t* wParam, intptr_t* lParam);
// The owning thread: destroys the window; messages still queued for it are dropped.
void DestroyMessageWindow(WindowHandle window);
bool WindowExists(WindowHandle window);

// The calling thread's message loop step: waits for the next message for any
// window of this thread (or a quit message), then hands it to the window's
// procedure. Returns false when the message was a quit message (GetMessageA's 0).
bool GetAndDispatchMessage();
// The calling thread, without waiting: hands the oldest message queued for
// any window of this thread to its procedure (PeekMessageA with PM_REMOVE,
// TranslateMessage, DispatchMessageA). False when nothing is queued; a quit
// message is not dispatched, it stays queued for the message loop (false too).
bool DispatchQueuedMessage();
// The calling thread: waits until a message is queued for it, at most
// milliseconds. False when none came in that time.
bool WaitForQueuedMessage(unsigned milliseconds);
// Posts a quit message to the calling thread's queue (PostQuitMessage).
void PostQuit(int exitCode);

// For tests of the callers' failure paths, any thread: from now on
// CreateMessageWindow fails (returns 0) when failCreate is set, and every
// PostToWindow of the message failPost (0: none) fails, as on a system out of
// window handles or with a full queue.
void SetWindowFaults(bool failCreate, uint32_t failPost);

}  // namespace platform
