// Module-wide objects used after the module's exit processing destroyed
// them: each use raises "Dead Reference Detected", and the barrier turns it
// into HV_E_UNEXPECTED at the host's boundary instead of ending the host.
// A process of its own: the singletons stay destroyed once destroyed.
#include <gtest/gtest.h>

#include "platform/module_singleton.h"
#include "host/base_binding.h"
#include "host/class_registry.h"
#include "hv/vex_host.h"
#include "ipc/ipc_server.h"
#include "tests/support/fixtures.h"
#include "tests/support/reply_sink.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

const std::string kSetTimeout = testing::TimeoutRequestDocument(7);

TEST(DeadReference, EveryBoundaryAnswersUnexpectedInsteadOfThrowing) {
  void* out = nullptr;
  ASSERT_EQ(HvDllGetClassObject(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out), 0);
  auto* service = static_cast<IVexServiceProvider*>(out);
  IVexRequestDispatch* dispatch = static_cast<HvVerifyImpl*>(service);

  ModuleSingleton<VexBaseBinding>::Destroy();
  EXPECT_EQ(service->Start(), HV_E_UNEXPECTED);
  EXPECT_EQ(service->Stop(), HV_E_UNEXPECTED);

  ModuleSingleton<IpcMethodRegistry>::Destroy();
  testing::RecordingReply reply;
  EXPECT_EQ(dispatch->Dispatch("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &reply, nullptr),
            HV_E_UNEXPECTED);
  EXPECT_TRUE(reply.replies().empty());

  ModuleSingleton<HvClassRegistry>::Destroy();
  int32_t count = -1;
  EXPECT_EQ(HvDllGetClassCount(&count), HV_E_UNEXPECTED);
  HvClassInfo info[1];
  EXPECT_EQ(HvDllGetClassInfo(info, 1), HV_E_UNEXPECTED);
  void* second = nullptr;
  EXPECT_EQ(HvDllGetClassObject(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &second),
            HV_E_UNEXPECTED);

  // Counting references needs none of them.
  EXPECT_EQ(service->AddRef(), 2u);
  EXPECT_EQ(service->Release(), 1u);
  EXPECT_EQ(service->Release(), 0u);
  EXPECT_EQ(HvDllCanUnloadNow(), HV_S_OK);
}

}  // namespace
}  // namespace hv
