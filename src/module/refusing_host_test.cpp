// A host whose base library refuses registration: the refusal reaches the
// host unchanged through the real module, and names registered before a
// refused one are withdrawn, latest first.
#include <gtest/gtest.h>

#include <filesystem>

#include "hv/vex_host.h"
#include "ipc/ipc_server.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/system.h"
#include "tests/support/temp_dir.h"
#include "tests/support/fixtures.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

class RefusingHost : public testing::BaseLibraryHost {
 protected:
  bool AnyNameRegistered() {
    HvUtf16 name[64];
    return registered_name_(0, name, 64) == HV_S_OK;
  }
};

TEST_F(RefusingHost, TheRefusalReachesTheHostUnchangedThroughTheModule) {
  platform::LoadedLibrary module;
  std::string error;
  ASSERT_TRUE(testing::LoadBesideProgram(&module, HV_W("HvVerifySp"), &error)) << error;
  auto get_object = testing::Entry<HvDllGetClassObjectFn>(module, "HvDllGetClassObject");
  ASSERT_NE(get_object, nullptr);
  void* out = nullptr;
  ASSERT_EQ(get_object(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out), 0);
  auto* service = static_cast<IVexServiceProvider*>(out);
  EXPECT_EQ(service->Start(), HV_E_FAIL);
  EXPECT_FALSE(AnyNameRegistered());
  EXPECT_EQ(service->Stop(), 0);
  EXPECT_EQ(service->Release(), 0u);
  EXPECT_TRUE(module.Unload());
}

TEST_F(RefusingHost, NamesRegisteredBeforeARefusalAreWithdrawn) {
  HvVerifyImpl service(HV_W("127.0.0.1"));
  std::vector<WString> names = {HV_W("IAcceptFirst"), HV_W("IAcceptSecond"), HV_W("IRefused")};
  EXPECT_EQ(RegisterInterfaceNames(names, &service), HV_E_FAIL);
  EXPECT_FALSE(AnyNameRegistered());
  // Without a refusal all stay registered.
  names.pop_back();
  EXPECT_EQ(RegisterInterfaceNames(names, &service), 0);
  EXPECT_TRUE(AnyNameRegistered());
  WithdrawInterfaceNames(names, &service);
  EXPECT_FALSE(AnyNameRegistered());
}

}  // namespace
}  // namespace hv
