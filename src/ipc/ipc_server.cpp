#include "ipc/ipc_server.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <new>

#include "base/barrier.h"
#include "platform/module_singleton.h"
#include "base/utf.h"
#include "host/base_binding.h"

namespace hv {
namespace {

// Holds the host's context in the thread's slot for one call, and clears
// it however the handler ends.
class CallContextScope {
 public:
  CallContextScope(IpcMethodRegistry& registry, void* context)
      : registry_(registry), stored_(registry.SetCallContext(context)) {}
  ~CallContextScope() {
    if (stored_) registry_.SetCallContext(nullptr);
  }
  // False when the thread had no room for the slot's value.
  bool stored() const { return stored_; }

 private:
  IpcMethodRegistry& registry_;
  bool stored_;
};

}  // namespace

// A process without a free thread-local index is one whose resources ran
// out: the registry is then not created, and the module's load fails as it
// does for exhausted memory.
IpcMethodRegistry::IpcMethodRegistry() {
  if (!call_context_slot_.allocated()) throw std::bad_alloc();
}

IpcMethodRegistry& IpcMethodRegistry::Instance() {
  return ModuleSingleton<IpcMethodRegistry>::Instance();
}

void IpcMethodRegistry::Register(const WString& path, IpcMethodHandler handler) {
  methods_[path] = handler;
  if (std::all_of(path.begin(), path.end(), [](WChar c) { return c < 0x80; })) {
    ascii_methods_[std::string(path.begin(), path.end())] = handler;
  }
}

IpcMethodHandler IpcMethodRegistry::FindUtf8(const char* path) const {
  std::string_view bytes(path);
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    auto it = ascii_methods_.find(bytes);
    return it == ascii_methods_.end() ? nullptr : it->second;
  }
  return Find(Utf8ToWide(std::string(bytes)));
}

IpcMethodHandler IpcMethodRegistry::Find(const WString& path) const {
  auto it = methods_.find(path);
  return it == methods_.end() ? nullptr : it->second;
}

void* IpcMethodRegistry::CallContext() const { return call_context_slot_.Get(); }
bool IpcMethodRegistry::SetCallContext(void* context) { return call_context_slot_.Set(context); }

IpcMethodRegistrar::IpcMethodRegistrar(const WString& (*interface_name)(), const WChar* method,
                                       IpcMethodHandler handler) {
  RunAtLoad([&] {
    IpcMethodRegistry::Instance().Register(HV_W("/") + interface_name() + HV_W("/") + method, handler);
  });
}

bool VexIPCServer::Retire() noexcept { return dispatch_state_.fetch_add(kRetired) == 0; }

// Counted while it runs: the last call to leave a retired server destroys
// it, after which nothing of it is touched.
HvResult HV_CALL VexIPCServer::Dispatch(const char* method, const char* request,
                                        IVexResponse* reply, void* context) {
  dispatch_state_.fetch_add(1);
  HvResult rc = Serve(method, request, reply, context);
  if (dispatch_state_.fetch_sub(1) == kRetired + 1) DestroyRetired();
  return rc;
}

HvResult VexIPCServer::Serve(const char* method, const char* request, IVexResponse* reply,
                             void* context) {
  return CallAtBoundary([&] {
    if (method == nullptr || request == nullptr || reply == nullptr) return HV_E_POINTER;
    IpcMethodRegistry& registry = IpcMethodRegistry::Instance();
    CallContextScope scope(registry, context);
    // The first value a thread stores may need memory of the system's.
    if (!scope.stored()) return HV_E_OUTOFMEMORY;
    IpcMethodHandler handler = registry.FindUtf8(method);
    if (handler == nullptr) return VEX_E_IPC_NO_METHOD;
    return handler(this, request, reply);
  });
}

namespace {

uint32_t NameBit(size_t index) { return index < 32 ? 1u << index : 0u; }

HvResult Withdraw(const VexBaseBinding& binding, const WString& name, IVexRequestDispatch* dispatch,
                  size_t index, uint32_t* held) {
  HvResult rc = binding.UnregisterDispatch(name, dispatch);
  if (rc == 0 && held != nullptr) *held &= ~NameBit(index);
  return rc;
}

bool Held(const uint32_t* held, size_t index) { return held != nullptr && (*held & NameBit(index)) != 0; }

}  // namespace

HvResult RegisterInterfaceNames(const std::vector<WString>& names, IVexRequestDispatch* dispatch,
                                uint32_t* held) {
  const VexBaseBinding& binding = VexBaseBinding::Instance();
  uint32_t added = 0;  // by this call: a name held before stays held
  for (size_t i = 0; i < names.size(); ++i) {
    if (Held(held, i)) continue;
    HvResult rc = binding.RegisterDispatch(names[i], dispatch);
    if (rc != 0) {
      for (size_t k = i; k-- > 0;) {
        if ((added & NameBit(k)) != 0) Withdraw(binding, names[k], dispatch, k, held);
      }
      return rc;
    }
    added |= NameBit(i);
    if (held != nullptr) *held |= NameBit(i);
  }
  return 0;
}

void WithdrawInterfaceNames(const std::vector<WString>& names, IVexRequestDispatch* dispatch,
                            uint32_t* held, bool only_held) {
  const VexBaseBinding& binding = VexBaseBinding::Instance();
  for (size_t i = 0; i < names.size(); ++i) {
    if (only_held && !Held(held, i)) continue;
    Withdraw(binding, names[i], dispatch, i, held);
  }
}

// One call's hold on the record: taken without waiting, given back (with
// the names held then) however the call ends.
class HostHeldNames::Claim {
 public:
  explicit Claim(std::atomic<uint32_t>& state) : state_(state) {
    uint32_t seen = state_.load();
    do {
      if ((seen & kClaimed) != 0) return;
    } while (!state_.compare_exchange_weak(seen, seen | kClaimed));
    held_ = seen;
    claimed_ = true;
  }
  ~Claim() {
    if (claimed_) state_.store(held_);
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;
  bool claimed() const { return claimed_; }
  uint32_t* held() { return &held_; }

 private:
  std::atomic<uint32_t>& state_;
  uint32_t held_ = 0;
  bool claimed_ = false;
};

HvResult HostHeldNames::Register(const std::vector<WString>& names, IVexRequestDispatch* dispatch) {
  Claim claim(state_);
  if (!claim.claimed()) return HV_E_BUSY;
  return RegisterInterfaceNames(names, dispatch, claim.held());
}

HvResult HostHeldNames::Withdraw(const std::vector<WString>& names, IVexRequestDispatch* dispatch) {
  Claim claim(state_);
  if (!claim.claimed()) return HV_E_BUSY;
  WithdrawInterfaceNames(names, dispatch, claim.held());
  return 0;
}

bool HostHeldNames::WithdrawHeld(const std::vector<WString>& names, IVexRequestDispatch* dispatch) {
  Claim claim(state_);
  if (!claim.claimed()) return false;
  if (*claim.held() != 0) WithdrawInterfaceNames(names, dispatch, claim.held(), true);
  return *claim.held() == 0;
}

}  // namespace hv
