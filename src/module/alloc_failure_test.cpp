// Every allocation of the module made to fail, one at a time, through the
// host's whole sequence: the test build of the module (HvVerifySp_faults)
// counts its own allocations and fails the N-th one; each scenario runs for
// N = 1, 2, ... until a run completes with no failure injected. Where the
// JSON library is a shared library of the system (Linux), the test program
// hooks its C allocations into the same count (foreign_alloc_hook.h).
//
// For every N: the host, which catches nothing, survives; each call returns
// its normal result or a code the contract names; afterwards, with memory
// working again, the same module and object serve requests normally; the
// log holds whole lines only. Leaks and invalid accesses are the
// sanitizer's to find (this test runs under AddressSanitizer too).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hv/vex_host.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/system.h"
#include "tests/support/fixtures.h"
#include "tests/support/foreign_alloc_hook.h"
#include "tests/support/reply_sink.h"
#include "tests/support/script_server.h"
#include "tests/support/temp_dir.h"
#include "verify/protocol.h"

namespace hv {
namespace {

using testing::RecordingReply;
using testing::Step;
using FailAtFn = void (*)(long);
using FailedFn = int (*)();

const std::string kSetTimeout = testing::TimeoutRequestDocument(7);
const std::string kVerifyAlice = testing::VerifyRequestDocument("alice", "pw");

std::filesystem::path ProgramDirectory() {
  WString dir = platform::ExecutableDirectory();
  return std::filesystem::path(std::u16string(dir.begin(), dir.end())).parent_path();
}

// The module under test with the exports a host uses and the hook's two.
struct FaultModule {
  platform::LoadedLibrary library;
  HvDllGetClassCountFn get_count = nullptr;
  HvDllGetClassInfoFn get_info = nullptr;
  HvDllGetClassObjectFn get_object = nullptr;
  HvDllCanUnloadNowFn can_unload = nullptr;
  FailAtFn fail_at = nullptr;
  FailedFn failed = nullptr;

  ~FaultModule() { testing::FailForeignAllocations(nullptr, nullptr); }

  template <typename Fn>
  Fn Export(const char* name) {
    return testing::Entry<Fn>(library, name);
  }
  // Loads it, failing its `n`-th allocation from the first on (0: none).
  // False when the system refused to load it: an allocation of the C
  // runtime's own start-up failed, and the runtime failed the load (the
  // host gets a failed load, nothing worse).
  bool TryLoad(long n) {
    platform::SetEnvironmentValue("HV_FAIL_ALLOCATION_AT", std::to_string(n).c_str());
    std::string error;
    return testing::LoadBesideProgram(&library, HV_W("HvVerifySp_faults"), &error);
  }
  void Load(long n) {
    ASSERT_TRUE(TryLoad(n));
    Bind();
  }
  void Bind() {
    get_count = Export<HvDllGetClassCountFn>("HvDllGetClassCount");
    get_info = Export<HvDllGetClassInfoFn>("HvDllGetClassInfo");
    get_object = Export<HvDllGetClassObjectFn>("HvDllGetClassObject");
    can_unload = Export<HvDllCanUnloadNowFn>("HvDllCanUnloadNow");
    fail_at = Export<FailAtFn>("HvTestFailAllocationAt");
    failed = Export<FailedFn>("HvTestAllocationFailed");
    auto count_foreign = Export<testing::AllocationDecider>("HvTestCountForeignAllocation");
    ASSERT_TRUE(get_count && get_info && get_object && can_unload && fail_at && failed && count_foreign);
    testing::FailForeignAllocations("libjsoncpp", count_foreign);
  }
  bool Unload() {
    testing::FailForeignAllocations(nullptr, nullptr);
    return library.Unload();
  }
  IVexServiceProvider* CreateAndStart() {
    void* out = nullptr;
    EXPECT_EQ(get_object(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out), 0);
    auto* service = static_cast<IVexServiceProvider*>(out);
    if (service != nullptr) {
      EXPECT_EQ(service->Start(), 0);
    }
    return service;
  }
  void StopReleaseUnload(IVexServiceProvider* service) {
    EXPECT_EQ(service->Stop(), 0);
    EXPECT_EQ(service->Release(), 0u);
    EXPECT_EQ(can_unload(), 0);
    EXPECT_TRUE(Unload());
  }
};

MATCHER(IsNormalOrOutOfMemory, "0 or HV_E_OUTOFMEMORY") { return arg == 0 || arg == HV_E_OUTOFMEMORY; }

class AllocationFailure : public testing::BaseLibraryHost {
 protected:
  // Points the module (read at its load) at `port`.
  void ConfigureEndpoint(uint16_t port) {
    testing::WriteFileBytes(ProgramDirectory() / "vexcomm.dat",
                            "[SPCfg]\r\nVerifyHost=127.0.0.1:" + std::to_string(port) + "\r\n");
  }

