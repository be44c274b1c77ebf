#include "support/doubles/VirtualMidi.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace platform {

VirtualMidi::VirtualMidi(std::vector<std::string> inputNames,
                         std::vector<std::string> outputNames) {
  for (std::string& name : inputNames) {
    inputs_.push_back(new Input);
    inputs_.back()->name = std::move(name);
  }
  for (std::string& name : outputNames) {
    outputs_.push_back(new Output);
    outputs_.back()->name = std::move(name);
  }
}

VirtualMidi::~VirtualMidi() {
  for (Input* input : inputs_) delete input;
  for (Output* output : outputs_) delete output;
}

void VirtualMidi::FailInOpen(uint32_t deviceId, uint32_t error, int lastError) {
  std::lock_guard<std::mutex> hold(mutex_);
  inputs_.at(deviceId)->openFailure = Failure{error, lastError};
}

void VirtualMidi::FailOutOpen(uint32_t deviceId, uint32_t error, int lastError) {
  std::lock_guard<std::mutex> hold(mutex_);
  outputs_.at(deviceId)->openFailure = Failure{error, lastError};
}

void VirtualMidi::FailInName(uint32_t deviceId, uint32_t error) {
  std::lock_guard<std::mutex> hold(mutex_);
  inputs_.at(deviceId)->nameFailure.error = error;
}

void VirtualMidi::FailOutName(uint32_t deviceId, uint32_t error) {
  std::lock_guard<std::mutex> hold(mutex_);
  outputs_.at(deviceId)->nameFailure.error = error;
}

bool VirtualMidi::Inject(uint32_t deviceId, uint32_t message, uint32_t timeStamp) {
  if (deviceId >= inputs_.size()) return false;
  Input& input = *inputs_[deviceId];
  std::lock_guard<std::mutex> delivering(input.delivery);
  MidiInCallback callback;
  uintptr_t instance;
  MidiInHandle handle;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (input.handle == 0 || !input.started) return false;
    callback = input.callback;
    instance = input.instance;
    handle = input.handle;
  }
  callback(handle, kMidiInData, instance, message, timeStamp);
  return true;
}

bool VirtualMidi::WaitInputStarted(uint32_t deviceId, int timeoutMs) {
  std::unique_lock<std::mutex> hold(mutex_);
  Input& input = *inputs_.at(deviceId);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return input.handle != 0 && input.started; });
}

bool VirtualMidi::WaitInputClosed(uint32_t deviceId, int count, int timeoutMs) {
  std::unique_lock<std::mutex> hold(mutex_);
  Input& input = *inputs_.at(deviceId);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return input.closes >= count; });
}

bool VirtualMidi::InputOpen(uint32_t deviceId) {
  std::lock_guard<std::mutex> hold(mutex_);
  return inputs_.at(deviceId)->handle != 0;
}

bool VirtualMidi::OutputOpen(uint32_t deviceId) {
  std::lock_guard<std::mutex> hold(mutex_);
  return outputs_.at(deviceId)->handle != 0;
}

std::vector<uint32_t> VirtualMidi::Sent(uint32_t deviceId) {
  std::lock_guard<std::mutex> hold(mutex_);
  return outputs_.at(deviceId)->sent;
}

VirtualMidi::Counts VirtualMidi::GetCounts() {
  std::lock_guard<std::mutex> hold(mutex_);
  return counts_;
}

VirtualMidi::Input* VirtualMidi::FindInput(MidiInHandle handle) {
  if (handle == 0) return nullptr;
  for (Input* input : inputs_)
    if (input->handle == handle) return input;
  return nullptr;
}

VirtualMidi::Output* VirtualMidi::FindOutput(MidiOutHandle handle) {
  if (handle == 0) return nullptr;
  for (Output* output : outputs_)
    if (output->handle == handle) return output;
  return nullptr;
}

uint32_t VirtualMidi::CopyName(const std::string& from, char name[32]) {
  std::strncpy(name, from.c_str(), 31);
  name[31] = 0;
  return kMidiOk;
}

uint32_t VirtualMidi::InGetNumDevs() { return static_cast<uint32_t>(inputs_.size()); }

uint32_t VirtualMidi::InGetDeviceName(uint32_t deviceId, char name[32]) {
  std::lock_guard<std::mutex> hold(mutex_);
  name[0] = 0;
  if (deviceId >= inputs_.size()) return kMidiBadDeviceId;
  if (inputs_[deviceId]->nameFailure.error != 0) return inputs_[deviceId]->nameFailure.error;
  return CopyName(inputs_[deviceId]->name, name);
}

