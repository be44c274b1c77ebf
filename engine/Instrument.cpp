#include "engine/Instrument.h"

#include <cmath>

Instrument::Instrument() {
  for (int32_t& entry : noteMap) entry = -1;
}

Instrument::~Instrument() {
  for (int32_t i = 0; i < sampleCount; ++i) delete samples[i];
  delete[] samples;
  samples = nullptr;
  sampleCount = 0;
  delete[] name;
  name = nullptr;
}

int32_t Instrument::AddSample(Sample* sample) {
  Sample** grown = new Sample*[sampleCount + 1];
  for (int32_t i = 0; i < sampleCount; ++i) grown[i] = samples[i];
  delete[] samples;
  samples = grown;
  samples[sampleCount] = sample;
  sampleCount += 1;
  return sampleCount - 1;
}

Sample* Instrument::SampleForNote(int32_t note) const {
  if (note < 0 || note > 127) return nullptr;
  int32_t entry = noteMap[note];
  if (entry < 0 || entry >= sampleCount) return nullptr;
  return samples[entry];
}

void Instrument::MakeDefault() {
  sampleCount = 1;
  samples = new Sample*[1];
  Sample* tone = new Sample();
  samples[0] = tone;
  tone->rate = 44100;
  tone->baseNote = 64;
  tone->Allocate(0x20000);
  for (int32_t i = 0; i < tone->length; ++i) {
    double a = i * 0.0625;
    tone->left[i] = static_cast<int16_t>(static_cast<int32_t>(std::sin(a) * 2048));
    tone->right[i] = static_cast<int16_t>(static_cast<int32_t>(std::sin(a + 0.1) * 2048));
  }
  for (int32_t& entry : noteMap) entry = 0;
}
