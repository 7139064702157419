// ModuleSingleton<T>: a module-wide object created at its first access and
// destroyed when the module unloads.
//
// Creation tests the pointer without the lock, then takes the lock and
// tests again, so concurrent first accesses create one object. Destruction
// runs from the module's exit processing, in the reverse order of creation;
// an access after it raises std::runtime_error("Dead Reference Detected")
// instead of creating the object again.
#ifndef HV_BASE_MODULE_SINGLETON_H_
#define HV_BASE_MODULE_SINGLETON_H_

#include <atomic>
#include <mutex>
#include <stdexcept>

namespace hv {

template <class T>
class ModuleSingleton {
 public:
  static T& Instance() {
    T* instance = instance_.load(std::memory_order_acquire);
    if (instance != nullptr) return *instance;
    std::lock_guard<std::mutex> hold(lock_);
    instance = instance_.load(std::memory_order_relaxed);
    if (instance != nullptr) return *instance;
    if (destroyed_) throw std::runtime_error("Dead Reference Detected");
    instance = new T();
    instance_.store(instance, std::memory_order_release);
    // A static object's destructor is tied to the library that holds it, so
    // it runs when this module unloads, in reverse order of creation.
    static Reaper reaper;
    return *instance;
  }

  // Run by the module's exit processing; public so that tests can unload.
  static void Destroy() {
    std::lock_guard<std::mutex> hold(lock_);
    delete instance_.exchange(nullptr);
    destroyed_ = true;
  }

 private:
  struct Reaper {
    ~Reaper() { Destroy(); }
  };

  static inline std::atomic<T*> instance_{nullptr};
  static inline std::mutex lock_;
  static inline bool destroyed_ = false;
};

}  // namespace hv

#endif  // HV_BASE_MODULE_SINGLETON_H_
