/*
 * The base library's entry points, written once: the module binds them in
 * this order (slot 0 first), the reference base library and its stand-ins
 * export them from this list.
 *
 * VEX_BASE_ENTRY_POINTS(X) expands X(name, kind) once per entry point:
 *   REQUIRED  a module binds nothing unless all five are present;
 *   DISPATCH  registration and withdrawal of a request dispatcher;
 *   OTHER     the remaining services, which this module never calls.
 */
#ifndef HV_VEX_BASE_ENTRIES_H_
#define HV_VEX_BASE_ENTRIES_H_

#define VEX_BASE_ENTRY_POINTS(X) \
  X(vex_base_init, REQUIRED) \
  X(vex_base_init_client, REQUIRED) \
  X(vex_base_start, REQUIRED) \
  X(vex_base_stop, REQUIRED) \
  X(vex_base_fini, REQUIRED) \
  X(vex_base_get_system_method, OTHER) \
  X(vex_base_register_unhandled_exception_filter, OTHER) \
  X(vex_base_unregister_unhandled_exception_filter, OTHER) \
  X(vex_base_set_crash_post_option, OTHER) \
  X(vex_base_notify_activity, OTHER) \
  X(vex_base_create_config_key, OTHER) \
  X(vex_base_open_config_key, OTHER) \
  X(vex_base_close_config_key, OTHER) \
  X(vex_base_get_config, OTHER) \
  X(vex_base_set_config, OTHER) \
  X(vex_base_delete_config_key, OTHER) \
  X(vex_base_enum_config_key, OTHER) \
  X(vex_base_post_event, OTHER) \
  X(vex_base_register_event_notify, OTHER) \
  X(vex_base_unregister_event_notify, OTHER) \
  X(vex_base_register_uri_dispatch, OTHER) \
  X(vex_base_unregister_uri_dispatch, OTHER) \
  X(vex_base_stop_http, OTHER) \
  X(vex_base_resume_http, OTHER) \
  X(vex_base_register_web_path, OTHER) \
  X(vex_base_unregister_web_path, OTHER) \
  X(vex_base_register_sp_dispatch, DISPATCH) \
  X(vex_base_unregister_sp_dispatch, DISPATCH) \
  X(vex_base_stop_ipc, OTHER) \
  X(vex_base_resume_ipc, OTHER) \
  X(vex_base_create_job, OTHER) \
  X(vex_base_create_job_as_thread_token, OTHER) \
  X(vex_base_set_and_run_control_cpu_job, OTHER) \
  X(vex_base_set_and_run_user_away_job, OTHER) \
  X(vex_base_run_job, OTHER) \
  X(vex_base_stop_job, OTHER) \
  X(vex_base_pause_job, OTHER) \
  X(vex_base_resume_job, OTHER) \
  X(vex_base_wait_job, OTHER) \
  X(vex_base_wait_multi_job, OTHER) \
  X(vex_base_get_job_exit_code, OTHER) \
  X(vex_base_get_job_status, OTHER) \
  X(vex_base_close_job, OTHER) \
  X(vex_base_create_debug_log, OTHER) \
  X(vex_base_debug_log, OTHER) \
  X(vex_base_close_debug_log, OTHER) \
  X(vex_base_load_plugin_path, OTHER) \
  X(vex_base_unload_plugin_path, OTHER) \
  X(vex_base_system_query_active_user_token, OTHER) \
  X(vex_base_uncompress_file, OTHER) \
  X(vex_base_load_plugin, OTHER) \
  X(vex_base_unload_plugin, OTHER)

#endif /* HV_VEX_BASE_ENTRIES_H_ */
