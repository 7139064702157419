// POSIX implementation of platform/thread_slot.h.
#include "platform/thread_slot.h"

#include <pthread.h>

namespace hv::platform {

static_assert(sizeof(pthread_key_t) <= sizeof(uintptr_t), "a key fits the index");

ThreadSlot::ThreadSlot() noexcept {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) == 0) {
    index_ = static_cast<uintptr_t>(key);
    allocated_ = true;
  }
}

ThreadSlot::~ThreadSlot() {
  // A later Get or Set (a module-wide slot, from a destructor that runs
  // after this one) must not reach a key the system may have handed out
  // again.
  if (allocated_) pthread_key_delete(static_cast<pthread_key_t>(index_));
  allocated_ = false;
}

void* ThreadSlot::Get() const noexcept {
  return allocated_ ? pthread_getspecific(static_cast<pthread_key_t>(index_)) : nullptr;
}

bool ThreadSlot::Set(void* value) noexcept {
  return allocated_ && pthread_setspecific(static_cast<pthread_key_t>(index_), value) == 0;
}

}  // namespace hv::platform
