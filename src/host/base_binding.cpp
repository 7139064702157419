#include "host/base_binding.h"

#include "platform/module_singleton.h"

namespace hv {

const char* const VexBaseBinding::kEntryNames[kSlotCount] = {
#define HV_ENTRY_NAME(name, kind) #name,
    VEX_BASE_ENTRY_POINTS(HV_ENTRY_NAME)
#undef HV_ENTRY_NAME
};

VexBaseBinding::VexBaseBinding() : VexBaseBinding(VEX_BASE_LIBRARY_NAME) {}

VexBaseBinding::VexBaseBinding(const WString& library_name) { Bind(library_name); }

VexBaseBinding& VexBaseBinding::Instance() { return ModuleSingleton<VexBaseBinding>::Instance(); }

void VexBaseBinding::Bind(const WString& library_name) {
  platform::LibraryHandle library = platform::FindLoadedLibrary(library_name);
  if (library == nullptr) return;
  for (size_t i = 0; i < kSlotCount; ++i) {
    slots_[i] = platform::FindSymbol(library, kEntryNames[i]);
    if (slots_[i] == nullptr && i < kRequiredSlots) {
      slots_.fill(nullptr);  // as if the library were absent
      return;
    }
  }
  library_ = library;
}

HvResult VexBaseBinding::RegisterDispatch(const WString& name,
                                          IVexRequestDispatch* dispatch) const {
  auto entry = reinterpret_cast<VexBaseRegisterSpDispatchFn>(slots_[kRegisterSlot]);
  if (entry == nullptr) return VEX_E_BASE_ENTRY_MISSING;
  return entry(reinterpret_cast<const HvUtf16*>(name.c_str()), dispatch);
}

HvResult VexBaseBinding::UnregisterDispatch(const WString& name,
                                            IVexRequestDispatch* dispatch) const {
  auto entry = reinterpret_cast<VexBaseUnregisterSpDispatchFn>(slots_[kUnregisterSlot]);
  if (entry == nullptr) return VEX_E_BASE_ENTRY_MISSING;
  return entry(reinterpret_cast<const HvUtf16*>(name.c_str()), dispatch);
}

}  // namespace hv
