// The sample files one instrument set has loaded, by the path its "file"
// lines name: a file named again is not read again, and every sample that
// names it shares one read-only block of frames. Lives for one load of the
// set; a file that did not load is tried (and reported) each time.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "engine/Sample.h"
#include "engine/SampleFrames.h"

class SampleFileCache {
 public:
  struct Entry {
    SampleFrames frames;
    int32_t rate = 0;
    int32_t fileLoopStart = -1;
    int32_t fileLoopEnd = -1;
  };
  // The entry for exactly this path, or null.
  const Entry* Find(const char* path) const;
  // Without memory for the entry the path is simply not remembered: the
  // frames stay with the sample that loaded them.
  // The sample has just been loaded from the path: its frames, rate and file
  // loop are remembered.
  void Add(const char* path, const Sample& loaded);

 private:
  // Searched by the path as given, without building a string for it.
  std::map<std::string, Entry, std::less<>> entries_;
};
