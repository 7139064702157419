// The module's four exported functions. Each runs behind the exception
// barrier, and answers with the load failure's code when a load-time
// initialiser could not run (the module then serves nothing, but never
// takes the host down).
#include "base/barrier.h"
#include "host/class_registry.h"
#include "hv/vex_host.h"

using hv::CallAtBoundary;
using hv::HvClassRegistry;
using hv::LoadFailure;

extern "C" {

// Not a failure code even after a failed load: nothing was created, so the
// host may unload the module.
HV_EXPORT HvResult HV_CALL HvDllCanUnloadNow(void) {
  return HvClassRegistry::LiveObjects().load() != 0 ? HV_S_FALSE : HV_S_OK;
}

HV_EXPORT HvResult HV_CALL HvDllGetClassObject(const HvGuid* clsid, const HvGuid* iid, void** out) {
  return CallAtBoundary([&] {
    if (LoadFailure() != 0) return LoadFailure();
    const hv::HvClassEntry* entry = HvClassRegistry::Instance().Find(*clsid);
    if (entry == nullptr) return HV_CLASS_E_CLASSNOTAVAILABLE;
    return entry->create(*iid, out);
  });
}

HV_EXPORT HvResult HV_CALL HvDllGetClassCount(int32_t* count) {
  return CallAtBoundary([&] {
    if (LoadFailure() != 0) return LoadFailure();
    *count = static_cast<int32_t>(HvClassRegistry::Instance().table().size());
    return HV_S_OK;
  });
}

HV_EXPORT HvResult HV_CALL HvDllGetClassInfo(HvClassInfo* infos, int32_t max) {
  return CallAtBoundary([&] {
    if (LoadFailure() != 0) return LoadFailure();
    if (infos == nullptr) return HV_S_FALSE;
    int32_t filled = 0;
    for (const auto& row : HvClassRegistry::Instance().table()) {
      if (filled >= max) break;
      infos[filled++] = {row.second.clsid, row.second.className, row.second.reserved};
    }
    return HV_S_OK;
  });
}

}  // extern "C"
