#include "platform/Lock.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "lock storage too small");

namespace {
CRITICAL_SECTION* Section(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
}  // namespace

Lock::Lock() { InitializeCriticalSection(Section(storage_)); }
Lock::~Lock() { DeleteCriticalSection(Section(storage_)); }
void Lock::Enter() { EnterCriticalSection(Section(storage_)); }
void Lock::Leave() { LeaveCriticalSection(Section(storage_)); }

}  // namespace platform
