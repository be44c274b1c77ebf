#include "platform/Lock.h"

#include <mutex>
#include <new>

namespace platform {

static_assert(sizeof(std::mutex) <= 64, "lock storage too small");

Lock::Lock() { new (storage_) std::mutex(); }
Lock::~Lock() { reinterpret_cast<std::mutex*>(storage_)->~mutex(); }
void Lock::Enter() { reinterpret_cast<std::mutex*>(storage_)->lock(); }
void Lock::Leave() { reinterpret_cast<std::mutex*>(storage_)->unlock(); }

}  // namespace platform
