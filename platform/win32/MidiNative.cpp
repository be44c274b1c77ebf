// MIDI input and output through WINMM: midiIn with a callback function that
// the system calls on a thread of its choosing, midiOut without notifications.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "platform/Midi.h"

namespace platform {

static_assert(sizeof(MIDIINCAPSA) == 44, "MIDIINCAPSA is 44 bytes");
static_assert(sizeof(MIDIOUTCAPSA) == 52, "MIDIOUTCAPSA is 52 bytes");
static_assert(kMidiInOpen == MIM_OPEN && kMidiInClose == MIM_CLOSE && kMidiInData == MIM_DATA &&
                  kMidiInLongData == MIM_LONGDATA && kMidiInError == MIM_ERROR,
              "midiIn callback messages");
static_assert(kMidiOk == MMSYSERR_NOERROR && kMidiError == MMSYSERR_ERROR &&
                  kMidiBadDeviceId == MMSYSERR_BADDEVICEID &&
                  kMidiAllocated == MMSYSERR_ALLOCATED &&
                  kMidiInvalidHandle == MMSYSERR_INVALHANDLE,
              "MIDI results");

namespace {

HMIDIIN In(MidiInHandle device) { return reinterpret_cast<HMIDIIN>(device); }
HMIDIOUT Out(MidiOutHandle device) { return reinterpret_cast<HMIDIOUT>(device); }

// szPname is 32 bytes and NUL-terminated within them.
void CopyName(char name[32], const char* from) {
  std::memcpy(name, from, 31);
  name[31] = 0;
}

class WinMmMidi : public MidiApi {
 public:
  uint32_t InGetNumDevs() override { return midiInGetNumDevs(); }

  uint32_t InGetDeviceName(uint32_t deviceId, char name[32]) override {
    MIDIINCAPSA caps;
    std::memset(&caps, 0, sizeof caps);
    name[0] = 0;
    MMRESULT result = midiInGetDevCapsA(deviceId, &caps, sizeof caps);
    if (result == MMSYSERR_NOERROR) CopyName(name, caps.szPname);
    return result;
  }

  uint32_t InOpen(MidiInHandle* device, uint32_t deviceId, MidiInCallback callback,
                  uintptr_t instance) override {
    // MidiInCallback has MidiInProc's calling convention on x64.
    HMIDIIN opened = nullptr;
    MMRESULT result = midiInOpen(&opened, deviceId, reinterpret_cast<DWORD_PTR>(callback), instance,
                                 CALLBACK_FUNCTION);
    *device = result == MMSYSERR_NOERROR ? reinterpret_cast<MidiInHandle>(opened) : 0;
    return result;
  }
  uint32_t InStart(MidiInHandle device) override { return midiInStart(In(device)); }
  uint32_t InReset(MidiInHandle device) override { return midiInReset(In(device)); }
  uint32_t InClose(MidiInHandle device) override { return midiInClose(In(device)); }

  uint32_t OutGetNumDevs() override { return midiOutGetNumDevs(); }

  uint32_t OutGetDeviceName(uint32_t deviceId, char name[32]) override {
    MIDIOUTCAPSA caps;
    std::memset(&caps, 0, sizeof caps);
    name[0] = 0;
    MMRESULT result = midiOutGetDevCapsA(deviceId, &caps, sizeof caps);
    if (result == MMSYSERR_NOERROR) CopyName(name, caps.szPname);
    return result;
  }

  uint32_t OutOpen(MidiOutHandle* device, uint32_t deviceId) override {
    HMIDIOUT opened = nullptr;
    MMRESULT result = midiOutOpen(&opened, deviceId, 0, 0, CALLBACK_NULL);
    *device = result == MMSYSERR_NOERROR ? reinterpret_cast<MidiOutHandle>(opened) : 0;
    return result;
  }
  uint32_t OutShortMsg(MidiOutHandle device, uint32_t message) override {
    return midiOutShortMsg(Out(device), message);
  }
  uint32_t OutClose(MidiOutHandle device) override { return midiOutClose(Out(device)); }

  int LastError() override { return static_cast<int>(GetLastError()); }
};

}  // namespace

MidiApi& NativeMidiApi() {
  static WinMmMidi api;
  return api;
}

}  // namespace platform
