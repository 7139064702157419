// Lock: a mutual-exclusion lock that is constant-initialised and whose
// acquisition cannot fail (an SRWLOCK on Windows, a pthread mutex on
// POSIX).
//
// Why not std::mutex: under the Windows builds' posix thread model a
// std::mutex is set up at its first lock, which allocates and throws
// std::system_error when memory has run out; a module-wide lock must also
// be usable before any of the module's load-time objects has been built,
// whatever their order. A Lock needs neither: its storage is zero bytes,
// which is the unlocked state of both systems' locks (SRWLOCK_INIT, and
// glibc's PTHREAD_MUTEX_INITIALIZER), so a Lock with static storage is
// ready before any code runs.
//
// Not recursive. Ownership: nothing to release (neither lock holds a
// system resource while unlocked), so destruction is trivial.
// Thread-safety: Acquire and Release may run on any thread at once; the
// thread that acquired it releases it.
#ifndef HV_PLATFORM_LOCK_H_
#define HV_PLATFORM_LOCK_H_

#include <cstddef>

namespace hv::platform {

class Lock {
 public:
  constexpr Lock() noexcept = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire() noexcept;
  void Release() noexcept;

  // Room for the largest lock of the supported systems (checked where
  // each is implemented).
  static constexpr size_t kStorage = 48;

 private:
  alignas(8) unsigned char storage_[kStorage] = {};
};

// Holds a Lock for one scope.
class LockHold {
 public:
  explicit LockHold(Lock& lock) noexcept : lock_(lock) { lock_.Acquire(); }
  ~LockHold() { lock_.Release(); }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  Lock& lock_;
};

}  // namespace hv::platform

#endif  // HV_PLATFORM_LOCK_H_
