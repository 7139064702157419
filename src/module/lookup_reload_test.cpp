// Linux: a name lookup the module abandoned at its deadline is still
// running inside the C library, which writes into the module's record of
// it. A host that unloads the module then must not make the record a leak
// (the module's table of abandoned lookups would be gone with it, and a
// reload would start an empty one): the module stays loaded while any is
// pending, a reload finds the same instance, whose next lookup frees the
// record, and the host's next unload unloads it.
//
// The real module file is loaded from bin/lookup_reload with a resolver
// that never answers (tests/support/silent_nameserver.h: root, a child
// process); without root the case skips.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "hv/vex_host.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/system.h"
#include "tests/support/fixtures.h"
#include "tests/support/reply_sink.h"
#include "tests/support/silent_nameserver.h"
#include "tests/support/temp_dir.h"

namespace hv {
namespace {

WString ModuleFile() {
  return platform::ExecutableDirectory() + HV_W("lookup_reload") + platform::PathSeparator() +
         platform::LibraryFileName(HV_W("HvVerifySp"));
}

// Loads the module, verifies once (one lookup of the configured name)
// through the host's base library, and unloads it again; exits with `code`
// on any failure.
void VerifyOnceAndUnload(VexBaseRouteRequestFn route, int code) {
  platform::LoadedLibrary module;
  std::string error;
  if (!module.Load(ModuleFile(), &error)) _exit(code);
  auto get_object = testing::Entry<HvDllGetClassObjectFn>(module, "HvDllGetClassObject");
  void* out = nullptr;
  if (get_object == nullptr || get_object(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out) != 0) _exit(code + 1);
  auto* service = static_cast<IVexServiceProvider*>(out);
  if (service->Start() != 0) _exit(code + 3);
  testing::RecordingReply reply;
  route("/IHvVerify/SetVerifyOpt", testing::TimeoutRequestDocument(1).c_str(), &reply, nullptr);
  std::string verify = testing::VerifyRequestDocument("alice", "pw");
  if (route("/IHvVerify/StartVerify", verify.c_str(), &reply, nullptr) != 0) _exit(code + 4);
  // The send stage failed: no address within the deadline.
  if (reply.replies().size() != 2 || reply.replies()[1].find("\"ResultType\" : \"3\"") == std::string::npos) {
    _exit(code + 5);
  }
  service->Stop();
  service->Release();
  if (!module.Unload()) _exit(code + 6);
}

void AbandonedLookupKeepsTheModuleUntilFreed() {
  testing::UseSilentNameserver("timeout:3 attempts:1", 10);
  WString config = platform::ExecutableDirectory() + HV_W("lookup_reload") + platform::PathSeparator() +
                   HV_W("vexcomm.dat");
  testing::WriteFileBytes(std::filesystem::path(std::u16string(config.begin(), config.end())),
                          "[SPCfg]\r\nVerifyHost=silent.hvtest.example:80\r\n");
  // The host's base library stays loaded throughout, as in a real host.
  platform::LoadedLibrary base;
  std::string error;
  if (!base.Load(platform::ExecutableDirectory() + VEX_BASE_LIBRARY_NAME, &error)) _exit(11);
  auto route = testing::Entry<VexBaseRouteRequestFn>(base, "vex_base_route_request");
  if (route == nullptr) _exit(12);
  VerifyOnceAndUnload(route, 20);
  // The lookup runs on for about 3 s: the module is still mapped.
  if (platform::FindLoadedLibrary(ModuleFile()) == nullptr) _exit(30);
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  // Lookups now fail at once and are never abandoned: the reload's lookup
  // frees the finished record, and nothing keeps the module any more.
  if (!testing::MakeNameserverRefuse()) _exit(31);
  VerifyOnceAndUnload(route, 40);
  if (platform::FindLoadedLibrary(ModuleFile()) != nullptr) _exit(32);
  _exit(0);
}

TEST(LookupReload, AbandonedLookupKeepsTheModuleLoadedUntilAReloadFreesIt) {
  if (geteuid() != 0) GTEST_SKIP() << "not run: a silent nameserver needs root";
#if defined(__SANITIZE_THREAD__)
  // Under ThreadSanitizer names are looked up on the caller's thread,
  // within no deadline: no lookup is ever abandoned.
  GTEST_SKIP() << "not run: no lookup is abandoned under ThreadSanitizer";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(AbandonedLookupKeepsTheModuleUntilFreed(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hv
