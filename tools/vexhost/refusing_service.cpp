// A stand-in module for vexhost's checks: it lists the HvVerifyImpl class,
// whose service refuses Initialize. A host must then never call
// Uninitialize: this one ends the process with exit code 86 if it does, so
// that the check sees the call. Everything else answers as it should.
#include <cstdlib>
#include <cstring>

#include "hv/vex_host.h"

namespace {

class RefusingService : public IVexServiceProvider {
 public:
  HvResult HV_CALL QueryInterface(const HvGuid& iid, void** out) override {
    *out = std::memcmp(&iid, &IID_IVexServiceProvider, sizeof iid) == 0 ? this : nullptr;
    return *out != nullptr ? HV_S_OK : HV_E_NOINTERFACE;
  }
  HvRefCount HV_CALL AddRef() override { return 1; }
  HvRefCount HV_CALL Release() override { return 1; }
  HvResult HV_CALL Initialize() override { return HV_E_FAIL; }
  HvResult HV_CALL Uninitialize() override { std::_Exit(86); }
  HvResult HV_CALL Start() override { return HV_E_UNEXPECTED; }
  HvResult HV_CALL Stop() override { return HV_E_UNEXPECTED; }
};

RefusingService service;

}  // namespace

extern "C" VEX_BASE_EXPORT HvResult HV_CALL HvDllCanUnloadNow(void) { return HV_S_OK; }

extern "C" VEX_BASE_EXPORT HvResult HV_CALL HvDllGetClassCount(int32_t* count) {
  *count = 1;
  return HV_S_OK;
}

extern "C" VEX_BASE_EXPORT HvResult HV_CALL HvDllGetClassInfo(HvClassInfo* infos, int32_t max) {
  if (max < 1) return HV_E_FAIL;
  infos[0].clsid = CLSID_HvVerifyImpl;
  infos[0].className = "HvVerifyImpl";
  infos[0].reserved = 0;
  return HV_S_OK;
}

extern "C" VEX_BASE_EXPORT HvResult HV_CALL HvDllGetClassObject(const HvGuid* clsid, const HvGuid* iid,
                                                                void** out) {
  if (std::memcmp(clsid, &CLSID_HvVerifyImpl, sizeof *clsid) != 0) return HV_CLASS_E_CLASSNOTAVAILABLE;
  return service.QueryInterface(*iid, out);
}
