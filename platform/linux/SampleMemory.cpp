#include "platform/SampleMemory.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PELVANE_SAMPLE_MEMORY_FROM_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define PELVANE_SAMPLE_MEMORY_FROM_MALLOC 1
#endif
#endif

namespace platform {

#ifdef PELVANE_SAMPLE_MEMORY_FROM_MALLOC

// The sanitizer's own heap puts guards around every block.
void* AllocateSampleMemory(size_t bytes) { return std::malloc(bytes > 0 ? bytes : 1); }
void FreeSampleMemory(void* memory) { std::free(memory); }

#else

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;
// Small enough that a block which outlives the others of its region (the
// built-in tone, made before any set) keeps little of their memory.
constexpr size_t kRegionBytes = size_t{16} << 20;
// A block larger than this gets a mapping of its own.
constexpr size_t kLargestCut = kRegionBytes / 4;
constexpr size_t kAlign = 64;

// One mapping: the blocks cut from it, plus one while it is the region
// blocks are cut from; whoever brings the count to 0 unmaps it.
struct Region {
  std::atomic<size_t> users;
  size_t mapped;  // bytes, this header included
  size_t used;    // bytes cut so far, this header included
};

// Every block starts with the region it was cut from.
struct alignas(kAlign) BlockHeader {
  Region* region;
};

// A mapping of at least bytes, aligned to a huge page, asking for them
// where they are whole (a huge page in part would be resident in whole).
Region* MapRegion(size_t bytes) {
  const size_t mapped = (bytes + kPage - 1) / kPage * kPage;
  void* raw =
      mmap(nullptr, mapped + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  // The unaligned head and the tail beyond go back at once.
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + mapped + kHugePage;
  if (end > aligned + mapped)
    munmap(reinterpret_cast<void*>(aligned + mapped), end - (aligned + mapped));
  void* memory = reinterpret_cast<void*>(aligned);
  // Without huge pages the region works as well, only slower to fill.
  if (mapped >= kHugePage) (void)madvise(memory, mapped / kHugePage * kHugePage, MADV_HUGEPAGE);
  Region* region = new (memory) Region;
  region->users.store(1, std::memory_order_relaxed);
  region->mapped = mapped;
  region->used = (sizeof(Region) + kAlign - 1) / kAlign * kAlign;
  return region;
}

void Unuse(Region* region) {
  if (region->users.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    const size_t mapped = region->mapped;
    region->~Region();
    munmap(region, mapped);
  }
}

std::mutex cutting;
Region* current = nullptr;  // the region blocks are cut from, under cutting

}  // namespace

void* AllocateSampleMemory(size_t bytes) {
  if (bytes > SIZE_MAX / 2) return nullptr;
  const size_t cut = (sizeof(BlockHeader) + bytes + kAlign - 1) / kAlign * kAlign;
  Region* region = nullptr;
  size_t offset = 0;
  if (cut > kLargestCut) {
    region = MapRegion(cut + kAlign);
    if (!region) return nullptr;
    offset = region->used;
    region->used += cut;  // its only block: the count stays at 1
  } else {
    std::lock_guard<std::mutex> hold(cutting);
    if (!current || current->mapped - current->used < cut) {
      Region* fresh = MapRegion(kRegionBytes);
      if (!fresh) return nullptr;
      if (current) Unuse(current);
      current = fresh;
    }
    region = current;
    offset = region->used;
    region->used += cut;
    region->users.fetch_add(1, std::memory_order_relaxed);
  }
  auto* header = reinterpret_cast<BlockHeader*>(reinterpret_cast<char*>(region) + offset);
  header->region = region;
  return header + 1;
}

void FreeSampleMemory(void* memory) {
  if (!memory) return;
  Unuse((static_cast<BlockHeader*>(memory) - 1)->region);
}

#endif

}  // namespace platform
