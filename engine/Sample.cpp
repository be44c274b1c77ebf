#include "engine/Sample.h"

#include <new>

Sample::~Sample() { Free(); }

void Sample::Allocate(int32_t frameCount) {
  Free();
  if (frameCount <= 0) return;
  int16_t* newLeft = new (std::nothrow) int16_t[frameCount];
  int16_t* newRight = new (std::nothrow) int16_t[frameCount];
  // Out of memory leaves the sample empty rather than half filled.
  if (!newLeft || !newRight) {
    delete[] newLeft;
    delete[] newRight;
    return;
  }
  length = frameCount;
  left = newLeft;
  right = newRight;
}

void Sample::Free() {
  length = 0;
  delete[] left;
  left = nullptr;
  delete[] right;
  right = nullptr;
}
