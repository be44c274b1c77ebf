#include "support/doubles/VirtualWaveOut.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace platform {

using Hold = std::lock_guard<std::mutex>;

VirtualWaveOut::VirtualWaveOut() = default;

VirtualWaveOut::~VirtualWaveOut() {
  for (Memory& memory : memory_) delete[] memory.data;
}

void VirtualWaveOut::SetDeviceNames(const std::vector<std::string>& names) {
  Hold hold(mutex_);
  names_ = names;
}

void VirtualWaveOut::SetOpenResult(uint32_t result) {
  Hold hold(mutex_);
  openResult_ = result;
}

void VirtualWaveOut::SetDeferOpen(bool defer) {
  Hold hold(mutex_);
  deferOpen_ = defer;
}

void VirtualWaveOut::FailAllocation(int index) {
  Hold hold(mutex_);
  failAllocation_ = index;
}

void VirtualWaveOut::FailLock(int index) {
  Hold hold(mutex_);
  failLock_ = index;
}

void VirtualWaveOut::FailPrepare(int index, uint32_t result) {
  Hold hold(mutex_);
  failPrepareIndex_ = index;
  failPrepareResult_ = result;
}

void VirtualWaveOut::FailWrite(int index, uint32_t result) {
  Hold hold(mutex_);
  failWriteIndex_ = index;
  failWriteResult_ = result;
}

void VirtualWaveOut::SetPosition(uint32_t frames) {
  Hold hold(mutex_);
  position_ = frames;
}

void VirtualWaveOut::SetPositionInOtherFormat(bool other) {
  Hold hold(mutex_);
  otherFormat_ = other;
}

void VirtualWaveOut::SetPositionResult(uint32_t result) {
  Hold hold(mutex_);
  positionResult_ = result;
}

bool VirtualWaveOut::AnnounceOpen() {
  WindowHandle window;
  WaveOutHandle device;
  {
    Hold hold(mutex_);
    if (!handle_) return false;
    window = window_;
    device = handle_;
  }
  return PostToWindow(window, kMessageWaveOutOpen, device, 0);
}

int VirtualWaveOut::ReturnNextBuffer() {
  WaveHeader* header;
  WindowHandle window;
  WaveOutHandle device;
  int index;
  {
    Hold hold(mutex_);
    if (queue_.empty()) return -1;
    header = queue_.front();
    queue_.pop_front();
    header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
    index = BufferIndexLocked(header);
    events_.push_back("done " + std::to_string(index));
    window = window_;
    device = handle_;
  }
  PostToWindow(window, kMessageWaveOutDone, device, reinterpret_cast<intptr_t>(header));
  return index;
}

bool VirtualWaveOut::WaitForWrites(int count, int timeoutMs) {
  std::unique_lock<std::mutex> hold(mutex_);
  return written_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return writes_ >= count; });
}

std::vector<std::string> VirtualWaveOut::Events() {
  Hold hold(mutex_);
  return events_;
}

int VirtualWaveOut::WriteCount() {
  Hold hold(mutex_);
  return writes_;
}

int VirtualWaveOut::QueuedCount() {
  Hold hold(mutex_);
  return static_cast<int>(queue_.size());
}

int VirtualWaveOut::LiveMemoryCount() {
  Hold hold(mutex_);
  return static_cast<int>(
      std::count_if(memory_.begin(), memory_.end(), [](const Memory& m) { return m.data; }));
}

int VirtualWaveOut::PreparedCount() {
  Hold hold(mutex_);
  return static_cast<int>(std::count(prepared_.begin(), prepared_.end(), true));
}

bool VirtualWaveOut::IsOpen() {
  Hold hold(mutex_);
  return handle_ != 0;
}

WindowHandle VirtualWaveOut::Window() {
  Hold hold(mutex_);
  return window_;
}

WaveHeader* VirtualWaveOut::Header(int index) {
  Hold hold(mutex_);
  if (index < 0 || index >= static_cast<int>(headers_.size())) return nullptr;
  return headers_[static_cast<size_t>(index)];
}

uint32_t VirtualWaveOut::GetNumDevs() {
  Hold hold(mutex_);
  return static_cast<uint32_t>(names_.size());
}

uint32_t VirtualWaveOut::GetDeviceName(uint32_t deviceId, char name[32]) {
  Hold hold(mutex_);
  name[0] = 0;
  if (deviceId >= names_.size()) return kWaveBadDeviceId;
  std::strncpy(name, names_[deviceId].c_str(), 31);
  name[31] = 0;
  return kWaveOk;
}

uint32_t VirtualWaveOut::Open(WaveOutHandle* device, uint32_t deviceId, WindowHandle window) {
  bool announce;
  {
    Hold hold(mutex_);
    events_.push_back("open " + std::to_string(static_cast<int32_t>(deviceId)));
    *device = 0;
    if (openResult_ != kWaveOk) return openResult_;
    if (deviceId != kWaveMapper && deviceId >= names_.size()) return kWaveBadDeviceId;
    if (handle_) return kWaveError;  // one client at a time
    handle_ = nextHandle_++;
    window_ = window;
    *device = handle_;
    announce = !deferOpen_;
  }
  if (announce) PostToWindow(window, kMessageWaveOutOpen, *device, 0);
  return kWaveOk;
}

