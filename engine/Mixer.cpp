#include "engine/Mixer.h"

#include <cstring>
#include <new>

#include "log/Log.h"
#include "platform/RealTime.h"

using platform::WaveHeader;

// A refill renders every voice over a whole buffer from offset 0: the calls a
// voice's offset table serves.
static_assert(MIXER_BUFFER_FRAMES == OffsetTable::kFrames, "a buffer is an offset table long");

Mixer::Mixer(uint32_t waveDeviceId, MixerThread where)
    : deviceId(waveDeviceId), api(&platform::CurrentWaveOutApi()) {
  if (where == MixerThread::kCaller) {
    onCallerThread = true;
    OpenOnThisThread();
    return;
  }
  thread.Start(&Mixer::ThreadMain, this);
}

Mixer::~Mixer() {
  if (!threadGone) WaitForShutdown();
  for (int32_t k = 0; k < voiceCount; ++k) {
    voicePool.Free(voices[k]);
    voices[k] = nullptr;
  }
  voiceCount = 0;
}

void Mixer::ScheduleShutdown() {
  LogMessage("Mixer: ScheduleShutdown()");
  // The flag is set before the window is read, and the Mixer thread stores its
  // window before it first reads the flag: either the post reaches the window
  // or the thread never enters its loop.
  stopRequested.store(true);
  platform::PostToWindow(window.load(), platform::kMessageClose, 0, 0);
}

void Mixer::WaitForShutdown() {
  LogMessage("Mixer: WaitForShutdown()");
  if (onCallerThread)
    CloseOnThisThread();
  else
    thread.Wait(-1);
  threadGone = true;
  LogMessage("Mixer: IsShutdown()");
}

Voice* Mixer::StartVoice(int32_t note, int32_t channel, int32_t velocity, int32_t volume,
                         Instrument* instrument) {
  if (voiceCount >= MIXER_MAX_VOICES) return nullptr;
  // The pool holds as many voices as may be registered, so it has a place.
  Voice* voice = voicePool.New(note, channel, velocity, volume, instrument);
  if (!voice->sample) {
    LogFormat(
        "  Request has been made for an unassigned sample (note %d, channel %d, "
        "instrument '%s')",
        note, channel, instrument->DisplayName());
    voicePool.Free(voice);
    return nullptr;
  }
  voices[voiceCount] = voice;
  voiceCount += 1;

  // Mix ahead into the buffers queued behind the one playing, so the note is
  // heard from the next buffer boundary instead of after the whole queue.
  // Without a running queue (device not open yet, or its set-up failed) or
  // without a trustworthy position, the refills alone pick the voice up.
  if (!buffersQueued) return voice;
  uint32_t played = 0;
  bool isSamples = false;
  if (api->GetPosition(waveOut, &played, &isSamples) != platform::kWaveOk || !isSamples)
    return voice;
  int32_t b = static_cast<int32_t>(((played / MIXER_BUFFER_FRAMES) % MIXER_BUFFER_COUNT + 1) %
                                   MIXER_BUFFER_COUNT);
  while (b != nextBuffer) {
    WaveHeader& header = headers[b];
    voice->Render(reinterpret_cast<int16_t*>(header.data),
                  static_cast<int32_t>(header.bufferLength / 4));
    b = (b + 1) % MIXER_BUFFER_COUNT;
  }
  return voice;
}

int32_t Mixer::CountVoices() {
  platform::LockGuard hold(lock);
  return voiceCount;
}

Voice* Mixer::FindVoice(int32_t note, int32_t channel) {
  for (int32_t k = 0; k < voiceCount; ++k) {
    Voice* voice = voices[k];
    if (voice->state == VOICE_PLAYING && voice->note == note && voice->channel == channel)
      return voice;
  }
  return nullptr;
}

void Mixer::ThreadMain(void* self) { static_cast<Mixer*>(self)->Run(); }

void Mixer::Run() {
  // The priority is set through the calling thread itself: the handle the
  // constructor keeps may not be stored yet.
  platform::SetCurrentThreadTimeCritical();
  // Without a window nothing could ever wake the loop (nor reach it to stop
  // it): end now, so that WaitForShutdown returns.
  if (!OpenOnThisThread()) return;
  if (!stopRequested.load()) {
    while (platform::GetAndDispatchMessage()) {
      if (stopRequested.load()) break;
    }
  }
  CloseOnThisThread();
}

void Mixer::DispatchQueued() {
  while (!stopRequested.load() && platform::DispatchQueuedMessage()) {
  }
}

bool Mixer::OpenOnThisThread() {
  platform::WindowHandle hidden = platform::CreateMessageWindow("Mixer");
  if (!hidden) {
    LogMessage("Mixer: the hidden window could not be created");
    return false;
  }
  platform::SetWindowOwner(hidden, this);
  platform::SetWindowProcedure(hidden, &Mixer::WindowProc);
  window.store(hidden);

  platform::WaveOutHandle device = 0;
  const uint32_t opened = api->Open(&device, deviceId, hidden);
  if (opened != platform::kWaveOk) {
    // Nothing will be heard: say why, in the backend's words.
    char reason[256];
    api->GetErrorText(opened, reason, sizeof reason);
    LogFormat("Mixer: waveOutOpen() failed: %d (%s)", static_cast<int>(opened), reason);
    device = 0;
  }
  platform::LockGuard hold(lock);
  waveOut = device;
  return true;
}

