// vexbase: the reference base library of the service host.
//
// It exports the 52 entry points a module may bind. The five required ones
// succeed and do nothing; the two dispatcher ones keep a thread-safe table
// from interface name to dispatcher; the other 45 return HV_E_NOTIMPL.
// vex_base_route_request lets the host reach a registered dispatcher, and
// vex_base_registered_name tells it the names registered.
//
// One registration per name: registering a name that is registered (by
// the same dispatcher or another) is refused with HV_E_ALREADY_REGISTERED
// and leaves the registration in place, so that its withdrawal still waits
// for every request running in its dispatcher and only its own dispatcher
// can withdraw it.
//
// Withdrawal is prompt: vex_base_unregister_sp_dispatch takes the entry out
// of the table under a short lock, so no new request reaches the dispatcher
// from then on, and waits only for the requests already running in it. A
// withdrawal from inside one of the dispatcher's own requests (the host's
// reply sink stopping the service) does not wait for the requests of its
// own thread, which could never end while it waits.
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
#include <condition_variable>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/barrier.h"
#include "hv/vex_base_entries.h"
#include "hv/vex_host.h"

namespace {

using Name = std::basic_string<HvUtf16>;

// One registration: its dispatcher and the threads of the requests running
// in it (one element per request, so nested ones count twice).
struct Entry {
  IVexRequestDispatch* dispatch = nullptr;
  std::vector<std::thread::id> running;
};

std::mutex& TableLock() {
  static std::mutex lock;
  return lock;
}

// Signalled whenever a request of a withdrawn entry ends.
std::condition_variable& RequestEnded() {
  static std::condition_variable ended;
  return ended;
}

std::map<Name, std::shared_ptr<Entry>>& Table() {
  static std::map<Name, std::shared_ptr<Entry>> table;
  return table;
}

// True when every request still running in `entry` is the calling thread's.
bool OnlyOwnRequestsRun(const Entry& entry) {
  std::thread::id self = std::this_thread::get_id();
  return std::all_of(entry.running.begin(), entry.running.end(),
                     [self](std::thread::id id) { return id == self; });
}

// Counts one request in `entry` for its duration; the table lock is taken
// only to count.
class RunningRequest {
 public:
  explicit RunningRequest(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
  ~RunningRequest() {
    std::lock_guard<std::mutex> hold(TableLock());
    auto& running = entry_->running;
    running.erase(std::find(running.begin(), running.end(), std::this_thread::get_id()));
    if (entry_->dispatch == nullptr) RequestEnded().notify_all();  // withdrawn: a withdrawal may wait
  }
  RunningRequest(const RunningRequest&) = delete;
  RunningRequest& operator=(const RunningRequest&) = delete;

 private:
  std::shared_ptr<Entry> entry_;
};

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
    // Not make_shared: its tag is a unique symbol, which would keep the
    // library from ever unloading.
    std::shared_ptr<Entry> entry(new Entry);
    entry->dispatch = dispatch;
    std::lock_guard<std::mutex> hold(TableLock());
    if (Table().count(key) != 0) return HV_E_ALREADY_REGISTERED;
    Table().emplace(std::move(key), std::move(entry));
    return HV_S_OK;
  });
}

// No request reaches the dispatcher once this is called; returns once no
// request is running in it (but the calling thread's own).
extern "C" VEX_BASE_EXPORT HvResult HV_CALL
vex_base_unregister_sp_dispatch(const HvUtf16* name, IVexRequestDispatch* dispatch) {
  if (name == nullptr) return HV_E_POINTER;
  return hv::CallAtBoundary([&]() -> HvResult {
    Name key(name);
    std::unique_lock<std::mutex> hold(TableLock());
    auto it = Table().find(key);
    if (it == Table().end() || it->second->dispatch != dispatch) return HV_E_FAIL;
    std::shared_ptr<Entry> entry = std::move(it->second);
    Table().erase(it);
    entry->dispatch = nullptr;  // withdrawn: its requests' ends are signalled
    RequestEnded().wait(hold, [&] { return OnlyOwnRequestsRun(*entry); });
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
    std::shared_ptr<Entry> entry;
    IVexRequestDispatch* dispatch = nullptr;
    {
      std::lock_guard<std::mutex> hold(TableLock());
      auto it = Table().find(name);
      if (it == Table().end()) return VEX_E_IPC_NO_METHOD;
      entry = it->second;
      dispatch = entry->dispatch;
      entry->running.push_back(std::this_thread::get_id());
    }
    RunningRequest counted(std::move(entry));
    return dispatch->Dispatch(method, request, reply, context);
  });
}

extern "C" VEX_BASE_EXPORT HvResult HV_CALL vex_base_registered_name(uint32_t index,
                                                                    HvUtf16* name,
                                                                    uint32_t capacity) {
  return hv::CallAtBoundary([&]() -> HvResult {
    std::lock_guard<std::mutex> hold(TableLock());
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