uint32_t VirtualWaveOut::PrepareHeader(WaveOutHandle device, WaveHeader* header) {
  Hold hold(mutex_);
  if (!ValidLocked(device)) return kWaveInvalidHandle;
  int index = BufferIndexLocked(header);
  if (index < 0) {
    headers_.push_back(header);
    prepared_.push_back(false);
    index = static_cast<int>(headers_.size()) - 1;
  }
  events_.push_back("prepare " + std::to_string(index));
  if (index == failPrepareIndex_) return failPrepareResult_;
  prepared_[static_cast<size_t>(index)] = true;
  header->flags |= kWaveHeaderPrepared;
  return kWaveOk;
}

uint32_t VirtualWaveOut::UnprepareHeader(WaveOutHandle device, WaveHeader* header) {
  Hold hold(mutex_);
  if (!ValidLocked(device)) return kWaveInvalidHandle;
  int index = BufferIndexLocked(header);
  events_.push_back("unprepare " + std::to_string(index));
  if (index < 0) return kWaveError;
  if (std::find(queue_.begin(), queue_.end(), header) != queue_.end()) return kWaveStillPlaying;
  prepared_[static_cast<size_t>(index)] = false;
  header->flags &= ~kWaveHeaderPrepared;
  return kWaveOk;
}

uint32_t VirtualWaveOut::Write(WaveOutHandle device, WaveHeader* header) {
  {
    Hold hold(mutex_);
    if (!ValidLocked(device)) return kWaveInvalidHandle;
    int index = BufferIndexLocked(header);
    events_.push_back("write " + std::to_string(index));
    if (index < 0 || !prepared_[static_cast<size_t>(index)]) return kWaveError;
    if (index == failWriteIndex_ && failWriteResult_ != kWaveOk) return failWriteResult_;
    header->flags = (header->flags & ~kWaveHeaderDone) | kWaveHeaderInQueue;
    queue_.push_back(header);
    writes_ += 1;
  }
  written_.notify_all();
  return kWaveOk;
}

uint32_t VirtualWaveOut::GetPosition(WaveOutHandle device, uint32_t* frames, bool* isSamples) {
  Hold hold(mutex_);
  *frames = 0;
  *isSamples = false;
  if (!ValidLocked(device)) return kWaveInvalidHandle;
  events_.push_back("position");
  if (positionResult_ != kWaveOk) return positionResult_;
  // Another format: the byte count, as a device that ignores the request would give.
  *frames = otherFormat_ ? position_ * 4 : position_;
  *isSamples = !otherFormat_;
  return kWaveOk;
}

uint32_t VirtualWaveOut::Reset(WaveOutHandle device) {
  std::vector<WaveHeader*> returned;
  WindowHandle window;
  {
    Hold hold(mutex_);
    if (!ValidLocked(device)) return kWaveInvalidHandle;
    events_.push_back("reset");
    returned.assign(queue_.begin(), queue_.end());
    queue_.clear();
    for (WaveHeader* header : returned)
      header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
    window = window_;
  }
  for (WaveHeader* header : returned)
    PostToWindow(window, kMessageWaveOutDone, device, reinterpret_cast<intptr_t>(header));
  return kWaveOk;
}

uint32_t VirtualWaveOut::Close(WaveOutHandle device) {
  WindowHandle window;
  {
    Hold hold(mutex_);
    if (!ValidLocked(device)) return kWaveInvalidHandle;
    events_.push_back("close");
    if (!queue_.empty()) return kWaveStillPlaying;
    window = window_;
    handle_ = 0;
    window_ = 0;
    headers_.clear();
    prepared_.clear();
  }
  PostToWindow(window, kMessageWaveOutClose, device, 0);
  return kWaveOk;
}

MemoryHandle VirtualWaveOut::AllocBufferMemory(uint32_t bytes) {
  Hold hold(mutex_);
  int index = allocations_++;
  events_.push_back("alloc " + std::to_string(index));
  if (index == failAllocation_) return 0;
  char* data = new (std::nothrow) char[bytes];
  if (!data) return 0;
  std::memset(data, 0x55, bytes);  // not zeroed, like the real thing
  memory_.push_back(Memory{data, index, false});
  return static_cast<MemoryHandle>(memory_.size());  // 1-based
}

void* VirtualWaveOut::LockBufferMemory(MemoryHandle memory) {
  Hold hold(mutex_);
  int lock = locks_++;
  if (memory == 0 || memory > memory_.size() || !memory_[memory - 1].data) return nullptr;
  Memory& entry = memory_[memory - 1];
  events_.push_back("lock " + std::to_string(entry.index));
  if (lock == failLock_) return nullptr;
  entry.locked = true;
  return entry.data;
}

void VirtualWaveOut::UnlockBufferMemory(MemoryHandle memory) {
  Hold hold(mutex_);
  if (memory == 0 || memory > memory_.size() || !memory_[memory - 1].data) return;
  Memory& entry = memory_[memory - 1];
  events_.push_back("unlock " + std::to_string(entry.index));
  entry.locked = false;
}

void VirtualWaveOut::FreeBufferMemory(MemoryHandle memory) {
  Hold hold(mutex_);
  if (memory == 0 || memory > memory_.size() || !memory_[memory - 1].data) return;
  Memory& entry = memory_[memory - 1];
  events_.push_back("free " + std::to_string(entry.index));
  delete[] entry.data;
  entry.data = nullptr;
}

int VirtualWaveOut::BufferIndexLocked(const WaveHeader* header) {
  auto found = std::find(headers_.begin(), headers_.end(), header);
  return found == headers_.end() ? -1 : static_cast<int>(found - headers_.begin());
}

bool VirtualWaveOut::ValidLocked(WaveOutHandle device) const {
  return device != 0 && device == handle_;
}

}  // namespace platform
