#include "platform/linux/audio/RtAudioOutput.h"

#include <cstring>

#include "platform/RealTime.h"
#include "platform/linux/SoundServers.h"

namespace platform {

namespace {
constexpr unsigned kRequestedPeriod = 1024;
}  // namespace

std::mutex& RtAudioMutex() {
  static std::mutex mutex;
  return mutex;
}

std::unique_ptr<RtAudioOutput> RtAudioOutput::Open(const AudioEndpoint& endpoint, unsigned rate,
                                                   WaveDevice& device, std::string* error) {
  std::unique_ptr<RtAudioOutput> output(new RtAudioOutput(device, rate != WaveDevice::kRate));
  std::lock_guard<std::mutex> serial(RtAudioMutex());
  try {
    output->audio_ = std::make_unique<RtAudio>(endpoint.api);
    output->audio_->showWarnings(false);
    RtAudio::StreamParameters parameters;
    parameters.deviceId = endpoint.index;
    parameters.nChannels = kChannels;
    RtAudio::StreamOptions options;
    options.streamName = kOutputClientName;
    // Four periods at most wait in the server: without a bound PulseAudio
    // keeps two seconds, and every note would come that late.
    options.numberOfBuffers = 4;
    unsigned period = kRequestedPeriod;
    output->audio_->openStream(
        &parameters, nullptr, output->float_ ? RTAUDIO_FLOAT32 : RTAUDIO_SINT16, rate, &period,
        &RtAudioOutput::Callback, output.get(), &options, &RtAudioOutput::ErrorCallback);
  } catch (const RtAudioError& failure) {
    *error = failure.getMessage();
    return nullptr;
  } catch (...) {
    *error = "RtAudio: the stream cannot be opened";
    return nullptr;
  }
  return output;
}

RtAudioOutput::~RtAudioOutput() { Shutdown(); }

bool RtAudioOutput::Start(std::string* error) {
  std::lock_guard<std::mutex> serial(RtAudioMutex());
  try {
    audio_->startStream();
  } catch (const RtAudioError& failure) {
    *error = failure.getMessage();
    return false;
  }
  return true;
}

void RtAudioOutput::Shutdown() {
  if (!audio_) return;
  std::lock_guard<std::mutex> serial(RtAudioMutex());
  try {
    if (audio_->isStreamOpen()) {
      if (audio_->isStreamRunning()) audio_->abortStream();
      audio_->closeStream();
    }
  } catch (...) {
  }
  audio_.reset();
}

// RtAudio's thread.
int RtAudioOutput::Callback(void* out, void*, unsigned frames, double, RtAudioStreamStatus,
                            void* self) {
  RealTimeScope realTime;
  auto* output = static_cast<RtAudioOutput*>(self);
  t_current = output;
  if (output->device_.IsLost()) {
    std::memset(out, 0,
                size_t(frames) * kChannels * (output->float_ ? sizeof(float) : sizeof(int16_t)));
    return 2;  // abort: the server is gone, every further write fails at once
  }
  if (output->float_) {
    float* samples = static_cast<float*>(out);
    output->device_.RenderFloat(samples, samples + 1, kChannels, frames);
  } else {
    output->device_.RenderInt16(static_cast<int16_t*>(out), frames);
  }
  return 0;
}

// RtAudio reports a failed write on the callback's thread, right after the
// callback; RtAudio gives the error callback no context, hence t_current.
// A write that fails for another reason than an ALSA underrun means the
// server or card is gone.
void RtAudioOutput::ErrorCallback(RtAudioError::Type, const std::string& text) {
  RtAudioOutput* output = t_current;
  if (!output || text.find("write error") == std::string::npos ||
      text.find("underrun") != std::string::npos)
    return;
  output->device_.Lost(text.c_str());
}

thread_local RtAudioOutput* RtAudioOutput::t_current = nullptr;

}  // namespace platform
