// An in-memory wave output device for tests, installed with
// platform::InstallWaveOutApi. It behaves like the real device where the
// engine relies on it (open announced to the window, buffers returned one by
// one in the order queued, each with kMessageWaveOutDone) but nothing plays
// by itself: the test decides the play position and when each buffer comes
// back, and can make any step of the buffer set-up fail.
//
// Every call records one event ("open", "prepare 2", "write 0", "reset", ...;
// buffers are numbered in the order their headers were first prepared,
// memory in the order it was allocated). Thread-safe: the Mixer thread and
// the test thread use it at once.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WaveOut.h"

namespace platform {

class VirtualWaveOut : public WaveOutApi {
 public:
  VirtualWaveOut();
  ~VirtualWaveOut() override;

  // --- Set-up by the test (before the device is opened) ---
  void SetDeviceNames(const std::vector<std::string>& names);
  // Open returns this result (nonzero: fails and announces nothing).
  void SetOpenResult(uint32_t result);
  // While set, Open succeeds but posts nothing; AnnounceOpen posts it later.
  void SetDeferOpen(bool defer);
  // The index-th allocation / lock (0-based, counted since construction)
  // fails; -1 for none.
  void FailAllocation(int index);
  void FailLock(int index);
  // Preparing buffer index fails with result.
  void FailPrepare(int index, uint32_t result);
  // Every write of buffer index fails with result (0: none).
  void FailWrite(int index, uint32_t result);

  // --- The play position ---
  void SetPosition(uint32_t frames);
  // Answer in another time format (isSamples false) instead of samples.
  void SetPositionInOtherFormat(bool other);
  // GetPosition returns this result (nonzero: fails).
  void SetPositionResult(uint32_t result);

  // --- Driving the device ---
  // Posts the open notification that SetDeferOpen held back. False when no
  // device is open.
  bool AnnounceOpen();
  // Hands the oldest queued buffer back as the device does: flags done, not
  // queued, and kMessageWaveOutDone (wParam the device, lParam the header)
  // posted to the window. Returns the buffer's index, or -1 when none is queued.
  int ReturnNextBuffer();
  // Waits until the total number of successful writes reaches count. False on
  // timeout.
  bool WaitForWrites(int count, int timeoutMs);

  // --- What happened ---
  std::vector<std::string> Events();
  int WriteCount();
  int QueuedCount();
  // Buffer memory allocated and not yet freed.
  int LiveMemoryCount();
  // Buffers prepared and not unprepared.
  int PreparedCount();
  bool IsOpen();
  WindowHandle Window();
  // The header of buffer index (in prepare order), or null.
  WaveHeader* Header(int index);

  // --- WaveOutApi ---
  uint32_t GetNumDevs() override;
  uint32_t GetDeviceName(uint32_t deviceId, char name[32]) override;
  uint32_t Open(WaveOutHandle* device, uint32_t deviceId, WindowHandle window) override;
  uint32_t PrepareHeader(WaveOutHandle device, WaveHeader* header) override;
  uint32_t UnprepareHeader(WaveOutHandle device, WaveHeader* header) override;
  uint32_t Write(WaveOutHandle device, WaveHeader* header) override;
  uint32_t GetPosition(WaveOutHandle device, uint32_t* frames, bool* isSamples) override;
  uint32_t Reset(WaveOutHandle device) override;
  uint32_t Close(WaveOutHandle device) override;
  MemoryHandle AllocBufferMemory(uint32_t bytes) override;
  void* LockBufferMemory(MemoryHandle memory) override;
  void UnlockBufferMemory(MemoryHandle memory) override;
  void FreeBufferMemory(MemoryHandle memory) override;

 private:
  struct Memory {
    char* data;
    int index;
    bool locked;
  };

  int BufferIndexLocked(const WaveHeader* header);
  bool ValidLocked(WaveOutHandle device) const;

  std::mutex mutex_;
  std::condition_variable written_;
  std::vector<std::string> names_{"Virtual Wave Out"};
  uint32_t openResult_ = kWaveOk;
  bool deferOpen_ = false;
  int failAllocation_ = -1;
  int failLock_ = -1;
  int failPrepareIndex_ = -1;
  uint32_t failPrepareResult_ = kWaveOk;
  int failWriteIndex_ = -1;
  uint32_t failWriteResult_ = kWaveOk;
  uint32_t position_ = 0;
  bool otherFormat_ = false;
  uint32_t positionResult_ = kWaveOk;

  WaveOutHandle handle_ = 0;
  WaveOutHandle nextHandle_ = 0x5000;
  WindowHandle window_ = 0;
  std::vector<std::string> events_;
  std::vector<WaveHeader*> headers_;  // in first-prepare order
  std::vector<bool> prepared_;
  std::deque<WaveHeader*> queue_;
  int writes_ = 0;
  std::vector<Memory> memory_;
  int allocations_ = 0;
  int locks_ = 0;
};

}  // namespace platform
