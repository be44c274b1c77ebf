// The Mixer's voices, made in advance with it: starting a voice under the
// lock and removing one in the refill never touch the heap. The most
// recently freed place is handed out first; at the start the first place is.
// Every call happens under Mixer::Lock (or before the Mixer thread starts,
// or after it has ended).
#pragma once
#include <cstdint>
#include <new>
#include <type_traits>

#include "engine/Voice.h"

template <int32_t Capacity>
class VoicePool {
 public:
  VoicePool() {
    for (int32_t i = 0; i < Capacity; ++i)
      free_[i] = reinterpret_cast<Voice*>(&places_[Capacity - 1 - i]);
  }
  VoicePool(const VoicePool&) = delete;
  VoicePool& operator=(const VoicePool&) = delete;

  // A new voice in a free place; null when every place is taken.
  Voice* New(int32_t note, int32_t channel, int32_t velocity, int32_t volume,
             Instrument* instrument) {
    if (freeCount_ == 0) return nullptr;
    freeCount_ -= 1;
    return new (free_[freeCount_]) Voice(note, channel, velocity, volume, instrument);
  }

  // voice came from New and is not used any more.
  void Free(Voice* voice) {
    voice->~Voice();
    free_[freeCount_] = voice;
    freeCount_ += 1;
  }

 private:
  std::aligned_storage_t<sizeof(Voice), alignof(Voice)> places_[Capacity];
  Voice* free_[Capacity];
  int32_t freeCount_ = Capacity;
};
