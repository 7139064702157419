// ThreadSlot: one pointer per thread, kept by the system's thread-local
// storage (TlsAlloc on Windows, pthread_key_create on POSIX) rather than by
// the language's thread_local.
//
// Why not thread_local: on Windows the C++ runtime emulates it, and the
// emulation allocates on a thread's first use (aborting the process when
// that allocation fails) and keeps an index of the process for every load
// of the module, which it never gives back. A slot is allocated when its
// owner is built and released when the owner is destroyed, so a module
// that is loaded and unloaded many times gives back what it took.
//
// Ownership: the slot owns its index (RAII); not copyable or movable.
// Values are borrowed pointers; nothing is destroyed when a thread ends.
// Results: Get reads null when nothing was stored on this thread (or the
// slot could not be allocated) and never allocates. Set may need memory
// the first time a thread stores a value; it answers false when that (or
// the slot's allocation) failed, and the value is then not stored.
// Thread-safety: Get and Set may run on any thread at once; construction
// and destruction must not run alongside them.
#ifndef HV_PLATFORM_THREAD_SLOT_H_
#define HV_PLATFORM_THREAD_SLOT_H_

#include <cstdint>

namespace hv::platform {

class ThreadSlot {
 public:
  ThreadSlot() noexcept;
  ~ThreadSlot();
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // False when the system had no index left.
  bool allocated() const noexcept { return allocated_; }
  void* Get() const noexcept;
  bool Set(void* value) noexcept;

 private:
  // A TLS index on Windows, a pthread_key_t on POSIX.
  uintptr_t index_ = 0;
  bool allocated_ = false;
};

}  // namespace hv::platform

#endif  // HV_PLATFORM_THREAD_SLOT_H_
