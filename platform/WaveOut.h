// The wave output device, as waveOut presents it: opened for 16-bit stereo
// PCM at 44100 frames/s with a window as its notification target; buffers are
// prepared, written (queued), played strictly in the order queued and returned
// one by one with kMessageWaveOutDone; the play position is the number of
// frames played since the device opened.
//
// The calls go to the installed WaveOutApi: the native backend (waveOut on
// Windows; RtAudio over JACK, PulseAudio/PipeWire or ALSA on Linux) unless a
// test installed a virtual device.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/Window.h"

namespace platform {

using WaveOutHandle = uintptr_t;  // 0: none
using MemoryHandle = uintptr_t;   // 0: none

constexpr uint32_t kWaveMapper = 0xFFFFFFFFu;  // WAVE_MAPPER: the system chooses

// Notifications posted to the target window: wParam is the device handle;
// for kMessageWaveOutDone lParam is the returned WaveHeader.
constexpr uint32_t kMessageWaveOutOpen = 0x3BB;   // MM_WOM_OPEN
constexpr uint32_t kMessageWaveOutClose = 0x3BC;  // MM_WOM_CLOSE
constexpr uint32_t kMessageWaveOutDone = 0x3BD;   // MM_WOM_DONE

// Results (MMRESULT values).
constexpr uint32_t kWaveOk = 0;             // MMSYSERR_NOERROR
constexpr uint32_t kWaveError = 1;          // MMSYSERR_ERROR
constexpr uint32_t kWaveBadDeviceId = 2;    // MMSYSERR_BADDEVICEID
constexpr uint32_t kWaveInvalidHandle = 5;  // MMSYSERR_INVALHANDLE
constexpr uint32_t kWaveNoMemory = 7;       // MMSYSERR_NOMEM
constexpr uint32_t kWaveStillPlaying = 33;  // WAVERR_STILLPLAYING
constexpr uint32_t kWaveUnprepared = 34;    // WAVERR_UNPREPARED

// Header flags (WHDR_*).
constexpr uint32_t kWaveHeaderDone = 0x01;
constexpr uint32_t kWaveHeaderPrepared = 0x02;
constexpr uint32_t kWaveHeaderInQueue = 0x10;

// Laid out exactly as WAVEHDR on 64-bit Windows, so the Win32 backend passes it
// to waveOut unchanged.
struct WaveHeader {
  char* data;              // lpData
  uint32_t bufferLength;   // dwBufferLength, bytes
  uint32_t bytesRecorded;  // dwBytesRecorded
  uintptr_t user;          // dwUser
  uint32_t flags;          // dwFlags
  uint32_t loops;          // dwLoops
  WaveHeader* next;        // lpNext, the device's
  uintptr_t reserved;      // reserved, the device's
};

// What a backend provides. Every function returns a kWave* result.
class WaveOutApi {
 public:
  virtual ~WaveOutApi() = default;
  virtual uint32_t GetNumDevs() = 0;
  // The device's product name, at most 31 characters plus the terminator.
  virtual uint32_t GetDeviceName(uint32_t deviceId, char name[32]) = 0;
  // PCM, 2 channels, 44100 frames/s, 16 bits. The device posts
  // kMessageWaveOutOpen to window once it is open.
  virtual uint32_t Open(WaveOutHandle* device, uint32_t deviceId, WindowHandle window) = 0;
  virtual uint32_t PrepareHeader(WaveOutHandle device, WaveHeader* header) = 0;
  virtual uint32_t UnprepareHeader(WaveOutHandle device, WaveHeader* header) = 0;
  virtual uint32_t Write(WaveOutHandle device, WaveHeader* header) = 0;
  // The play position in frames since the device opened. *isSamples is false
  // when the device answered in another time format (the value is then not a
  // frame count).
  virtual uint32_t GetPosition(WaveOutHandle device, uint32_t* frames, bool* isSamples) = 0;
  // Stops playing and returns every queued buffer (kMessageWaveOutDone each).
  virtual uint32_t Reset(WaveOutHandle device) = 0;
  // Fails with kWaveStillPlaying while buffers are queued; posts kMessageWaveOutClose.
  virtual uint32_t Close(WaveOutHandle device) = 0;
  // Movable global memory for buffers (GlobalAlloc(GMEM_MOVEABLE |
  // GMEM_DDESHARE), GlobalLock, GlobalUnlock, GlobalFree). Alloc gives 0 and
  // Lock null on failure.
  virtual MemoryHandle AllocBufferMemory(uint32_t bytes) = 0;
  virtual void* LockBufferMemory(MemoryHandle memory) = 0;
  virtual void UnlockBufferMemory(MemoryHandle memory) = 0;
  virtual void FreeBufferMemory(MemoryHandle memory) = 0;
  // The backend's own words for a result (waveOutGetErrorTextA), at most
  // size - 1 characters. For the result of this thread's latest failed Open
  // the reason that open failed, where the backend knows it.
  virtual void GetErrorText(uint32_t result, char* text, size_t size);
};

// The native backend of this platform (lives as long as the process).
WaveOutApi& NativeWaveOutApi();
// Installs another backend (a test's virtual device); null restores the native
// one. Only while no device is open.
void InstallWaveOutApi(WaveOutApi* api);
WaveOutApi& CurrentWaveOutApi();

inline uint32_t WaveOutGetNumDevs() { return CurrentWaveOutApi().GetNumDevs(); }

}  // namespace platform