void Mixer::CloseOnThisThread() {
  ReleaseBuffers();
  platform::WindowHandle hidden = window.load();
  if (hidden && platform::WindowExists(hidden)) platform::DestroyMessageWindow(hidden);
  if (waveOut) api->Close(waveOut);
}

intptr_t Mixer::WindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) {
  Mixer* mixer = static_cast<Mixer*>(platform::GetWindowOwner(window));
  if (mixer) {
    switch (message) {
      case platform::kMessageWaveOutOpen:
        mixer->PrepareBuffers();
        return 0;
      case platform::kMessageWaveOutClose:
        mixer->OnClose();
        return 0;
      case platform::kMessageWaveOutDone:
        mixer->RefillBuffer(static_cast<platform::WaveOutHandle>(wParam),
                            reinterpret_cast<WaveHeader*>(lParam));
        return 0;
      default:
        break;
    }
  }
  return platform::DefaultWindowProcedure(window, message, wParam, lParam);
}

void Mixer::PrepareBuffers() {
  LogMessage("Wave out opened");
  if (buffersQueued || bufferMemory[0]) return;  // announced twice: keep the running set
  for (int32_t i = 0; i < MIXER_BUFFER_COUNT; ++i) {
    bufferMemory[i] = api->AllocBufferMemory(MIXER_BUFFER_BYTES);
    if (!bufferMemory[i]) {
      LogFormat("Not enough memory for buffer %d", i);
      stopRequested.store(true);
      return;
    }
    bufferData[i] = static_cast<int16_t*>(api->LockBufferMemory(bufferMemory[i]));
    if (!bufferData[i]) {
      LogFormat("Lock failed for buffer %d", i);
      stopRequested.store(true);
      return;
    }
    WaveHeader& header = headers[i];
    header.data = reinterpret_cast<char*>(bufferData[i]);
    header.bufferLength = MIXER_BUFFER_BYTES;
    header.bytesRecorded = 0;
    header.user = static_cast<uintptr_t>(i);
    header.flags = 0;
    header.loops = 0;
    if (api->PrepareHeader(waveOut, &header) != platform::kWaveOk) {
      LogFormat("Prepare failed for buffer %d", i);
      stopRequested.store(true);
      return;
    }
    bufferPrepared[i] = true;
    std::memset(bufferData[i], 0, MIXER_BUFFER_BYTES);
  }

  // The flag goes up before the first write: from then on the device may hand
  // buffers back, and StartVoice may mix into the ones still queued.
  {
    platform::LockGuard hold(lock);
    buffersQueued = true;
  }
  for (int32_t i = 0; i < MIXER_BUFFER_COUNT; ++i) {
    uint32_t result = api->Write(waveOut, &headers[i]);
    if (result != platform::kWaveOk)
      LogFormat("Mixer: waveOutWrite() failed: %d", static_cast<int>(result));
  }
}

void Mixer::RefillBuffer(platform::WaveOutHandle device, WaveHeader* header) {
  platform::RealTimeScope realTime;
  {
    platform::LockGuard hold(lock);
    // Buffers the release hands back are neither refilled nor queued again.
    if (!buffersQueued || !header) return;
    // The buffers come back in index order, so the one after this is next.
    nextBuffer = static_cast<int32_t>((header->user + 1) % MIXER_BUFFER_COUNT);
    std::memset(header->data, 0, header->bufferLength);
    int16_t* frames = reinterpret_cast<int16_t*>(header->data);
    const int32_t frameCount = static_cast<int32_t>(header->bufferLength / 4);
    // From the last slot down: the voice moved into a freed slot comes from
    // above and has been rendered already, so every voice is rendered exactly
    // once per buffer.
    for (int32_t k = voiceCount - 1; k >= 0; --k) {
      Voice* voice = voices[k];
      // The next voice's offsets and sample start loading while this one mixes.
      if (k > 0) voices[k - 1]->Prefetch();
      voice->Render(frames, frameCount);
      if (voice->state == VOICE_FINISHED) {
        voicePool.Free(voice);
        voiceCount -= 1;
        voices[k] = voices[voiceCount];
        voices[voiceCount] = nullptr;
      }
    }
  }
  api->Write(device, header);
}

void Mixer::OnClose() { LogMessage("Wave out closed"); }

void Mixer::ReleaseBuffers() {
  platform::WaveOutHandle device = 0;
  {
    platform::LockGuard hold(lock);
    buffersQueued = false;
    device = waveOut;
  }
  // Every queued buffer must be back before its header is unprepared, and
  // the headers must outlive the device's use of them; the notifications the
  // reset posts are never dispatched (the loop has ended) or are ignored.
  if (device) api->Reset(device);
  for (int32_t i = 0; i < MIXER_BUFFER_COUNT; ++i) {
    if (bufferPrepared[i]) {
      api->UnprepareHeader(device, &headers[i]);
      bufferPrepared[i] = false;
    }
    if (bufferData[i]) {
      api->UnlockBufferMemory(bufferMemory[i]);
      bufferData[i] = nullptr;
    }
    if (bufferMemory[i]) {
      api->FreeBufferMemory(bufferMemory[i]);
      bufferMemory[i] = 0;
    }
  }
}
