// Sample::LoadWave on arbitrary bytes: a refusal must leave the sample exactly
// as it was, a success must leave it whole.
#include <cstdint>
#include <cstdlib>

#include "engine/Sample.h"
#include "fuzz/FuzzFolder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFolder();
  WriteBytes("input.wav", Bytes(data, data + size));
  Sample sample;
  sample.Allocate(2);
  sample.left[0] = sample.left[1] = 7;
  sample.right[0] = sample.right[1] = -7;
  sample.rate = 12345;
  sample.baseNote = 33;
  const int16_t* left = sample.left;
  if (!sample.LoadWave("input.wav")) {
    if (sample.left != left || sample.length != 2 || sample.rate != 12345 ||
        sample.baseNote != 33 || sample.left[1] != 7 || sample.right[1] != -7)
      abort();
    return 0;
  }
  if (sample.length <= 0 || !sample.left || !sample.right || sample.baseNote != 64) abort();
  // Touch every frame so that a short array shows up under ASan.
  int64_t sum = 0;
  for (int32_t i = 0; i < sample.length; ++i) sum += sample.left[i] - sample.right[i];
  return sum == INT64_MIN;
}
