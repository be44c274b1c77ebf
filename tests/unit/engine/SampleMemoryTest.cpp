#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/SampleMemory.h"

namespace {

struct Held {
  unsigned char* bytes;
  size_t size;
  unsigned char fill;
};

// Two threads cut blocks of many sizes (from a few bytes to past a region's
// quarter, so that regions fill, are left and are freed), each filled with
// its own byte; every block is still whole when all have been cut, and the
// blocks are freed in another order than they were made.
TEST(SampleMemory, BlocksCutOnTwoThreadsKeepTheirBytesAndAlignment) {
  std::vector<Held> held[2];
  auto cut = [&](int side) {
    uint32_t seed = 12345u + static_cast<uint32_t>(side);
    for (int i = 0; i < 300; ++i) {
      seed = seed * 1664525u + 1013904223u;
      size_t size = (seed >> 8) % 400000;
      if (i % 97 == 0) size = size_t{9} << 20;
      auto* bytes = static_cast<unsigned char*>(platform::AllocateSampleMemory(size));
      ASSERT_NE(bytes, nullptr);
      ASSERT_EQ(reinterpret_cast<uintptr_t>(bytes) % alignof(std::max_align_t), 0u);
      const auto fill = static_cast<unsigned char>(seed >> 24);
      std::memset(bytes, fill, size);
      held[side].push_back({bytes, size, fill});
    }
  };
  std::thread other(cut, 1);
  cut(0);
  other.join();
  for (int side = 0; side < 2; ++side) {
    for (size_t k = 0; k < held[side].size(); ++k) {
      const Held& block = held[side][k];
      for (size_t i = 0; i < block.size; i += 4093)
        ASSERT_EQ(block.bytes[i], block.fill) << "side " << side << " block " << k;
      if (block.size > 0) {
        ASSERT_EQ(block.bytes[block.size - 1], block.fill);
      }
    }
  }
  for (int side = 0; side < 2; ++side)
    for (size_t k = 0; k < held[side].size(); k += 2)
      platform::FreeSampleMemory(held[side][k].bytes);
  for (int side = 0; side < 2; ++side)
    for (size_t k = 1; k < held[side].size(); k += 2)
      platform::FreeSampleMemory(held[side][k].bytes);
  platform::FreeSampleMemory(nullptr);
}

}  // namespace
