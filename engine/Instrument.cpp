#include "engine/Instrument.h"

#include <cmath>
#include <memory>
#include <new>

Instrument::Instrument() {
  for (int32_t& entry : noteMap) entry = -1;
}

int32_t Instrument::AddSample(Sample* sample) {
  std::unique_ptr<std::unique_ptr<Sample>[]> grown(new (std::nothrow)
                                                       std::unique_ptr<Sample>[sampleCount + 1]);
  if (!grown) return -1;
  for (int32_t i = 0; i < sampleCount; ++i) grown[i] = std::move(samples[i]);
  samples = std::move(grown);
  samples[sampleCount].reset(sample);
  sampleCount += 1;
  return sampleCount - 1;
}

Sample* Instrument::SampleForNote(int32_t note) const {
  if (note < 0 || note > 127) return nullptr;
  int32_t entry = noteMap[note];
  if (entry < 0 || entry >= sampleCount) return nullptr;
  return samples[entry].get();
}

bool Instrument::MakeDefault() {
  std::unique_ptr<Sample> made(new (std::nothrow) Sample());
  if (!made) return false;
  made->rate = 44100;
  made->baseNote = 64;
  made->Allocate(0x20000);
  if (made->length == 0 || AddSample(made.get()) < 0) return false;
  Sample* tone = made.release();  // the instrument owns it now
  for (int32_t i = 0; i < tone->length; ++i) {
    double a = i * 0.0625;
    tone->left[i] = static_cast<int16_t>(static_cast<int32_t>(std::sin(a) * 2048));
    tone->right[i] = static_cast<int16_t>(static_cast<int32_t>(std::sin(a + 0.1) * 2048));
  }
  for (int32_t& entry : noteMap) entry = 0;
  return true;
}
