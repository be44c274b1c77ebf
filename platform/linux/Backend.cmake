# The Linux backend by concern: the OS basics beside this file (platform's
# glob), the wave output in audio/, the MIDI devices in midi/, the device
# watch in watch/; the Qt toolkit in qt/ is a library of its own.
file(GLOB PLATFORM_LINUX_DEVICES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/audio/*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/midi/*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/watch/*.cpp)
target_sources(pelvane_platform PRIVATE ${PLATFORM_LINUX_DEVICES})
# Linux backends: RtAudio for the wave output on PulseAudio and ALSA and for
# listing the devices, libjack for the wave output on JACK, libsamplerate for
# devices at other rates than 44100, RtMidi for the MIDI devices (ALSA
# sequencer, JACK), libdbus for RealtimeKit; alsa-lib directly only to quiet
# its messages when no card is there.
find_package(PkgConfig REQUIRED)
pkg_check_modules(RTAUDIO REQUIRED IMPORTED_TARGET rtaudio)
pkg_check_modules(RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(SAMPLERATE REQUIRED IMPORTED_TARGET samplerate)
pkg_check_modules(DBUS REQUIRED IMPORTED_TARGET dbus-1)
target_link_libraries(pelvane_platform PUBLIC PkgConfig::RTAUDIO PkgConfig::RTMIDI PkgConfig::JACK PkgConfig::ALSA
  PkgConfig::SAMPLERATE PkgConfig::DBUS)
# The device watch: PulseAudio sinks (libpulse) and sound cards (libudev).
pkg_check_modules(DEVICEWATCH REQUIRED IMPORTED_TARGET libpulse libudev)
target_link_libraries(pelvane_platform PUBLIC PkgConfig::DEVICEWATCH)
