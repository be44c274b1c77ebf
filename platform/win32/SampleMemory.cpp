#include "platform/SampleMemory.h"

#include <cstdlib>

namespace platform {

void* AllocateSampleMemory(size_t bytes) { return std::malloc(bytes > 0 ? bytes : 1); }

void FreeSampleMemory(void* memory) { std::free(memory); }

}  // namespace platform
