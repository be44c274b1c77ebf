#include "platform/linux/watch/DeviceLists.h"

#include <mutex>

namespace platform {

namespace {
std::mutex g_keptMutex;
std::shared_ptr<const DeviceListing> g_kept;
}  // namespace

std::shared_ptr<const DeviceListing> KeptListing() {
  std::lock_guard<std::mutex> hold(g_keptMutex);
  return g_kept;
}

void KeepListing(std::shared_ptr<const DeviceListing> listing) {
  std::shared_ptr<const DeviceListing> old;
  {
    std::lock_guard<std::mutex> hold(g_keptMutex);
    old = std::move(g_kept);
    g_kept = std::move(listing);
  }
  // The old listing goes outside the lock.
}

}  // namespace platform
