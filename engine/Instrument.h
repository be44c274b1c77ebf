// A named set of samples with a note map choosing, for each MIDI note, the
// sample that plays it.
#pragma once
#include <cstdint>
#include <memory>

#include "engine/Sample.h"

class Instrument {
 public:
  Instrument();
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  // Takes ownership of sample; returns its index. The note map is untouched.
  // -1 when there is no memory for the longer list: the sample is not taken.
  int32_t AddSample(Sample* sample);
  // The sample mapped to note, or null when none is (or note is not 0..127).
  Sample* SampleForNote(int32_t note) const;
  // Fills a freshly constructed instrument with the built-in tone: one sample
  // of a 438.7 Hz sine at 1/16 of full scale, mapped to every note. False,
  // the instrument left without samples, when there is no memory for it.
  bool MakeDefault();
  // The name as messages quote it: the empty string when there is none.
  const char* DisplayName() const { return name ? name.get() : ""; }

  std::unique_ptr<char[]> name;
  int32_t noteMap[128];
  int32_t sampleCount = 0;
  std::unique_ptr<std::unique_ptr<Sample>[]> samples;
};
