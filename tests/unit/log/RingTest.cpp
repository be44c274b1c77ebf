#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/Ring.h"

namespace {

struct Item {
  uint32_t producer = 0;
  uint32_t serial = 0;  // the run's number within its producer
  uint32_t index = 0;   // the place within its run
  uint32_t length = 0;  // the run's length
};

TEST(Ring, RefusesWhatDoesNotFitWholeAndKeepsOrderAcrossLaps) {
  platform::Ring<uint32_t> ring(8);
  uint32_t next = 0, expected = 0, value = 0;
  auto pushRun = [&] {
    return ring.TryPushRun(3, [&](uint32_t& slot, uint32_t index) { slot = next + index; }) &&
           (next += 3, true);
  };
  // Two runs of 3 fit; the third would need 3 of the 2 places left and
  // leaves the ring as it was.
  EXPECT_TRUE(pushRun());
  EXPECT_TRUE(pushRun());
  EXPECT_FALSE(pushRun());
  EXPECT_EQ(ring.Size(), 6u);
  EXPECT_TRUE(ring.TryPush(next++));
  EXPECT_TRUE(ring.TryPush(next++));
  EXPECT_FALSE(ring.TryPush(12345));
  // Many laps, taking a varying number each time, so that runs wrap the end
  // of the slots at every place.
  for (int lap = 0; lap < 50; ++lap) {
    const uint32_t take = 1 + lap % 6;
    for (uint32_t i = 0; i < take; ++i) {
      ASSERT_TRUE(ring.TryPop(&value));
      EXPECT_EQ(value, expected++);
    }
    while (pushRun()) {
    }
    EXPECT_GT(ring.Size(), 5u);
    EXPECT_LE(ring.Size(), 8u);
  }
  while (ring.TryPop(&value)) EXPECT_EQ(value, expected++);
  EXPECT_EQ(expected, next);
  EXPECT_EQ(ring.Size(), 0u);
  EXPECT_EQ(ring.Peek(), nullptr);
  EXPECT_FALSE(ring.TryPushRun(9, [](uint32_t&, uint32_t) {}));
  EXPECT_TRUE(ring.TryPushRun(8, [](uint32_t& slot, uint32_t i) { slot = i; }));
  ASSERT_NE(ring.Peek(7), nullptr);
  EXPECT_EQ(*ring.Peek(7), 7u);
}

// Four producers push runs of 1 to 3 items as fast as they can into a small
// ring while one consumer takes them: every item not refused comes out once,
// runs whole and each producer's in its own order.
TEST(Ring, ManyProducersOneConsumerLoseNothingTheyWereNotTold) {
  constexpr uint32_t kProducers = 4, kRuns = 60000;
  platform::Ring<Item> ring(64);
  std::atomic<uint32_t> producing{kProducers};
  std::vector<uint64_t> refused(kProducers, 0), pushed(kProducers, 0);
  std::vector<std::thread> producers;
  for (uint32_t p = 0; p < kProducers; ++p)
    producers.emplace_back([&, p] {
      for (uint32_t serial = 0; serial < kRuns; ++serial) {
        const uint32_t length = 1 + (serial + p) % 3;
        if (ring.TryPushRun(length, [&](Item& slot, uint32_t index) {
              slot = Item{p, serial, index, length};
            }))
          pushed[p] += length;
        else
          refused[p] += length;
      }
      producing.fetch_sub(1);
    });
  std::vector<int64_t> lastSerial(kProducers, -1);
  std::vector<uint64_t> taken(kProducers, 0);
  for (;;) {
    const bool done = producing.load() == 0;
    Item* first = ring.Peek();
    if (!first) {
      if (done) break;
      std::this_thread::yield();
      continue;
    }
    const Item head = *first;
    ASSERT_LT(head.producer, kProducers);
    ASSERT_EQ(head.index, 0u);
    ASSERT_GT(static_cast<int64_t>(head.serial), lastSerial[head.producer]);
    lastSerial[head.producer] = head.serial;
    for (uint32_t i = 1; i < head.length; ++i) {
      Item* part = ring.Peek(i);
      ASSERT_NE(part, nullptr);
      EXPECT_EQ(part->producer, head.producer);
      EXPECT_EQ(part->serial, head.serial);
      EXPECT_EQ(part->index, i);
    }
    ring.Pop(head.length);
    taken[head.producer] += head.length;
  }
  for (std::thread& producer : producers) producer.join();
  for (uint32_t p = 0; p < kProducers; ++p) {
    EXPECT_EQ(taken[p], pushed[p]);
    EXPECT_EQ(pushed[p] + refused[p], uint64_t{kRuns} * 2);  // runs of 1, 2, 3 in turn
  }
}

}  // namespace
