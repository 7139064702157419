// The class factory, reference counting, dispatch and the base-library
// binding, in-process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "base/utf.h"
#include "host/base_binding.h"
#include "hv/vex_host.h"
#include "ipc/ipc_server.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/system.h"
#include "tests/support/fixtures.h"
#include "tests/support/reply_sink.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::RecordingReply;

IVexServiceProvider* Create() {
  void* out = nullptr;
  EXPECT_EQ(HvDllGetClassObject(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out), 0);
  return static_cast<IVexServiceProvider*>(out);
}

TEST(ClassFactory, OneClassAndTheUnloadRule) {
  int32_t count = 0;
  EXPECT_EQ(HvDllGetClassCount(&count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(HvDllCanUnloadNow(), 0);
  IVexServiceProvider* a = Create();
  IVexServiceProvider* b = Create();
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(HvDllCanUnloadNow(), 1);
  EXPECT_EQ(a->Release(), 0u);
  EXPECT_EQ(HvDllCanUnloadNow(), 1);
  EXPECT_EQ(b->Release(), 0u);
  EXPECT_EQ(HvDllCanUnloadNow(), 0);
}

TEST(ClassFactory, UnknownClassAndInterfaceAreRefused) {
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(HvDllGetClassObject(&IID_IVexServiceProvider, &IID_IVexServiceProvider, &out),
            HV_CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(HvDllGetClassObject(&CLSID_HvVerifyImpl, &CLSID_HvVerifyImpl, &out), HV_E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(HvDllCanUnloadNow(), 0);
}

TEST(ClassFactory, QueryInterfaceForIUnknownGivesTheSameAddress) {
  IVexServiceProvider* object = Create();
  void* unknown = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_HvUnknown, &unknown), 0);
  EXPECT_EQ(unknown, static_cast<void*>(object));
  EXPECT_EQ(object->AddRef(), 3u);
  EXPECT_EQ(object->Release(), 2u);
  object->Release();
  EXPECT_EQ(object->Release(), 0u);
}

TEST(ClassFactory, ClassInfoFillsOneRecord) {
  HvClassInfo infos[5];
  std::memset(infos, 0xAB, sizeof infos);
  EXPECT_EQ(HvDllGetClassInfo(infos, 5), 0);
  EXPECT_EQ(std::memcmp(&infos[0].clsid, &CLSID_HvVerifyImpl, sizeof(HvGuid)), 0);
  EXPECT_STREQ(infos[0].className, "HvVerifyImpl");
  EXPECT_EQ(infos[0].reserved, 0u);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&infos[1])[0], 0xAB);
  EXPECT_EQ(HvDllGetClassInfo(nullptr, 5), 1);
  HvClassInfo none;
  std::memset(&none, 0xCD, sizeof none);
  EXPECT_EQ(HvDllGetClassInfo(&none, 0), 0);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&none)[0], 0xCD);
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { object_ = Create(); }
  void TearDown() override { object_->Release(); }
  IVexRequestDispatch* dispatcher() {
    return static_cast<HvVerifyImpl*>(object_);
  }
  IVexServiceProvider* object_ = nullptr;
  RecordingReply reply_;
};

TEST_F(DispatchTest, PathsMatchExactly) {
  for (const char* path : {"/ihvverify/SetVerifyOpt", "IHvVerify/SetVerifyOpt",
                           "/IHvVerify/setverifyopt", "/IHvVerify/SetVerifyOpt/"}) {
    EXPECT_EQ(dispatcher()->Dispatch(path, "{}", &reply_, nullptr), VEX_E_IPC_NO_METHOD) << path;
  }
  EXPECT_TRUE(reply_.replies().empty());
  EXPECT_EQ(dispatcher()->Dispatch(nullptr, "{}", &reply_, nullptr), HV_E_POINTER);
  EXPECT_EQ(dispatcher()->Dispatch("/IHvVerify/SetVerifyOpt", nullptr, &reply_, nullptr), HV_E_POINTER);
  EXPECT_EQ(dispatcher()->Dispatch("/IHvVerify/SetVerifyOpt", "{}", nullptr, nullptr), HV_E_POINTER);
}

TEST_F(DispatchTest, NonJsonRequestGetsTheParseFailureReply) {
  EXPECT_EQ(dispatcher()->Dispatch("/IHvVerify/SetVerifyOpt", "not json", &reply_, nullptr), 0);
  ASSERT_EQ(reply_.replies().size(), 1u);
  EXPECT_THAT(reply_.replies()[0], HasSubstr("\"error_code\" : \"-536412127\""));
  EXPECT_THAT(reply_.replies()[0], Not(HasSubstr("result")));
}

TEST_F(DispatchTest, SetVerifyOptChangesTheTimeoutAndRepliesNullValue) {
  std::string request = testing::TimeoutRequestDocument(60);
  EXPECT_EQ(dispatcher()->Dispatch("/IHvVerify/SetVerifyOpt", request.c_str(), &reply_, nullptr), 0);
  ASSERT_EQ(reply_.replies().size(), 1u);
  EXPECT_THAT(reply_.replies()[0], HasSubstr("\"NullValue\" : \"0\""));
  EXPECT_EQ(static_cast<HvVerifyImpl*>(object_)->timeout_setting(), 60u);
}

