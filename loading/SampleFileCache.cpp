#include "loading/SampleFileCache.h"

#include <new>

const SampleFileCache::Entry* SampleFileCache::Find(const char* path) const {
  auto found = entries_.find(path);
  return found == entries_.end() ? nullptr : &found->second;
}

void SampleFileCache::Add(const char* path, const Sample& loaded) {
  // The map and its keys allocate with operator new; the failure stays here.
  try {
    Entry& entry = entries_[path];
    entry.frames = loaded.Frames();
    entry.rate = loaded.rate;
    entry.fileLoopStart = loaded.fileLoopStart;
    entry.fileLoopEnd = loaded.fileLoopEnd;
  } catch (const std::bad_alloc&) {
  }
}
