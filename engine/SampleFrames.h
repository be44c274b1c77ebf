// The frames of one recording: a left and a right array of equal length in one
// block. Copies share the block (reference counted), so an instrument set that
// names one file many times holds its frames once. A block is written only
// while one holder has it (filled after Allocate), and is read-only once
// shared; the voices read it through Sample::left and Sample::right.
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
  // frames still has (empty) arrays.
  static SampleFrames Allocate(int32_t frameCount);

  explicit operator bool() const { return block_ != nullptr; }
  int16_t* Left() const;
  int16_t* Right() const;
  int32_t Length() const;
  // Holders of this block, this one included; 0 for none.
  int32_t Holders() const;

 private:
  struct Block;
  void Release();
  Block* block_ = nullptr;
};
