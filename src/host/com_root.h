// HvComRoot: the reference-counting root of the module's objects.
//
// AddRef and Release change the count atomically; the first reference
// raises the module's live-object count and the last one destroys the
// object and then lowers that count, so the host may unload the module
// once HvDllCanUnloadNow returns 0.
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
    if (count == 0) {
      delete static_cast<T*>(this);
      --HvClassRegistry::LiveObjects();
    }
    return static_cast<HvRefCount>(count);
  }
  ~HvComRoot() = default;

 private:
  RefCnt ref_count_;
};

}  // namespace hv

#endif  // HV_HOST_COM_ROOT_H_
