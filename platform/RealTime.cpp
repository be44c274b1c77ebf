#include "platform/RealTime.h"

namespace platform {

namespace {
// Plain data, so reading it never allocates (tests read it from malloc).
thread_local bool t_realTime = false;
}  // namespace

RealTimeScope::RealTimeScope() noexcept : outer_(!t_realTime) { t_realTime = true; }
RealTimeScope::~RealTimeScope() {
  if (outer_) t_realTime = false;
}

bool InRealTimeScope() noexcept { return t_realTime; }

}  // namespace platform
