// The module-wide objects that are built while the module loads.
//
// They are defined in this one file because C++ orders the initialisation
// of objects within a file (top to bottom) but not across files. The order:
// the configuration (the interface name heads every method path), the class
// table's row, the method table ("SetVerifyOpt" first), and the log writer
// last (it changes the current directory), which module code then reaches
// through VerifyLog(). The base-library binding's lock needs no set-up.
// Destruction runs in the reverse order at unload.
//
// Only the module and the tests of its load-time behaviour link this file.
#include "base/barrier.h"
#include "host/class_registry.h"
#include "host/config.h"
#include "ipc/ipc_server.h"
#include "log/logger.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

// Each step runs behind the barrier (RunAtLoad): a step that runs out of
// memory leaves the module loaded, and every export answers with its code.
const bool g_settingsRead = (RunAtLoad([] { (void)HostConfig(); }), true);

const bool g_classRow = (RunAtLoad([] {
  HvClassRegistry::Instance().Insert({CLSID_HvVerifyImpl, &HvVerifyImpl::Create, "HvVerifyImpl", 0});
}), true);

const IpcMethodRegistrar g_setVerifyOpt(&IpcInterfaceName<IHvVerify>, kHvVerifyMethods[0].name,
                                        kHvVerifyMethods[0].handler);
const IpcMethodRegistrar g_startVerify(&IpcInterfaceName<IHvVerify>, kHvVerifyMethods[1].name,
                                       kHvVerifyMethods[1].handler);

}  // namespace

namespace {

// The log's size limit, "VerifyLogLimit" in bytes (64 KiB when unset or
// out of range).
uint64_t ConfiguredLogLimit() {
  uint64_t limit = HvLogger::kRestartSize;
  RunAtLoad([&] {
    WString text;
    limit = LogLimitSetting(ConfiguredValue(HV_W("VerifyLogLimit"), &text) == 0 ? &text : nullptr);
  });
  return limit;
}

}  // namespace

// Its constructor never throws: a writer that could not be set up fails
// every line silently.
HvLogger g_verifyLog{ConfiguredLogLimit()};

namespace {

// Module code logs to g_verifyLog from the moment it is built until just
// before it is destroyed.
struct VerifyLogBinding {
  VerifyLogBinding() { SetVerifyLog(&g_verifyLog); }
  ~VerifyLogBinding() { SetVerifyLog(nullptr); }
} g_verifyLogBinding;

}  // namespace

}  // namespace hv
