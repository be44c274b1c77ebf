// The frames of one recording: a left and a right array of equal length in one
// block, or for a mono recording one array that is both (Left() == Right()),
// so its frames are held once. Copies share the block (reference counted), so an instrument set
// that names one file many times holds its frames once. A block is written only while one holder
// has it (filled after Allocate), and is read-only once shared; the voices read it through
// Sample::left and Sample::right.
#pragma once
#include <cstdint>

class SampleFrames {
 public:
  SampleFrames() = default;
  ~SampleFrames() { Release(); }
  SampleFrames(const SampleFrames& other);
  SampleFrames& operator=(const SampleFrames& other);

  // A new block of frameCount frames per channel, contents not initialised;
  // empty when the count is negative or there is no memory. A block of 0
  // frames still has (empty) arrays. With one channel, left and right are the
  // same array: whoever fills it writes each frame once, through either.
  static SampleFrames Allocate(int32_t frameCount, int channels = 2);

  explicit operator bool() const { return block_ != nullptr; }
  int16_t* Left() const;
  int16_t* Right() const;
  int32_t Length() const;
  // 1 when left and right are one array, 2 when they are two; 0 for none.
  int32_t Channels() const;
  // Holders of this block, this one included; 0 for none.
  int32_t Holders() const;

 private:
  struct Block;
  void Release();
  Block* block_ = nullptr;
};
