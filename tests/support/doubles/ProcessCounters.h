// What the process holds, for tests that look for leaks: its threads and its
// open handles (file descriptors on Linux). -1 where the system cannot tell.
#pragma once

namespace platform {

int ProcessThreadCount();
int ProcessHandleCount();

}  // namespace platform
