// The module-wide objects that are built while the module loads.
//
// They are defined in this one file because C++ orders the initialisation
// of objects within a file (top to bottom) but not across files. The order:
// the configuration (the interface name heads every method path), the class
// table's row, the method table ("SetVerifyOpt" first), and the log writer
// last (it changes the current directory). The base-library binding's lock
// needs no set-up. Destruction runs in the reverse order at unload.
#include "base/barrier.h"
#include "host/config.h"
#include "ipc/ipc_server.h"
#include "ipc/method_stub.h"
#include "log/logger.h"
#include "module/class_registry.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

// Each step runs behind the barrier (RunAtLoad): a step that runs out of
// memory leaves the module loaded, and every export answers with its code.
HostSettings g_hostSettings;
const bool g_settingsRead = (RunAtLoad([] { g_hostSettings = LoadHostSettings(); }), true);

const bool g_classRow = (RunAtLoad([] {
  HvClassRegistry::Instance().Insert({CLSID_HvVerifyImpl, &HvVerifyImpl::Create, "HvVerifyImpl", 0});
}), true);

const IpcMethodRegistrar g_setVerifyOpt(
    IpcInterfaceName<IHvVerify>(), HV_W("SetVerifyOpt"),
    &IpcMethodStub<HvVerifyImpl, IHvVerify, VerifyOption, NullResult, &IHvVerify::SetVerifyOpt>);
const IpcMethodRegistrar g_startVerify(
    IpcInterfaceName<IHvVerify>(), HV_W("StartVerify"),
    &IpcMethodStub<HvVerifyImpl, IHvVerify, VerifyRequest, VerifyResult, &IHvVerify::StartVerify>);

}  // namespace

// Its constructor never throws: a writer that could not be set up fails
// every line silently.
HvLogger g_verifyLog;

const HostSettings& HostConfig() { return g_hostSettings; }

}  // namespace hv