  // Sends one request as the host does; returns Dispatch's result.
  HvResult Send(const char* method, const char* document, std::string* reply) {
    RecordingReply sink;
    HvResult rc = route_(method, document, &sink, nullptr);
    auto replies = sink.replies();
    EXPECT_LE(replies.size(), 1u);
    *reply = replies.empty() ? "" : replies[0];
    return rc;
  }

  // Sends one request while the module's allocation `n` fails, and checks
  // the answer's form: a normal result, or HV_E_OUTOFMEMORY with no reply.
  // `injected` tells whether the failure happened.
  HvResult SendFailing(FaultModule& module, long n, const char* method, const std::string& document,
                       std::string* reply, bool* injected) {
    module.fail_at(n);
    HvResult rc = Send(method, document.c_str(), reply);
    *injected = module.failed() != 0;
    module.fail_at(0);
    EXPECT_THAT(rc, IsNormalOrOutOfMemory());
    if (rc != 0) {
      EXPECT_EQ(*reply, "");
    }
    return rc;
  }

  // Runs `scenario(n)` for n = 1, 2, ... until `injected()` says no failure
  // happened; returns how many allocation points were tried.
  static long TryEveryAllocation(const char* name, const std::function<bool(long)>& scenario) {
    long n = 1;
    for (; n < 100000 && scenario(n); ++n) {
      if (::testing::Test::HasFatalFailure()) break;
    }
    std::printf("%s: %ld allocation points tried\n", name, n - 1);
    return n - 1;
  }
};


TEST_F(AllocationFailure, LoadListCreateStartNeverTakeTheHostDown) {
  long refused_loads = 0;
  long points = TryEveryAllocation("load, list, create, Start", [&](long n) {
    FaultModule module;
    if (!module.TryLoad(n)) {
      ++refused_loads;
      return true;
    }
    module.Bind();
    if (::testing::Test::HasFatalFailure()) return false;
    int32_t count = 0;
    HvResult rc_count = module.get_count(&count);
    HvClassInfo info[2] = {};
    HvResult rc_info = module.get_info(info, 2);
    void* out = nullptr;
    HvResult rc_object = module.get_object(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out);
    auto* service = static_cast<IVexServiceProvider*>(out);
    HvResult rc_start = service != nullptr ? service->Start() : HV_E_OUTOFMEMORY;
    bool injected = module.failed() != 0;
    module.fail_at(0);
    for (HvResult rc : {rc_count, rc_info, rc_object, rc_start}) EXPECT_THAT(rc, IsNormalOrOutOfMemory());
    if (rc_count != 0) {
      // The load itself failed: the module answers nothing but its failure.
      EXPECT_EQ(module.get_count(&count), HV_E_OUTOFMEMORY);
      EXPECT_EQ(module.can_unload(), 0);
      EXPECT_TRUE(module.Unload());
      return injected;
    }
    EXPECT_EQ(count, 1);
    if (service == nullptr) {
      service = module.CreateAndStart();
    } else if (rc_start != 0) {
      EXPECT_EQ(service->Start(), 0);
    }
    std::string reply;
    EXPECT_EQ(Send("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &reply), 0);
    EXPECT_THAT(reply, ::testing::HasSubstr("\"NullValue\" : \"0\""));
    module.StopReleaseUnload(service);
    return injected;
  });
  EXPECT_GT(points, 0);
  EXPECT_LT(refused_loads, points) << "the load never got past the runtime's start-up";
  std::printf("loads refused by the runtime's start-up: %ld\n", refused_loads);
}

TEST_F(AllocationFailure, SetVerifyOptAnswersOrSaysOutOfMemory) {
  FaultModule module;
  module.Load(0);
  IVexServiceProvider* service = module.CreateAndStart();
  ASSERT_NE(service, nullptr);
  long points = TryEveryAllocation("Dispatch of SetVerifyOpt", [&](long n) {
    std::string reply;
    bool injected = false;
    if (SendFailing(module, n, "/IHvVerify/SetVerifyOpt", kSetTimeout, &reply, &injected) == 0) {
      EXPECT_THAT(reply, ::testing::HasSubstr("\"NullValue\" : \"0\""));
    }
    EXPECT_EQ(Send("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &reply), 0);
    EXPECT_THAT(reply, ::testing::HasSubstr("\"NullValue\" : \"0\""));
    return injected;
  });
  EXPECT_GT(points, 0);
  module.StopReleaseUnload(service);
}

// Each allocation point of a request on a host thread that has never
// called the module before: its first use of the module's thread-local
// slot, locks and the runtime's per-thread state happen under the failure.
TEST_F(AllocationFailure, FirstDispatchOnANewHostThreadAnswersOrSaysOutOfMemory) {
  FaultModule module;
  module.Load(0);
  IVexServiceProvider* service = module.CreateAndStart();
  ASSERT_NE(service, nullptr);
  long points = TryEveryAllocation("Dispatch of SetVerifyOpt on a new host thread", [&](long n) {
    HvResult rc = 0;
    std::string reply;
    bool injected = false;
    std::thread host_thread([&] {
      module.fail_at(n);
      RecordingReply sink;
      rc = route_("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &sink, nullptr);
      injected = module.failed() != 0;
      module.fail_at(0);
      auto replies = sink.replies();
      reply = replies.empty() ? "" : replies[0];
    });
    host_thread.join();
    EXPECT_THAT(rc, IsNormalOrOutOfMemory()) << n;
    if (rc == 0) {
      EXPECT_THAT(reply, ::testing::HasSubstr("\"NullValue\" : \"0\"")) << n;
    } else {
      EXPECT_EQ(reply, "") << n;
    }
    return injected;
  });
  EXPECT_GT(points, 0);
  module.StopReleaseUnload(service);
}

// Memory exhausted for good on many host threads new to the module at
// once: each first throw finds no memory for its per-thread exception state
// or for the thrown object, and still reaches the barrier; the threads stay
// until all have dispatched, so none gives its state back early. (The
// Windows runtime's own state aborted the host; its emergency pool, whose
// lock allocates at its first use, answered 0 with no reply or ran the
// stack over. The module's reserves then aborted at the 33rd thread, or
// terminated with more exceptions in flight than blocks.)
TEST_F(AllocationFailure, HostThreadsWithNoMemoryLeftAreAllAnswered) {
  constexpr int kThreads = 100;
  constexpr int kDispatches = 20;
  FaultModule module;
  module.Load(0);
  IVexServiceProvider* service = module.CreateAndStart();
  ASSERT_NE(service, nullptr);
  std::atomic<int> out_of_memory{0};
  std::atomic<int> finished{0};
  module.fail_at(-1);
  std::vector<std::thread> host_threads;
  for (int t = 0; t < kThreads; ++t) {
    host_threads.emplace_back([&] {
      for (int i = 0; i < kDispatches; ++i) {
        std::string reply;
        if (Send("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &reply) == HV_E_OUTOFMEMORY &&
            reply.empty()) {
          ++out_of_memory;
        }
      }
      ++finished;
      while (finished.load() < kThreads) std::this_thread::yield();
    });
  }
  for (std::thread& host_thread : host_threads) host_thread.join();
  module.fail_at(0);
  EXPECT_EQ(out_of_memory.load(), kThreads * kDispatches);
  std::string reply;
  EXPECT_EQ(Send("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &reply), 0);
  module.StopReleaseUnload(service);
}

TEST_F(AllocationFailure, StartVerifyEndsInAStageResultOrOutOfMemory) {
  struct Endpoint {
    const char* name;
    std::string body;
    const char* normal_type;
  };
  for (const Endpoint& endpoint :
       {Endpoint{"Dispatch of StartVerify, accepted answer", EncipheredAnswer(kAnswerAccepted), "1"},
        Endpoint{"Dispatch of StartVerify, undecipherable answer", "not cipher text!", "4"}}) {
    testing::ScriptServer server(
        {{Step::Read(), Step::Send(testing::HttpResponse(200, endpoint.body)), Step::Close()}});
    ConfigureEndpoint(server.port());
    FaultModule module;
    module.Load(0);
    IVexServiceProvider* service = module.CreateAndStart();
    ASSERT_NE(service, nullptr);
    const std::string normal = "\"ResultType\" : \"" + std::string(endpoint.normal_type) + "\"";
    long points = TryEveryAllocation(endpoint.name, [&](long n) {
      std::string reply;
      bool injected = false;
      if (SendFailing(module, n, "/IHvVerify/StartVerify", kVerifyAlice, &reply, &injected) == 0) {
        EXPECT_THAT(reply, ::testing::AnyOf(::testing::HasSubstr("\"ResultType\" : \"1\""),
                                            ::testing::HasSubstr("\"ResultType\" : \"2\""),
                                            ::testing::HasSubstr("\"ResultType\" : \"3\""),
                                            ::testing::HasSubstr("\"ResultType\" : \"4\"")));
      }
      EXPECT_EQ(Send("/IHvVerify/StartVerify", kVerifyAlice.c_str(), &reply), 0);
      EXPECT_THAT(reply, ::testing::HasSubstr(normal));
      return injected;
    });
    EXPECT_GT(points, 0);
    module.StopReleaseUnload(service);
  }
}

TEST_F(AllocationFailure, StopReleaseUnloadNeverTakeTheHostDown) {
  TryEveryAllocation("Stop, Release, unload", [&](long n) {
    FaultModule module;
    module.Load(0);
    IVexServiceProvider* service = module.CreateAndStart();
    if (service == nullptr) return false;
    module.fail_at(n);
    HvResult rc_stop = service->Stop();
    bool injected = module.failed() != 0;
    module.fail_at(0);
    EXPECT_THAT(rc_stop, IsNormalOrOutOfMemory());
    module.StopReleaseUnload(service);
    return injected;
  });
}

// A whole log line: the prefix, "Operation : text", nothing of another line
// in it. A writer that could not set its locale up (memory ran out there)
// says so on a line of its own, as it must.
bool IsWholeLogLine(const std::string& text) {
  if (text == "set locale error") return true;
  const std::string prefix = "dddd-dd-dd dd:dd:dd|dddddddd| ";
  if (text.size() <= prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (prefix[i] == 'd' ? !digit : text[i] != prefix[i]) return false;
  }
  size_t separator = text.find(" : ", prefix.size());
  if (separator == std::string::npos || separator == prefix.size()) return false;
  for (size_t i = prefix.size(); i < separator; ++i) {
    if (!std::isalpha(static_cast<unsigned char>(text[i]))) return false;
  }
  return separator + 3 < text.size() && text.find('|', separator) == std::string::npos;
}

// Runs last (gtest keeps declaration order): every line any scenario wrote.
TEST_F(AllocationFailure, TheLogHoldsWholeLinesOnly) {
  std::string log = testing::ReadFileBytes(ProgramDirectory() / "verifylog.txt");
  size_t start = 0, lines = 0;
  for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1, ++lines) {
    std::string text = log.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    EXPECT_TRUE(IsWholeLogLine(text)) << "line " << lines << ": " << text;
  }
  EXPECT_EQ(start, log.size()) << "the log ends in the middle of a line";
}

}  // namespace
}  // namespace hv
