#include "engine/Sample.h"

Sample::~Sample() { Free(); }

void Sample::Allocate(int32_t frameCount) {
  Free();
  // Out of memory leaves the sample empty rather than half filled.
  if (frameCount > 0) SetFrames(SampleFrames::Allocate(frameCount));
}

void Sample::Free() {
  length = 0;
  frames_ = SampleFrames();
  left = nullptr;
  right = nullptr;
}

void Sample::SetFrames(const SampleFrames& newFrames) {
  SampleFrames keep = newFrames;  // newFrames may be this sample's own
  Free();
  if (!keep) return;
  frames_ = keep;
  length = keep.Length();
  left = keep.Left();
  right = keep.Right();
}