uint32_t VirtualMidi::InOpen(MidiInHandle* device, uint32_t deviceId, MidiInCallback callback,
                             uintptr_t instance) {
  *device = 0;
  if (deviceId >= inputs_.size()) {
    std::lock_guard<std::mutex> hold(mutex_);
    lastError_ = 0;
    return kMidiBadDeviceId;
  }
  Input& input = *inputs_[deviceId];
  std::lock_guard<std::mutex> delivering(input.delivery);
  MidiInHandle handle;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (input.openFailure.error != 0) {
      lastError_ = input.openFailure.lastError;
      return input.openFailure.error;
    }
    if (input.handle != 0) return kMidiAllocated;
    handle = input.handle = nextHandle_++;
    input.callback = callback;
    input.instance = instance;
    input.started = false;
    counts_.inOpens += 1;
  }
  *device = handle;
  changed_.notify_all();
  callback(handle, kMidiInOpen, instance, 0, 0);
  return kMidiOk;
}

uint32_t VirtualMidi::InStart(MidiInHandle device) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    Input* input = FindInput(device);
    if (!input) {
      counts_.badHandleCalls += 1;
      return kMidiInvalidHandle;
    }
    input->started = true;
    counts_.inStarts += 1;
  }
  changed_.notify_all();
  return kMidiOk;
}

uint32_t VirtualMidi::InReset(MidiInHandle device) {
  Input* input;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    input = FindInput(device);
    if (!input) {
      counts_.badHandleCalls += 1;
      return kMidiInvalidHandle;
    }
  }
  // Waits for a delivery in progress; none follows until the next start.
  std::lock_guard<std::mutex> delivering(input->delivery);
  std::lock_guard<std::mutex> hold(mutex_);
  if (input->handle != device) return kMidiInvalidHandle;
  input->started = false;
  counts_.inResets += 1;
  return kMidiOk;
}

uint32_t VirtualMidi::InClose(MidiInHandle device) {
  Input* input;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    input = FindInput(device);
    if (!input) {
      counts_.badHandleCalls += 1;
      return kMidiInvalidHandle;
    }
  }
  std::lock_guard<std::mutex> delivering(input->delivery);
  MidiInCallback callback;
  uintptr_t instance;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (input->handle != device) return kMidiInvalidHandle;
    callback = input->callback;
    instance = input->instance;
    input->handle = 0;
    input->started = false;
    input->callback = nullptr;
    input->closes += 1;
    counts_.inCloses += 1;
  }
  callback(device, kMidiInClose, instance, 0, 0);
  changed_.notify_all();
  return kMidiOk;
}

uint32_t VirtualMidi::OutGetNumDevs() { return static_cast<uint32_t>(outputs_.size()); }

uint32_t VirtualMidi::OutGetDeviceName(uint32_t deviceId, char name[32]) {
  std::lock_guard<std::mutex> hold(mutex_);
  name[0] = 0;
  if (deviceId >= outputs_.size()) return kMidiBadDeviceId;
  if (outputs_[deviceId]->nameFailure.error != 0) return outputs_[deviceId]->nameFailure.error;
  return CopyName(outputs_[deviceId]->name, name);
}

uint32_t VirtualMidi::OutOpen(MidiOutHandle* device, uint32_t deviceId) {
  std::lock_guard<std::mutex> hold(mutex_);
  *device = 0;
  if (deviceId >= outputs_.size()) {
    lastError_ = 0;
    return kMidiBadDeviceId;
  }
  Output& output = *outputs_[deviceId];
  if (output.openFailure.error != 0) {
    lastError_ = output.openFailure.lastError;
    return output.openFailure.error;
  }
  if (output.handle != 0) return kMidiAllocated;
  *device = output.handle = nextHandle_++;
  counts_.outOpens += 1;
  return kMidiOk;
}

uint32_t VirtualMidi::OutShortMsg(MidiOutHandle device, uint32_t message) {
  Output* output;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    output = FindOutput(device);
    if (!output) {
      counts_.badHandleCalls += 1;
      return kMidiInvalidHandle;
    }
    output->sending += 1;
  }
  // A driver takes a moment to pass the message on; a close that comes in
  // meanwhile is what the caller must prevent, and it is counted.
  std::this_thread::yield();
  std::lock_guard<std::mutex> hold(mutex_);
  output->sending -= 1;
  output->sent.push_back(message);
  return kMidiOk;
}

uint32_t VirtualMidi::OutClose(MidiOutHandle device) {
  std::lock_guard<std::mutex> hold(mutex_);
  Output* output = FindOutput(device);
  if (!output) {
    counts_.badHandleCalls += 1;
    return kMidiInvalidHandle;
  }
  if (output->sending > 0) counts_.closeDuringSend += 1;
  output->handle = 0;
  counts_.outCloses += 1;
  return kMidiOk;
}

int VirtualMidi::LastError() {
  std::lock_guard<std::mutex> hold(mutex_);
  return lastError_;
}

}  // namespace platform
