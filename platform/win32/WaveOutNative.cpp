// The wave output device through WINMM's waveOut, notifications posted to the
// Mixer's window (CALLBACK_WINDOW).
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/WaveOut.h"

namespace platform {

static_assert(sizeof(WaveHeader) == sizeof(WAVEHDR), "WaveHeader is a WAVEHDR");
static_assert(offsetof(WaveHeader, data) == offsetof(WAVEHDR, lpData), "lpData");
static_assert(offsetof(WaveHeader, bufferLength) == offsetof(WAVEHDR, dwBufferLength), "length");
static_assert(offsetof(WaveHeader, bytesRecorded) == offsetof(WAVEHDR, dwBytesRecorded), "rec");
static_assert(offsetof(WaveHeader, user) == offsetof(WAVEHDR, dwUser), "dwUser");
static_assert(offsetof(WaveHeader, flags) == offsetof(WAVEHDR, dwFlags), "dwFlags");
static_assert(offsetof(WaveHeader, loops) == offsetof(WAVEHDR, dwLoops), "dwLoops");
static_assert(offsetof(WaveHeader, next) == offsetof(WAVEHDR, lpNext), "lpNext");
static_assert(offsetof(WaveHeader, reserved) == offsetof(WAVEHDR, reserved), "reserved");
static_assert(sizeof(WAVEOUTCAPSA) == 52, "WAVEOUTCAPSA is 52 bytes");
static_assert(kWaveMapper == WAVE_MAPPER && kMessageWaveOutOpen == MM_WOM_OPEN &&
                  kMessageWaveOutClose == MM_WOM_CLOSE && kMessageWaveOutDone == MM_WOM_DONE,
              "waveOut numbers");
static_assert(kWaveOk == MMSYSERR_NOERROR && kWaveBadDeviceId == MMSYSERR_BADDEVICEID &&
                  kWaveInvalidHandle == MMSYSERR_INVALHANDLE && kWaveNoMemory == MMSYSERR_NOMEM &&
                  kWaveStillPlaying == WAVERR_STILLPLAYING,
              "waveOut results");
static_assert(kWaveHeaderDone == WHDR_DONE && kWaveHeaderPrepared == WHDR_PREPARED &&
                  kWaveHeaderInQueue == WHDR_INQUEUE,
              "header flags");

namespace {

HWAVEOUT Device(WaveOutHandle device) { return reinterpret_cast<HWAVEOUT>(device); }
WAVEHDR* Header(WaveHeader* header) { return reinterpret_cast<WAVEHDR*>(header); }

class WinMmWaveOut : public WaveOutApi {
 public:
  uint32_t GetNumDevs() override { return waveOutGetNumDevs(); }

  uint32_t GetDeviceName(uint32_t deviceId, char name[32]) override {
    WAVEOUTCAPSA caps;
    std::memset(&caps, 0, sizeof caps);
    name[0] = 0;
    MMRESULT result = waveOutGetDevCapsA(deviceId, &caps, sizeof caps);
    if (result != MMSYSERR_NOERROR) return result;
    std::memcpy(name, caps.szPname, 31);
    name[31] = 0;
    return MMSYSERR_NOERROR;
  }

  uint32_t Open(WaveOutHandle* device, uint32_t deviceId, WindowHandle window) override {
    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 176400;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    HWAVEOUT opened = nullptr;
    MMRESULT result =
        waveOutOpen(&opened, deviceId, &format, static_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW);
    *device = result == MMSYSERR_NOERROR ? reinterpret_cast<WaveOutHandle>(opened) : 0;
    return result;
  }

  uint32_t PrepareHeader(WaveOutHandle device, WaveHeader* header) override {
    return waveOutPrepareHeader(Device(device), Header(header), sizeof(WAVEHDR));
  }
  uint32_t UnprepareHeader(WaveOutHandle device, WaveHeader* header) override {
    return waveOutUnprepareHeader(Device(device), Header(header), sizeof(WAVEHDR));
  }
  uint32_t Write(WaveOutHandle device, WaveHeader* header) override {
    return waveOutWrite(Device(device), Header(header), sizeof(WAVEHDR));
  }

  uint32_t GetPosition(WaveOutHandle device, uint32_t* frames, bool* isSamples) override {
    MMTIME time;
    std::memset(&time, 0, sizeof time);
    time.wType = TIME_SAMPLES;
    MMRESULT result = waveOutGetPosition(Device(device), &time, sizeof time);
    // The driver may answer in another format than the one asked for.
    *isSamples = result == MMSYSERR_NOERROR && time.wType == TIME_SAMPLES;
    *frames = *isSamples ? time.u.sample : 0;
    return result;
  }

  uint32_t Reset(WaveOutHandle device) override { return waveOutReset(Device(device)); }
  uint32_t Close(WaveOutHandle device) override { return waveOutClose(Device(device)); }

  MemoryHandle AllocBufferMemory(uint32_t bytes) override {
    return reinterpret_cast<MemoryHandle>(GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes));
  }
  void* LockBufferMemory(MemoryHandle memory) override {
    return GlobalLock(reinterpret_cast<HGLOBAL>(memory));
  }
  void UnlockBufferMemory(MemoryHandle memory) override {
    GlobalUnlock(reinterpret_cast<HGLOBAL>(memory));
  }
  void FreeBufferMemory(MemoryHandle memory) override {
    GlobalFree(reinterpret_cast<HGLOBAL>(memory));
  }

  void GetErrorText(uint32_t result, char* text, size_t size) override {
    if (size == 0) return;
    text[0] = 0;
    // The system's text is at most MAXERRORLENGTH characters.
    char words[MAXERRORLENGTH] = {};
    if (waveOutGetErrorTextA(result, words, MAXERRORLENGTH) != MMSYSERR_NOERROR) {
      WaveOutApi::GetErrorText(result, text, size);
      return;
    }
    std::snprintf(text, size, "%s", words);
  }
};

}  // namespace

WaveOutApi& NativeWaveOutApi() {
  static WinMmWaveOut api;
  return api;
}

}  // namespace platform
