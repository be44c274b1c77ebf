#include "engine/SampleFrames.h"

#include <atomic>
#include <new>

#include "platform/SampleMemory.h"

// Header and frames in one allocation: left, then right (when there are two
// channels; with one, right is left).
struct SampleFrames::Block {
  std::atomic<int32_t> holders;
  int32_t length;
  int32_t channels;
  int16_t* Frames() { return reinterpret_cast<int16_t*>(this + 1); }
};

SampleFrames::SampleFrames(const SampleFrames& other) : block_(other.block_) {
  if (block_) block_->holders.fetch_add(1, std::memory_order_relaxed);
}

// The other block's count is raised before this one's is lowered, so
// assigning a value to itself keeps its block.
// NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
SampleFrames& SampleFrames::operator=(const SampleFrames& other) {
  if (other.block_) other.block_->holders.fetch_add(1, std::memory_order_relaxed);
  Release();
  block_ = other.block_;
  return *this;
}

void SampleFrames::Release() {
  if (block_ && block_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block_->~Block();
    platform::FreeSampleMemory(block_);
  }
  block_ = nullptr;
}

SampleFrames SampleFrames::Allocate(int32_t frameCount, int channels) {
  SampleFrames frames;
  if (frameCount < 0 || channels < 1 || channels > 2) return frames;
  const size_t bytes = sizeof(Block) + static_cast<size_t>(channels) * sizeof(int16_t) *
                                           static_cast<size_t>(frameCount);
  void* memory = platform::AllocateSampleMemory(bytes);
  if (!memory) return frames;
  Block* block = new (memory) Block;
  block->holders.store(1, std::memory_order_relaxed);
  block->length = frameCount;
  block->channels = channels;
  frames.block_ = block;
  return frames;
}

int16_t* SampleFrames::Left() const { return block_ ? block_->Frames() : nullptr; }
int16_t* SampleFrames::Right() const {
  if (!block_) return nullptr;
  return block_->channels == 2 ? block_->Frames() + block_->length : block_->Frames();
}
int32_t SampleFrames::Length() const { return block_ ? block_->length : 0; }
int32_t SampleFrames::Channels() const { return block_ ? block_->channels : 0; }
int32_t SampleFrames::Holders() const {
  return block_ ? block_->holders.load(std::memory_order_relaxed) : 0;
}
