#include "loading/SampleFileCache.h"

#include <new>

const SampleFileCache::Entry* SampleFileCache::Find(const char* path) const {
  auto found = entries_.find(path);
  return found == entries_.end() ? nullptr : &found->second;
}

void SampleFileCache::Add(const char* path, const SampleFrames& frames, int32_t rate) {
  // The map and its keys allocate with operator new; the failure stays here.
  try {
    Entry& entry = entries_[path];
    entry.frames = frames;
    entry.rate = rate;
  } catch (const std::bad_alloc&) {
  }
}
