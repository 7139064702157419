// ModuleSingleton<T>: a module-wide object created at its first access and
// destroyed when the module unloads.
//
// Creation tests the pointer without the lock, then takes the lock and
// tests again, so concurrent first accesses create one object. Destruction
// runs from the module's exit processing, in the reverse order of creation;
// an access after it raises std::runtime_error("Dead Reference Detected")
// instead of creating the object again.
//
// The lock is a platform::Lock: constant-initialised (usable before any of
// the module's load-time objects is built, in whatever order they are),
// and taking it cannot fail. Destruction is registered at first use with
// platform::RunAtModuleExit, bound to the module that holds this code (it
// runs when that module unloads), rather than through a function-local
// static, whose guard reaches the thread runtime. Destruction only frees
// memory and thread slots, which the Windows loader lock allows. Results: Instance throws std::bad_alloc when
// the object, or its registration, finds no memory (nothing is created
// then), and the dead-reference error after unload.
#ifndef HV_PLATFORM_MODULE_SINGLETON_H_
#define HV_PLATFORM_MODULE_SINGLETON_H_

#include <atomic>
#include <new>
#include <stdexcept>

#include "platform/lock.h"
#include "platform/module.h"

namespace hv {

template <class T>
class ModuleSingleton {
 public:
  static T& Instance() {
    T* instance = instance_.load(std::memory_order_acquire);
    if (instance != nullptr) return *instance;
    platform::LockHold hold(lock_);
    instance = instance_.load(std::memory_order_relaxed);
    if (instance != nullptr) return *instance;
    if (destroyed_) throw std::runtime_error("Dead Reference Detected");
    instance = new T();
    if (!reaper_registered_) {
      if (!platform::RunAtModuleExit(&Destroy)) {
        delete instance;
        throw std::bad_alloc();
      }
      reaper_registered_ = true;
    }
    instance_.store(instance, std::memory_order_release);
    return *instance;
  }

  // Run by the module's exit processing; public so that tests can unload.
  static void Destroy() {
    platform::LockHold hold(lock_);
    delete instance_.exchange(nullptr);
    destroyed_ = true;
  }

 private:
  static inline std::atomic<T*> instance_{nullptr};
  static inline platform::Lock lock_;
  static inline bool destroyed_ = false;
  static inline bool reaper_registered_ = false;
};

}  // namespace hv

#endif  // HV_PLATFORM_MODULE_SINGLETON_H_
