#include "tools/RateStage.h"

// The Windows build has no rate converter (the program plays through WINMM,
// which converts by itself).
struct RateStage::State {};

RateStage::RateStage() = default;
RateStage::~RateStage() = default;

bool RateStage::Prepare(uint32_t /*rate*/, std::string* error) {
  *error = "--rate needs the rate converter of the Linux build; this build writes 44100 Hz only";
  return false;
}

void RateStage::Push(const int16_t* /*frames*/, uint32_t /*count*/, std::vector<float>* /*out*/) {}

void RateStage::Finish(std::vector<float>* /*out*/) {}
