// Writes one imported sample as a 16-bit PCM WAV file (mono or stereo) at
// any whole rate; the bytes are little-endian whatever the host.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// frames: interleaved, channels (1 or 2) values a frame. False with *error
// set to the system's reason when the file cannot be written whole.
bool WriteSampleWav(const std::string& path, const std::vector<int16_t>& frames, int channels,
                    int32_t rate, std::string* error);
