// vexbase: the reference base library of the service host.
//
// It exports the 52 entry points a module may bind. The five required ones
// succeed and do nothing; the two dispatcher ones keep a thread-safe table
// from interface name to dispatcher; the other 45 return HV_E_NOTIMPL.
// vex_base_route_request lets the host reach a registered dispatcher, and
// vex_base_registered_name tells it the names registered.
//
// No exception leaves an entry point: the host may be built by another
// compiler. Each one that does more than return a constant runs behind the
// module's exception barrier (CallAtBoundary): exhausted memory (a name
// copied, a table node, a lock that allocates at its first use) answers
// HV_E_OUTOFMEMORY, anything else HV_E_UNEXPECTED.
//
// Variants for tests are built from this file: VEXBASE_WITHOUT_FINI leaves
// "vex_base_fini" out, VEXBASE_MINIMAL exports only the seven names a module
// uses, VEXBASE_REFUSE_REGISTER makes registration fail with HV_E_FAIL for
// every name not beginning with "IAccept".
#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>

#include "base/barrier.h"
#include "hv/vex_base_entries.h"
#include "hv/vex_host.h"

namespace {

using Name = std::basic_string<HvUtf16>;

std::shared_mutex& TableLock() {
  static std::shared_mutex lock;
  return lock;
}

std::map<Name, IVexRequestDispatch*>& Table() {
  static std::map<Name, IVexRequestDispatch*> table;
  return table;
}

}  // namespace

#define VEX_BASE_OK(name) \
  extern "C" VEX_BASE_EXPORT HvResult HV_CALL name(void) { return HV_S_OK; }
#define VEX_BASE_NOT_IMPLEMENTED(name) \
  extern "C" VEX_BASE_EXPORT HvResult HV_CALL name(void) { return HV_E_NOTIMPL; }

VEX_BASE_OK(vex_base_init)
VEX_BASE_OK(vex_base_init_client)
VEX_BASE_OK(vex_base_start)
VEX_BASE_OK(vex_base_stop)
#ifndef VEXBASE_WITHOUT_FINI
VEX_BASE_OK(vex_base_fini)
#endif

extern "C" VEX_BASE_EXPORT HvResult HV_CALL
vex_base_register_sp_dispatch(const HvUtf16* name, IVexRequestDispatch* dispatch) {
  if (name == nullptr || dispatch == nullptr) return HV_E_POINTER;
  return hv::CallAtBoundary([&]() -> HvResult {
#ifdef VEXBASE_REFUSE_REGISTER
    // Refuses every name but those beginning with "IAccept", so that a
    // refusal after an earlier success can be seen.
    const char kAccepted[] = "IAccept";
    Name given(name);
    if (given.compare(0, sizeof kAccepted - 1, Name(kAccepted, kAccepted + sizeof kAccepted - 1)) != 0) {
      return HV_E_FAIL;
    }
#endif
    Name key(name);  // built before the lock is taken
    std::unique_lock<std::shared_mutex> hold(TableLock());
    Table()[std::move(key)] = dispatch;
    return HV_S_OK;
  });
}

// Returns once no request is running in the withdrawn dispatcher.
extern "C" VEX_BASE_EXPORT HvResult HV_CALL
vex_base_unregister_sp_dispatch(const HvUtf16* name, IVexRequestDispatch* dispatch) {
  if (name == nullptr) return HV_E_POINTER;
  return hv::CallAtBoundary([&]() -> HvResult {
    Name key(name);
    std::unique_lock<std::shared_mutex> hold(TableLock());
    auto it = Table().find(key);
    if (it == Table().end() || it->second != dispatch) return HV_E_FAIL;
    Table().erase(it);
    return HV_S_OK;
  });
}

extern "C" VEX_BASE_EXPORT HvResult HV_CALL vex_base_route_request(const char* method,
                                                                  const char* request,
                                                                  IVexResponse* reply,
                                                                  void* context) {
  if (method == nullptr || method[0] != '/') return VEX_E_IPC_NO_METHOD;
  return hv::CallAtBoundary([&]() -> HvResult {
    std::string path(method + 1);
    std::string first = path.substr(0, path.find('/'));
    Name name(first.begin(), first.end());  // interface names are ASCII
    std::shared_lock<std::shared_mutex> hold(TableLock());
    auto it = Table().find(name);
    if (it == Table().end()) return VEX_E_IPC_NO_METHOD;
    return it->second->Dispatch(method, request, reply, context);
  });
}

extern "C" VEX_BASE_EXPORT HvResult HV_CALL vex_base_registered_name(uint32_t index,
                                                                    HvUtf16* name,
                                                                    uint32_t capacity) {
  return hv::CallAtBoundary([&]() -> HvResult {
    std::shared_lock<std::shared_mutex> hold(TableLock());
    if (index >= Table().size()) return HV_S_FALSE;
    auto it = Table().begin();
    std::advance(it, index);
    if (name == nullptr || it->first.size() >= capacity) return HV_E_POINTER;
    std::copy(it->first.begin(), it->first.end(), name);
    name[it->first.size()] = 0;
    return HV_S_OK;
  });
}

// The entry points a module never calls, from the one table of names.
#ifndef VEXBASE_MINIMAL
#define VEX_BASE_DEFINE_REQUIRED(name)
#define VEX_BASE_DEFINE_DISPATCH(name)
#define VEX_BASE_DEFINE_OTHER(name) VEX_BASE_NOT_IMPLEMENTED(name)
#define VEX_BASE_DEFINE(name, kind) VEX_BASE_DEFINE_##kind(name)
VEX_BASE_ENTRY_POINTS(VEX_BASE_DEFINE)
#endif
