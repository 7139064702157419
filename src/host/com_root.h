// HvComRoot: the reference-counting root of the module's objects.
//
// AddRef and Release change the count atomically; the first reference
// raises the module's live-object count. The last one hands the object to
// T::FinalRelease() (noexcept), which destroys it with DestroySelf(), at
// once or later (when whatever still points at it is done), or keeps it
// for good when something may still point at it. DestroySelf lowers the
// live-object count after the object is gone, so the host may unload the
// module once HvDllCanUnloadNow returns 0.
#ifndef HV_HOST_COM_ROOT_H_
#define HV_HOST_COM_ROOT_H_

#include <atomic>
#include <cstdint>

#include "host/class_registry.h"
#include "hv/vex_host.h"

namespace hv {

struct HvRefCnt {
  std::atomic<int32_t> value{0};
};

template <class T, class RefCnt>
class HvComRoot : public IUnknown {
 protected:
  HvRefCount InternalAddRef() noexcept {
    int32_t count = ++ref_count_.value;
    if (count == 1) ++HvClassRegistry::LiveObjects();
    return static_cast<HvRefCount>(count);
  }
  HvRefCount InternalRelease() noexcept {
    int32_t count = --ref_count_.value;
    if (count == 0) static_cast<T*>(this)->FinalRelease();
    return static_cast<HvRefCount>(count);
  }
  void DestroySelf() noexcept {
    delete static_cast<T*>(this);
    --HvClassRegistry::LiveObjects();
  }
  ~HvComRoot() = default;

 private:
  RefCnt ref_count_;
};

}  // namespace hv

#endif  // HV_HOST_COM_ROOT_H_
