// What rate PulseAudio (or PipeWire's PulseAudio service) plays at.
#pragma once

namespace platform {

// The sample rate of the server's default sink, 0 when the server cannot be
// asked. Waits at most about two seconds for the answer.
unsigned PulseDefaultSinkRate();

}  // namespace platform