TEST_F(DispatchTest, CallContextIsSetDuringTheCallOnly) {
  static void* seen = nullptr;
  IpcMethodRegistry::Instance().Register(
      HV_W("/Probe/Context"), [](IVexRequestDispatch*, const char*, IVexResponse*) -> HvResult {
        seen = IpcMethodRegistry::Instance().CallContext();
        return 0;
      });
  int marker = 0;
  EXPECT_EQ(dispatcher()->Dispatch("/Probe/Context", "{}", &reply_, &marker), 0);
  EXPECT_EQ(seen, &marker);
  EXPECT_EQ(IpcMethodRegistry::Instance().CallContext(), nullptr);
  EXPECT_EQ(dispatcher()->Dispatch("/Probe/Missing", "{}", &reply_, &marker), VEX_E_IPC_NO_METHOD);
  EXPECT_EQ(IpcMethodRegistry::Instance().CallContext(), nullptr);
}

// Stand-in base libraries, loaded from beside this executable.
WString LibraryFile(const char* stem) { return platform::LibraryFileName(Utf8ToWide(stem)); }

struct StandIn {
  explicit StandIn(const char* stem) : file(LibraryFile(stem)) {
    std::string error;
    EXPECT_TRUE(library.Load(platform::ExecutableDirectory() + file, &error)) << error;
  }
  WString name() const { return file; }
  WString file;
  platform::LoadedLibrary library;
};

TEST(BaseBinding, AbsentLibraryLeavesEverythingUnbound) {
  VexBaseBinding binding;  // nothing named like the base library is loaded here
  EXPECT_FALSE(binding.bound());
  EXPECT_EQ(binding.RegisterDispatch(HV_W("IHvVerify"), nullptr), VEX_E_BASE_ENTRY_MISSING);
  EXPECT_EQ(binding.UnregisterDispatch(HV_W("IHvVerify"), nullptr), VEX_E_BASE_ENTRY_MISSING);
  EXPECT_EQ(platform::FindLoadedLibrary(VEX_BASE_LIBRARY_NAME), nullptr);
}

TEST(BaseBinding, MissingRequiredEntryUnbindsEverySlot) {
  StandIn nofini("vexbase_nofini");
  VexBaseBinding binding(nofini.name());
  EXPECT_FALSE(binding.bound());
  for (size_t i = 0; i < VexBaseBinding::kSlotCount; ++i) EXPECT_EQ(binding.slot(i), nullptr);
  EXPECT_EQ(binding.RegisterDispatch(HV_W("IHvVerify"), nullptr), VEX_E_BASE_ENTRY_MISSING);
}

TEST(BaseBinding, SevenNamesAreEnoughAndResultsPassUnchanged) {
  StandIn minimal("vexbase_minimal");
  VexBaseBinding binding(minimal.name());
  ASSERT_TRUE(binding.bound());
  HvVerifyImpl service(HV_W("127.0.0.1"));
  IVexRequestDispatch* dispatch = &service;
  EXPECT_EQ(binding.RegisterDispatch(HV_W("IHvVerify"), dispatch), 0);
  EXPECT_EQ(binding.UnregisterDispatch(HV_W("IHvVerify"), dispatch), 0);
  EXPECT_EQ(binding.slot(5), nullptr);  // an optional entry left out

  StandIn refusing("vexbase_refusing");
  VexBaseBinding refused(refusing.name());
  EXPECT_EQ(refused.RegisterDispatch(HV_W("IHvVerify"), dispatch), HV_E_FAIL);
}

// The reference base library exports every name of the table the binding
// reads, under the names the binding looks for.
TEST(BaseBinding, ReferenceLibraryFillsEverySlot) {
  StandIn reference("vexbase");
  VexBaseBinding binding(reference.name());
  ASSERT_TRUE(binding.bound());
  for (size_t i = 0; i < VexBaseBinding::kSlotCount; ++i) {
    EXPECT_NE(binding.slot(i), nullptr) << VexBaseBinding::kEntryNames[i];
  }
}

TEST(BaseBinding, LibraryLoadedAfterBindingStaysUnbound) {
  VexBaseBinding early(LibraryFile("vexbase_minimal"));  // not loaded yet
  StandIn late("vexbase_minimal");
  EXPECT_FALSE(early.bound());
}

// A host may unload a module only when it says so: a library given up with
// KeepLoaded stays loaded after its owner is gone; one let go is unloaded.
TEST(LoadedLibrary, KeptLibraryStaysLoadedAfterItsOwnerIsGone) {
  WString name = LibraryFile("vexbase_nofini");
  {
    StandIn released("vexbase_nofini");
  }
  EXPECT_EQ(platform::FindLoadedLibrary(name), nullptr);
  {
    StandIn kept("vexbase_nofini");
    kept.library.KeepLoaded();
  }
  EXPECT_NE(platform::FindLoadedLibrary(name), nullptr);
}

TEST(ServiceStart, UnboundRegistrationFailsAndStopStillSucceeds) {
  IVexServiceProvider* object = Create();
  EXPECT_EQ(object->Initialize(), 0);
  EXPECT_EQ(object->Start(), VEX_E_BASE_ENTRY_MISSING);
  EXPECT_EQ(object->Stop(), 0);
  EXPECT_EQ(object->Uninitialize(), 0);
  object->Release();
}

}  // namespace
}  // namespace hv
