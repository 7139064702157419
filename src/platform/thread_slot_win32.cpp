// Windows implementation of platform/thread_slot.h.
#include "platform/thread_slot.h"

#include <windows.h>

namespace hv::platform {

ThreadSlot::ThreadSlot() noexcept {
  DWORD index = TlsAlloc();
  if (index != TLS_OUT_OF_INDEXES) {
    index_ = index;
    allocated_ = true;
  }
}

ThreadSlot::~ThreadSlot() {
  // A later Get or Set (a module-wide slot, from a destructor that runs
  // after this one) must not reach an index the system may have handed out
  // again.
  if (allocated_) TlsFree(static_cast<DWORD>(index_));
  allocated_ = false;
}

// TlsGetValue of an index beyond the first 64 reads null on a thread that
// has no room for it yet, without making any.
void* ThreadSlot::Get() const noexcept {
  return allocated_ ? TlsGetValue(static_cast<DWORD>(index_)) : nullptr;
}

bool ThreadSlot::Set(void* value) noexcept {
  return allocated_ && TlsSetValue(static_cast<DWORD>(index_), value) != 0;
}

}  // namespace hv::platform
