// The module's side of the host's request dispatch.
//
// IpcMethodRegistry maps method paths ("/" interface "/" method) to
// handlers; it is filled while the module loads and read without a lock
// afterwards. VexIPCServer answers the host's Dispatch by looking the path
// up; VexIPCServerWrapper<Typelist> collects the names of the interfaces a
// server serves; VexIPCServerT registers and withdraws those names with the
// host's base library.
//
// Results: Dispatch returns VEX_E_IPC_NO_METHOD for an unknown path (no
// reply), HV_E_POINTER for a null argument, else the handler's result (0:
// decoding failures travel inside the reply). No exception leaves it: when
// memory runs out while the path is converted, the request decoded or the
// reply built, it returns HV_E_OUTOFMEMORY (0x8007000E) and hands no reply
// over; a verification that runs out of memory inside a stage still
// answers normally, with the stage's ResultType. Any other exception (a
// module-wide object used after unload) gives HV_E_UNEXPECTED (0x8000FFFF).
// Threads: Dispatch may run on many threads at once.
//
// Lifetime: a server counts the Dispatch calls running in it, so that its
// owner's last Release can retire it (Retire) and leave its destruction to
// the last of them when one is still running: the host's reply sink may
// release the last reference from inside a Dispatch. VexIPCServerT
// remembers which names the host holds (a registration that succeeded and
// no withdrawal that succeeded since), so that a second Start registers
// nothing twice and the last Release withdraws exactly those; its Start,
// Stop and last Release never interleave (HostHeldNames).
#ifndef HV_IPC_IPC_SERVER_H_
#define HV_IPC_IPC_SERVER_H_

#include <loki/Typelist.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

#include "base/wide.h"
#include "hv/vex_host.h"
#include "platform/thread_slot.h"

namespace hv {

using IpcMethodHandler = HvResult (*)(IVexRequestDispatch* server, const char* request,
                                      IVexResponse* reply);

class IpcMethodRegistry {
 public:
  // The module-wide registry (created at first use).
  static IpcMethodRegistry& Instance();

  // A second registration of a path replaces the handler.
  void Register(const WString& path, IpcMethodHandler handler);
  IpcMethodHandler Find(const WString& path) const;
  // The handler of a path given as the host gives it, in UTF-8. An ASCII
  // path (every path in practice) is found without conversion.
  IpcMethodHandler FindUtf8(const char* path) const;

  // The host's per-call context of the Dispatch running on this thread
  // (null outside one), kept in the registry's thread-local slot. Setting
  // answers false when the thread had no room for it (memory ran out).
  void* CallContext() const;
  bool SetCallContext(void* context);

  IpcMethodRegistry();

 private:
  platform::ThreadSlot call_context_slot_;
  std::map<WString, IpcMethodHandler> methods_;
  // The ASCII ones among them again, keyed by their bytes.
  std::map<std::string, IpcMethodHandler, std::less<>> ascii_methods_;
};

// Registers "/" + interface + "/" + method while the module loads. The
// interface name is asked for behind the load barrier: reading it may
// allocate.
struct IpcMethodRegistrar {
  IpcMethodRegistrar(const WString& (*interface_name)(), const WChar* method,
                     IpcMethodHandler handler);
};

// The name under which interface I is served.
template <class I>
const WString& IpcInterfaceName();

class VexIPCServer : public IVexRequestDispatch {
 public:
  HvResult HV_CALL Dispatch(const char* method, const char* request, IVexResponse* reply,
                            void* context) override;
  const std::vector<WString>& interface_names() const { return interfaceNames; }

 protected:
  VexIPCServer() = default;
  virtual ~VexIPCServer() { interfaceNames.clear(); }
  // Marks the server retired (its owner's references are all gone and the
  // host holds none of its names). True when no Dispatch is running: the
  // caller destroys it now. Otherwise the last running Dispatch calls
  // DestroyRetired() as it leaves, and the caller must not touch it again.
  bool Retire() noexcept;
  virtual void DestroyRetired() noexcept = 0;
  std::vector<WString> interfaceNames;

 private:
  HvResult Serve(const char* method, const char* request, IVexResponse* reply, void* context);

  // Dispatch calls running, plus kRetired once retired.
  static constexpr uint32_t kRetired = 0x80000000u;
  std::atomic<uint32_t> dispatch_state_{0};
};

template <class TList>
class VexIPCServerWrapper;

template <>
class VexIPCServerWrapper<Loki::NullType> : public VexIPCServer {};

template <class Head, class Tail>
class VexIPCServerWrapper<Loki::Typelist<Head, Tail>> : public Head,
                                                        public VexIPCServerWrapper<Tail> {
 protected:
  VexIPCServerWrapper() { this->interfaceNames.push_back(IpcInterfaceName<Head>()); }
};

// The names of one server that the host holds, and the one Start, Stop or
// last Release that may change them at a time. Each of them claims the
// record for the whole of its base-library calls and gives it back after,
// so that a withdrawal can never erase what a concurrent registration
// recorded (nor the reverse). A claim is taken without waiting, and no lock
// is held while the base library runs (its withdrawal waits for requests
// whose reply sinks may call Start or Stop): a call that finds another
// under way answers HV_E_BUSY at once and changes nothing.
class HostHeldNames {
 public:
  // Registers, in order, the names the host does not hold yet; on the
  // first refusal withdraws those this call registered, latest first, and
  // returns the refusal. When the host already holds every name (a second
  // Start) nothing is called and the result is 0.
  HvResult Register(const std::vector<WString>& names, IVexRequestDispatch* dispatch);
  // Withdraws every name (held or not); results are ignored: 0, or
  // HV_E_BUSY.
  HvResult Withdraw(const std::vector<WString>& names, IVexRequestDispatch* dispatch);
  // Withdraws the names the host still holds; true when it holds none
  // afterwards (a refused withdrawal leaves its name held, and a claim
  // under way on another thread leaves them all).
  bool WithdrawHeld(const std::vector<WString>& names, IVexRequestDispatch* dispatch);

 private:
  class Claim;
  // Bit i: the host holds name i. kClaimed: a call is under way.
  static constexpr uint32_t kClaimed = 0x80000000u;
  std::atomic<uint32_t> state_{0};
};

template <class TList>
class VexIPCServerT : public VexIPCServerWrapper<TList> {
  static_assert(Loki::TL::Length<TList>::value < 32, "the names the host holds are tracked in 31 bits");

 protected:
  // Start, Stop and the last Release: see HostHeldNames.
  HvResult RegisterNames() { return held_.Register(this->interfaceNames, Dispatcher()); }
  HvResult WithdrawNames() { return held_.Withdraw(this->interfaceNames, Dispatcher()); }
  bool WithdrawHeldNames() { return held_.WithdrawHeld(this->interfaceNames, Dispatcher()); }

 private:
  IVexRequestDispatch* Dispatcher() { return static_cast<IVexRequestDispatch*>(this); }
  HostHeldNames held_;
};

// Registers `names` in order (on the first refusal, withdraws those before
// it, latest first, and returns the refusal). Each withdrawal clears its
// bit of `held` when it succeeds, each registration sets it; `only_held`
// withdraws only the names whose bit is set, and a registration skips them.
HvResult RegisterInterfaceNames(const std::vector<WString>& names, IVexRequestDispatch* dispatch,
                                uint32_t* held = nullptr);
void WithdrawInterfaceNames(const std::vector<WString>& names, IVexRequestDispatch* dispatch,
                            uint32_t* held = nullptr, bool only_held = false);

}  // namespace hv

#endif  // HV_IPC_IPC_SERVER_H_
