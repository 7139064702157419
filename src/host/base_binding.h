// VexBaseBinding: the host's base library, bound by name without ever
// loading it, with one slot per entry point.
//
// Binding runs once, when the module-wide instance is first used: when the
// library is loaded and exports the five required entry points, the slots
// hold the addresses found; otherwise every slot stays null and every call
// returns VEX_E_BASE_ENTRY_MISSING. A result from the library is handed back
// unchanged. The library handle is borrowed: no reference is taken.
//
// Threads: slots are written only while binding and read without a lock;
// the calls run on the caller's thread.
#ifndef HV_HOST_BASE_BINDING_H_
#define HV_HOST_BASE_BINDING_H_

#include <array>
#include <cstddef>

#include "base/wide.h"
#include "hv/vex_base_entries.h"
#include "hv/vex_host.h"
#include "platform/library.h"

namespace hv {

class VexBaseBinding {
 public:
  // Slot numbers: kSlot_vex_base_init is 0, and so on in the table's order.
  enum Slot : size_t {
#define HV_ENTRY_SLOT(name, kind) kSlot_##name,
    VEX_BASE_ENTRY_POINTS(HV_ENTRY_SLOT)
#undef HV_ENTRY_SLOT
    kSlotCount
  };
  static constexpr size_t kRequiredSlots = 5;
  static constexpr size_t kRegisterSlot = kSlot_vex_base_register_sp_dispatch;
  static constexpr size_t kUnregisterSlot = kSlot_vex_base_unregister_sp_dispatch;

  // The entry-point names, in slot order.
  static const char* const kEntryNames[kSlotCount];

  // Binds the library named VEX_BASE_LIBRARY_NAME.
  VexBaseBinding();
  // Binds the library named `library_name` (tests bind stand-ins).
  explicit VexBaseBinding(const WString& library_name);

  // The module-wide instance; the first access binds.
  static VexBaseBinding& Instance();

  HvResult RegisterDispatch(const WString& name, IVexRequestDispatch* dispatch) const;
  HvResult UnregisterDispatch(const WString& name, IVexRequestDispatch* dispatch) const;

  bool bound() const { return library_ != nullptr; }
  platform::Symbol slot(size_t index) const { return slots_[index]; }

 private:
  void Bind(const WString& library_name);

  platform::LibraryHandle library_ = nullptr;
  std::array<platform::Symbol, kSlotCount> slots_{};
};

}  // namespace hv

#endif  // HV_HOST_BASE_BINDING_H_
