// A plain sleep for tests and their helper programs (the program itself never
// sleeps: it waits for messages).
#pragma once
#include <chrono>
#include <thread>

namespace platform {

inline void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms < 0 ? 0 : ms));
}

}  // namespace platform
