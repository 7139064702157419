// The module-wide objects that are built while the module loads.
//
// They are defined in this one file because C++ orders the initialisation
// of objects within a file (top to bottom) but not across files. The order:
// the configuration (the interface name heads every method path), the class
// table's row, the method table ("SetVerifyOpt" first), and the log writer
// last (it changes the current directory). The base-library binding's lock
// needs no set-up. Destruction runs in the reverse order at unload.
#include "host/config.h"
#include "ipc/ipc_server.h"
#include "ipc/method_stub.h"
#include "log/logger.h"
#include "module/class_registry.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

const HostSettings g_hostSettings = LoadHostSettings();

const bool g_classRow = HvClassRegistry::Instance().Insert(
    {CLSID_HvVerifyImpl, &HvVerifyImpl::Create, "HvVerifyImpl", 0});

const IpcMethodRegistrar g_setVerifyOpt(
    IpcInterfaceName<IHvVerify>(), HV_W("SetVerifyOpt"),
    &IpcMethodStub<HvVerifyImpl, IHvVerify, VerifyOption, NullResult, &IHvVerify::SetVerifyOpt>);
const IpcMethodRegistrar g_startVerify(
    IpcInterfaceName<IHvVerify>(), HV_W("StartVerify"),
    &IpcMethodStub<HvVerifyImpl, IHvVerify, VerifyRequest, VerifyResult, &IHvVerify::StartVerify>);

}  // namespace

HvLogger g_verifyLog;

const HostSettings& HostConfig() { return g_hostSettings; }

}  // namespace hv
