#include "loading/SampleFileCache.h"

const SampleFileCache::Entry* SampleFileCache::Find(const char* path) const {
  auto found = entries_.find(path);
  return found == entries_.end() ? nullptr : &found->second;
}

void SampleFileCache::Add(const char* path, const SampleFrames& frames, int32_t rate) {
  Entry& entry = entries_[path];
  entry.frames = frames;
  entry.rate = rate;
}
