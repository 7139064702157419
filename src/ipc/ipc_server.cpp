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

HvResult HV_CALL VexIPCServer::Dispatch(const char* method, const char* request,
                                        IVexResponse* reply, void* context) {
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

HvResult RegisterInterfaceNames(const std::vector<WString>& names, IVexRequestDispatch* dispatch) {
  const VexBaseBinding& binding = VexBaseBinding::Instance();
  for (size_t i = 0; i < names.size(); ++i) {
    HvResult rc = binding.RegisterDispatch(names[i], dispatch);
    if (rc != 0) {
      for (size_t k = i; k-- > 0;) binding.UnregisterDispatch(names[k], dispatch);
      return rc;
    }
  }
  return 0;
}

void WithdrawInterfaceNames(const std::vector<WString>& names, IVexRequestDispatch* dispatch) {
  const VexBaseBinding& binding = VexBaseBinding::Instance();
  for (const WString& name : names) binding.UnregisterDispatch(name, dispatch);
}

}  // namespace hv
