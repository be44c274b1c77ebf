// Linux-only additions to the message windows, for a toolkit's event loop
// (the Qt window) that must drain the user-interface thread's queue itself.
#pragma once

namespace platform {

// Called from the posting thread after every post to the calling thread's
// queue; it must only schedule a drain (never dispatch or wait).
using MessageWakeHook = void (*)(void* context);
void SetMessageWakeHook(MessageWakeHook hook, void* context);

// Dispatches one queued message of the calling thread without waiting. False
// when the queue was empty; *quit tells whether it was a quit message.
bool PeekAndDispatchMessage(bool* quit);

}  // namespace platform
