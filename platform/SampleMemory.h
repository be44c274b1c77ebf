// Memory for sample frames, which a set holds by the hundred megabytes and
// writes once as it loads. Linux: blocks are cut from 16 MB regions that ask
// for transparent huge pages, since touching a set's memory 4 KiB page by
// page costs more than reading its files (a 280 MB set loads in a third of
// the time); a region goes back to the system when its last block is freed.
// Win32, and builds under a sanitizer that watches the heap: malloc and free.
// Any thread may allocate and free; neither is for a real-time thread.
#pragma once
#include <cstddef>

namespace platform {

// At least bytes of memory aligned for any type, contents not initialised;
// null when there is none.
void* AllocateSampleMemory(size_t bytes);
// Frees what AllocateSampleMemory gave (null is allowed).
void FreeSampleMemory(void* memory);

}  // namespace platform
