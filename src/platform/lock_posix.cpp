// POSIX implementation of platform/lock.h: a default pthread mutex, whose
// initializer is all zero bytes on this system's C library (the test of
// this file compares them).
#include "platform/lock.h"

#include <pthread.h>

namespace hv::platform {
namespace {

static_assert(sizeof(pthread_mutex_t) <= Lock::kStorage, "the mutex fits the lock's storage");
static_assert(alignof(pthread_mutex_t) <= 8, "the lock's storage is aligned for the mutex");

pthread_mutex_t* MutexOf(unsigned char* storage) {
  return reinterpret_cast<pthread_mutex_t*>(storage);
}

}  // namespace

// A default mutex fails neither to lock (it is never a deadlock the system
// detects, nor an error-checking one) nor to unlock by its owner.
void Lock::Acquire() noexcept { pthread_mutex_lock(MutexOf(storage_)); }
void Lock::Release() noexcept { pthread_mutex_unlock(MutexOf(storage_)); }

}  // namespace hv::platform
