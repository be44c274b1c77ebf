// Mixer::Lock is shared by the time-critical Mixer thread and the MidiIn
// thread at normal priority: with priority inheritance, a MidiIn thread that
// holds it runs at the Mixer thread's priority until it lets go, so a busy
// machine cannot keep the refill waiting behind it.
#include "platform/Lock.h"

#include <pthread.h>

#include <new>

namespace platform {

static_assert(sizeof(pthread_mutex_t) <= 64, "lock storage too small");

namespace {
pthread_mutex_t* Mutex(unsigned char* storage) {
  return reinterpret_cast<pthread_mutex_t*>(storage);
}
}  // namespace

Lock::Lock() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
  pthread_mutex_t* mutex = new (storage_) pthread_mutex_t;
  // A system without priority inheritance still gets a working lock.
  if (pthread_mutex_init(mutex, &attributes) != 0) pthread_mutex_init(mutex, nullptr);
  pthread_mutexattr_destroy(&attributes);
}

Lock::~Lock() { pthread_mutex_destroy(Mutex(storage_)); }
void Lock::Enter() { pthread_mutex_lock(Mutex(storage_)); }
void Lock::Leave() { pthread_mutex_unlock(Mutex(storage_)); }

}  // namespace platform
