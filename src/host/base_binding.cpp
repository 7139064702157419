#include "host/base_binding.h"

#include "base/module_singleton.h"

namespace hv {

const char* const VexBaseBinding::kEntryNames[kSlotCount] = {
    "vex_base_init", "vex_base_init_client", "vex_base_start", "vex_base_stop",
    "vex_base_fini", "vex_base_get_system_method",
    "vex_base_register_unhandled_exception_filter",
    "vex_base_unregister_unhandled_exception_filter", "vex_base_set_crash_post_option",
    "vex_base_notify_activity", "vex_base_create_config_key", "vex_base_open_config_key",
    "vex_base_close_config_key", "vex_base_get_config", "vex_base_set_config",
    "vex_base_delete_config_key", "vex_base_enum_config_key", "vex_base_post_event",
    "vex_base_register_event_notify", "vex_base_unregister_event_notify",
    "vex_base_register_uri_dispatch", "vex_base_unregister_uri_dispatch",
    "vex_base_stop_http", "vex_base_resume_http", "vex_base_register_web_path",
    "vex_base_unregister_web_path", "vex_base_register_sp_dispatch",
    "vex_base_unregister_sp_dispatch", "vex_base_stop_ipc", "vex_base_resume_ipc",
    "vex_base_create_job", "vex_base_create_job_as_thread_token",
    "vex_base_set_and_run_control_cpu_job", "vex_base_set_and_run_user_away_job",
    "vex_base_run_job", "vex_base_stop_job", "vex_base_pause_job", "vex_base_resume_job",
    "vex_base_wait_job", "vex_base_wait_multi_job", "vex_base_get_job_exit_code",
    "vex_base_get_job_status", "vex_base_close_job", "vex_base_create_debug_log",
    "vex_base_debug_log", "vex_base_close_debug_log", "vex_base_load_plugin_path",
    "vex_base_unload_plugin_path", "vex_base_system_query_active_user_token",
    "vex_base_uncompress_file", "vex_base_load_plugin", "vex_base_unload_plugin",
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
