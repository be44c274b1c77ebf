// The one hand-over between threads that never waits: a bounded ring of
// fixed-size slots, filled by any number of producers at once and emptied by
// one consumer. Every real-time path that passes data on uses it (the JACK
// MIDI input, the wave device, the debugger output, the log, the message
// windows' queues), so its memory-order reasoning lives here alone.
//
// The slots are allocated once, by the constructor; pushing and popping never
// allocate, lock or make a system call. A push into a full ring fails at once
// and leaves the ring as it was: the caller counts what it dropped.
//
// How it stays consistent (each slot carries a sequence number, as in
// Vyukov's bounded queue):
// - Position p lives in slot p % capacity. The slot is free for p while its
//   sequence is p, holds p's item once it is p + 1, and is free for the next
//   lap, p + capacity, once the consumer is done with it.
// - A producer claims positions [p, p + count) by moving `head_` from p to
//   p + count with a compare-and-swap, after it has seen (acquire) that the
//   last of them is free. The consumer frees slots strictly in order, each
//   with a release store, so that one acquire also shows the earlier slots
//   free and every read the consumer made of them finished.
// - The producer fills its slots and then publishes them last to first, each
//   sequence with a release store; the consumer reads the first slot's
//   sequence with acquire, so once it sees a run's first slot published it
//   sees all of the run and its contents.
// Lines of one producer keep their order; items of several producers come
// out in the order their claims succeeded.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

namespace platform {

template <typename T>
class Ring {
 public:
  // capacity: a power of two, at least 1. Default-constructs every slot.
  explicit Ring(uint32_t capacity)
      : mask_(capacity - 1), cells_(std::make_unique<Cell[]>(capacity)) {
    for (uint32_t i = 0; i < capacity; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
  }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  uint32_t Capacity() const { return mask_ + 1; }

  // Any thread. Claims count consecutive slots (1 <= count <= capacity),
  // calls fill(slot, index) for index 0 .. count - 1, then publishes them
  // together: the consumer sees all of them or none. False, with nothing
  // claimed, when the ring lacks room for all of them.
  template <typename Fill>
  bool TryPushRun(uint32_t count, Fill&& fill) {
    if (count == 0 || count > Capacity()) return false;
    uint64_t position = head_.load(std::memory_order_relaxed);
    for (;;) {
      const uint64_t last = position + count - 1;
      const uint64_t sequence = cells_[last & mask_].sequence.load(std::memory_order_acquire);
      const int64_t lag = static_cast<int64_t>(sequence - last);
      if (lag == 0) {
        if (head_.compare_exchange_weak(position, position + count, std::memory_order_relaxed))
          break;
      } else if (lag < 0) {
        // The slot still holds the item of the lap before: full. A stale
        // position only makes this look fuller; read the head once more.
        const uint64_t now = head_.load(std::memory_order_relaxed);
        if (now == position) return false;
        position = now;
      } else {
        position = head_.load(std::memory_order_relaxed);
      }
    }
    for (uint32_t i = 0; i < count; ++i) fill(cells_[(position + i) & mask_].item, i);
    for (uint32_t i = count; i-- > 0;)
      cells_[(position + i) & mask_].sequence.store(position + i + 1, std::memory_order_release);
    return true;
  }
  bool TryPush(const T& item) {
    return TryPushRun(1, [&item](T& slot, uint32_t) { slot = item; });
  }

  // The consumer thread only (one at a time). The item offset places after
  // the oldest, or null while that one is not published yet. Once the oldest
  // of a run is published, every item of the run is.
  T* Peek(uint32_t offset = 0) {
    const uint64_t position = tail_.load(std::memory_order_relaxed) + offset;
    Cell& cell = cells_[position & mask_];
    if (cell.sequence.load(std::memory_order_acquire) != position + 1) return nullptr;
    return &cell.item;
  }
  // The consumer thread: frees the count oldest items, all published.
  void Pop(uint32_t count = 1) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < count; ++i)
      cells_[(tail + i) & mask_].sequence.store(tail + i + Capacity(), std::memory_order_release);
    tail_.store(tail + count, std::memory_order_release);
  }
  bool TryPop(T* item) {
    T* oldest = Peek();
    if (!oldest) return false;
    *item = *oldest;
    Pop();
    return true;
  }

  // Any thread: the items claimed and not yet freed, a moment ago (a claim
  // still being filled counts).
  uint32_t Size() const {
    const uint64_t tail = tail_.load(std::memory_order_acquire);
    const uint64_t head = head_.load(std::memory_order_acquire);
    return head > tail ? static_cast<uint32_t>(head - tail) : 0;
  }

 private:
  struct Cell {
    std::atomic<uint64_t> sequence{0};
    T item{};
  };

  const uint32_t mask_;
  std::unique_ptr<Cell[]> cells_;
  // Apart, so that producers and the consumer do not share a cache line.
  alignas(64) std::atomic<uint64_t> head_{0};  // the next position to claim
  alignas(64) std::atomic<uint64_t> tail_{0};  // the oldest position not freed
};

}  // namespace platform
