# Linux backends: RtAudio for the wave output (JACK, PulseAudio, ALSA), RtMidi
# for the MIDI devices (ALSA sequencer, JACK); libjack and alsa-lib directly
# only to quiet their messages when no server or card is there.
find_package(PkgConfig REQUIRED)
pkg_check_modules(RTAUDIO REQUIRED IMPORTED_TARGET rtaudio)
pkg_check_modules(RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
target_link_libraries(pelvane_platform PUBLIC PkgConfig::RTAUDIO PkgConfig::RTMIDI PkgConfig::JACK PkgConfig::ALSA)
# The device watch: PulseAudio sinks (libpulse) and sound cards (libudev).
pkg_check_modules(DEVICEWATCH REQUIRED IMPORTED_TARGET libpulse libudev)
target_link_libraries(pelvane_platform PUBLIC PkgConfig::DEVICEWATCH)
