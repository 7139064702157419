// The module as a host drives it: the real module file loaded beside the
// base library, created through its exports, started, sent requests
// through the registered dispatcher from many threads, stopped, released
// and unloaded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "hv/vex_host.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/system.h"
#include "tests/support/fixtures.h"
#include "tests/support/reply_sink.h"
#include "tests/support/script_server.h"
#include "tests/support/temp_dir.h"
#include "verify/protocol.h"

namespace hv {
namespace {

using ::testing::HasSubstr;
using testing::RecordingReply;
using testing::Step;

WString ModuleDirectory() {
  return platform::ExecutableDirectory() + HV_W("e2e") + platform::PathSeparator();
}

WString BaseLibraryFile() { return platform::ExecutableDirectory() + VEX_BASE_LIBRARY_NAME; }

WString ModuleFile() { return ModuleDirectory() + platform::LibraryFileName(HV_W("HvVerifySp")); }

template <typename Fn>
Fn Export(const platform::LoadedLibrary& module, const char* name) {
  return testing::Entry<Fn>(module, name);
}

const std::string kVerifyAlice = testing::VerifyRequestDocument("alice", "pw");
const std::string kSetTimeout = testing::TimeoutRequestDocument(5);

TEST(HostSequence, LoadCreateStartDispatchStopReleaseUnload) {
  testing::ScriptServer endpoint(
      {{Step::Read(), Step::Send(testing::HttpResponse(200, EncipheredAnswer(kAnswerAccepted))),
        Step::Close()}});
  // The module reads "VerifyHost" from the configuration beside its file.
  WString dir = ModuleDirectory() + HV_W("vexcomm.dat");
  testing::WriteFileBytes(std::filesystem::path(std::u16string(dir.begin(), dir.end())), "[SPCfg]\r\nVerifyHost=127.0.0.1:" +
                                                   std::to_string(endpoint.port()) + "\r\n");

  // The host has its base library loaded before it loads the module.
  platform::LoadedLibrary base, module;
  std::string error;
  ASSERT_TRUE(base.Load(BaseLibraryFile(), &error)) << error;
  auto vex_base_route_request = Export<VexBaseRouteRequestFn>(base, "vex_base_route_request");
  ASSERT_NE(vex_base_route_request, nullptr);
  ASSERT_TRUE(module.Load(ModuleFile(), &error)) << error;
  auto get_count = Export<HvDllGetClassCountFn>(module, "HvDllGetClassCount");
  auto get_info = Export<HvDllGetClassInfoFn>(module, "HvDllGetClassInfo");
  auto get_object = Export<HvDllGetClassObjectFn>(module, "HvDllGetClassObject");
  auto can_unload = Export<HvDllCanUnloadNowFn>(module, "HvDllCanUnloadNow");
  ASSERT_TRUE(get_count && get_info && get_object && can_unload);

  int32_t count = 0;
  ASSERT_EQ(get_count(&count), 0);
  ASSERT_EQ(count, 1);
  HvClassInfo info[2];
  ASSERT_EQ(get_info(info, 2), 0);
  EXPECT_STREQ(info[0].className, "HvVerifyImpl");

  void* out = nullptr;
  ASSERT_EQ(get_object(&info[0].clsid, &IID_IVexServiceProvider, &out), 0);
  auto* service = static_cast<IVexServiceProvider*>(out);
  EXPECT_EQ(can_unload(), 1);
  EXPECT_EQ(service->Initialize(), 0);
  ASSERT_EQ(service->Start(), 0);

  RecordingReply reply;
  EXPECT_EQ(vex_base_route_request("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &reply, nullptr), 0);
  ASSERT_EQ(reply.replies().size(), 1u);
  EXPECT_THAT(reply.replies()[0], HasSubstr("\"NullValue\" : \"0\""));

  std::atomic<int> accepted{0}, dispatched{0};
  std::vector<std::thread> hosts;
  for (int t = 0; t < 8; ++t) {
    hosts.emplace_back([&, vex_base_route_request] {
      for (int i = 0; i < 5; ++i) {
        RecordingReply r;
        if (vex_base_route_request("/IHvVerify/StartVerify", kVerifyAlice.c_str(), &r, nullptr) == 0) ++dispatched;
        auto texts = r.replies();
        if (texts.size() == 1 && texts[0].find("\"ResultValue\" : \"result=accepted\"") != std::string::npos &&
            texts[0].find("\"ResultType\" : \"1\"") != std::string::npos) {
          ++accepted;
        }
      }
    });
  }
  for (auto& h : hosts) h.join();
  EXPECT_EQ(dispatched.load(), 40);
  EXPECT_EQ(accepted.load(), 40);

  EXPECT_EQ(service->Stop(), 0);
  RecordingReply after;
  EXPECT_EQ(vex_base_route_request("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &after, nullptr),
            VEX_E_IPC_NO_METHOD);
  EXPECT_EQ(service->Uninitialize(), 0);
  EXPECT_EQ(service->Release(), 0u);
  EXPECT_EQ(can_unload(), 0);
  EXPECT_TRUE(module.Unload());
}

}  // namespace
}  // namespace hv
