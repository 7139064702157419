// The orders a host may call the module in, beyond the documented one:
// released without Stop, stopped or released while requests run (on other
// threads, or from inside the host's own reply sink), routed after Stop,
// started twice. The real module file is loaded beside the reference base
// library, from a folder of its own (bin/host_order). No order may leave
// the host's base library holding a dispatcher that is gone, and every
// wait of these tests is bounded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "hv/vex_host.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/system.h"
#include "tests/support/fixtures.h"
#include "tests/support/reply_sink.h"

namespace hv {
namespace {

using namespace std::chrono_literals;

const std::string kSetTimeout = testing::TimeoutRequestDocument(5);
const char kMethod[] = "/IHvVerify/SetVerifyOpt";

// A reply sink that holds its Dispatch inside SetResponse until opened
// (for 5 s at most), or runs `inside` there.
class HeldReply : public IVexResponse {
 public:
  explicit HeldReply(std::shared_future<void> open) : open_(std::move(open)) {}
  std::function<void()> inside;
  std::atomic<int> entered{0};
  HvResult HV_CALL SetResponse(const char*, uint32_t) override {
    ++entered;
    if (inside) inside();
    if (open_.valid()) open_.wait_for(5s);
    return 0;
  }

 private:
  std::shared_future<void> open_;
};

// Waits up to 5 s for `done`, yielding between looks; true when it came.
bool SpinWithin5s(const std::function<bool()>& done) {
  auto until = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::yield();
  }
  return true;
}

// Waits up to 5 s for `done`; true when it came.
bool Within5s(const std::function<bool()>& done) {
  auto until = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class HostOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(base_.Load(platform::ExecutableDirectory() + VEX_BASE_LIBRARY_NAME, &error)) << error;
    route_ = testing::Entry<VexBaseRouteRequestFn>(base_, "vex_base_route_request");
    registered_name_ = testing::Entry<VexBaseRegisteredNameFn>(base_, "vex_base_registered_name");
    WString file = platform::ExecutableDirectory() + HV_W("host_order") + platform::PathSeparator() +
                   platform::LibraryFileName(HV_W("HvVerifySp"));
    ASSERT_TRUE(module_.Load(file, &error)) << error;
    get_object_ = testing::Entry<HvDllGetClassObjectFn>(module_, "HvDllGetClassObject");
    can_unload_ = testing::Entry<HvDllCanUnloadNowFn>(module_, "HvDllCanUnloadNow");
    ASSERT_TRUE(route_ && registered_name_ && get_object_ && can_unload_);
    service_ = NewService();
    ASSERT_NE(service_, nullptr);
    ASSERT_EQ(service_->Start(), 0);
  }

  IVexServiceProvider* NewService() {
    void* out = nullptr;
    if (get_object_(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out) != 0) return nullptr;
    return static_cast<IVexServiceProvider*>(out);
  }

  HvResult Route(IVexResponse* reply) { return route_(kMethod, kSetTimeout.c_str(), reply, nullptr); }
  bool NameRegistered() {
    HvUtf16 name[64];
    return registered_name_(0, name, 64) == HV_S_OK;
  }
  // The host's last reference, then the unload rule, the name, and a
  // request routed under it: refused, before and after the unload.
  void ExpectGoneAndRefused() {
    EXPECT_EQ(can_unload_(), HV_S_OK);
    EXPECT_FALSE(NameRegistered());
    testing::RecordingReply reply;
    EXPECT_EQ(Route(&reply), VEX_E_IPC_NO_METHOD);
    EXPECT_TRUE(module_.Unload());
    EXPECT_EQ(Route(&reply), VEX_E_IPC_NO_METHOD);
    EXPECT_TRUE(reply.replies().empty());
  }

  platform::LoadedLibrary base_, module_;
  VexBaseRouteRequestFn route_ = nullptr;
  VexBaseRegisteredNameFn registered_name_ = nullptr;
  HvDllGetClassObjectFn get_object_ = nullptr;
  HvDllCanUnloadNowFn can_unload_ = nullptr;
  IVexServiceProvider* service_ = nullptr;
};

// The host's error path: its last Release without Stop left the base
// library routing to the freed object (a crash at the next request), and
// the module answered that it could be unloaded.
TEST_F(HostOrder, ReleaseWithoutStopWithdrawsTheNameFirst) {
  EXPECT_EQ(service_->Release(), 0u);
  ExpectGoneAndRefused();
}

TEST_F(HostOrder, StopWaitsForRunningDispatchesThenRequestsAreRefused) {
  std::promise<void> gate;
  HeldReply held(gate.get_future().share());
  std::vector<std::thread> hosts;
  for (int t = 0; t < 4; ++t) hosts.emplace_back([&] { EXPECT_EQ(Route(&held), 0); });
  ASSERT_TRUE(Within5s([&] { return held.entered == 4; }));
  auto stopped = std::async(std::launch::async, [&] { return service_->Stop(); });
  EXPECT_EQ(stopped.wait_for(100ms), std::future_status::timeout) << "Stop returned with requests running";
  gate.set_value();
  EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready);
  for (auto& h : hosts) h.join();
  EXPECT_EQ(stopped.get(), 0);
  testing::RecordingReply after;
  EXPECT_EQ(Route(&after), VEX_E_IPC_NO_METHOD);
  EXPECT_EQ(service_->Release(), 0u);
  ExpectGoneAndRefused();
}

TEST_F(HostOrder, SecondStartAndStartAfterStopServeAndOneStopWithdraws) {
  testing::RecordingReply reply;
  EXPECT_EQ(service_->Start(), 0);
  EXPECT_EQ(Route(&reply), 0);
  EXPECT_EQ(service_->Stop(), 0);
  EXPECT_EQ(Route(&reply), VEX_E_IPC_NO_METHOD);
  EXPECT_EQ(service_->Stop(), 0);  // nothing left to withdraw
  EXPECT_EQ(service_->Start(), 0);
  EXPECT_EQ(Route(&reply), 0);
  EXPECT_EQ(reply.replies().size(), 2u);
  EXPECT_EQ(service_->Release(), 0u);  // started again, not stopped
  ExpectGoneAndRefused();
}

// A second Start while a request runs used to replace the base library's
// registration, so that Stop no longer waited for the request (and the
// object could be freed under it).
TEST_F(HostOrder, SecondStartLeavesStopWaitingForRunningDispatches) {
  std::promise<void> gate;
  HeldReply held(gate.get_future().share());
  std::thread host([&] { EXPECT_EQ(Route(&held), 0); });
  ASSERT_TRUE(Within5s([&] { return held.entered == 1; }));
  EXPECT_EQ(service_->Start(), 0);  // started already: nothing registered twice
  auto stopped = std::async(std::launch::async, [&] { return service_->Stop(); });
  EXPECT_EQ(stopped.wait_for(100ms), std::future_status::timeout) << "Stop returned with a request running";
  gate.set_value();
  EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready);
  host.join();
  EXPECT_EQ(stopped.get(), 0);
  EXPECT_EQ(service_->Release(), 0u);
  ExpectGoneAndRefused();
}

// Start on one thread while Stop on another waits for a request: the Stop
// used to erase the record of the name the Start had just registered, and
// the last Release freed the object under a live registration (a crash at
// the next request). The Start now finds the Stop under way and is refused.
TEST_F(HostOrder, StartWhileStopWaitsNeverLeavesANameToAFreedObject) {
  std::promise<void> gate;
  HeldReply held(gate.get_future().share());
  std::thread host([&] { EXPECT_EQ(Route(&held), 0); });
  ASSERT_TRUE(Within5s([&] { return held.entered == 1; }));
  auto stopped = std::async(std::launch::async, [&] { return service_->Stop(); });
  ASSERT_TRUE(Within5s([&] { return !NameRegistered(); }));  // Stop is waiting for the request
  EXPECT_EQ(service_->Start(), HV_E_BUSY);
  gate.set_value();
  EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready);
  host.join();
  EXPECT_EQ(stopped.get(), 0);
  EXPECT_EQ(service_->Release(), 0u);
  ASSERT_FALSE(NameRegistered()) << "the base library routes the name to the freed object";
  ExpectGoneAndRefused();
}

// The reply sink calls Start and Stop while a Stop on another thread waits
// for that very request: neither may wait for the Stop (which waits for
// them), so both answer at once and the outer Stop completes.
TEST_F(HostOrder, StartAndStopFromAReplySinkWhileStopWaitsForItAnswerAtOnce) {
  std::promise<void> go;
  std::shared_future<void> stop_waiting = go.get_future().share();
  HeldReply held{std::shared_future<void>()};
  std::atomic<HvResult> inner_start{1}, inner_stop{1};
  held.inside = [&] {
    stop_waiting.wait_for(5s);
    inner_start = service_->Start();
    inner_stop = service_->Stop();
  };
  std::thread host([&] { EXPECT_EQ(Route(&held), 0); });
  ASSERT_TRUE(Within5s([&] { return held.entered == 1; }));
  std::promise<HvResult> outer;
  std::thread stopper([&] { outer.set_value(service_->Stop()); });
  ASSERT_TRUE(Within5s([&] { return !NameRegistered(); }));  // the outer Stop waits for the request
  go.set_value();
  auto stopped = outer.get_future();
  if (stopped.wait_for(5s) != std::future_status::ready) {
    host.detach();  // deadlocked for good: the failure is reported, the process ends
    stopper.detach();
    FAIL() << "Start or Stop from the reply sink waited for the Stop that waits for it";
  }
  host.join();
  stopper.join();
  EXPECT_EQ(inner_start.load(), HV_E_BUSY);
  EXPECT_EQ(inner_stop.load(), HV_E_BUSY);
  EXPECT_EQ(stopped.get(), 0);
  EXPECT_EQ(service_->Release(), 0u);
  ExpectGoneAndRefused();
}

// The same without a request: Start and Stop racing on two threads, then
// the last Release. Whatever each answers, nothing stays registered. One
// stopping thread serves every round (thread creation is slow under Wine).
TEST_F(HostOrder, StartAndStopRacingThenReleaseWithdrawEverything) {
  std::atomic<int> go{-1}, stopped{-1};
  std::atomic<IVexServiceProvider*> shared{nullptr};
  std::atomic<int> bad_stops{0};
  std::thread stopper([&] {
    for (int round = 0; round < 5000; ++round) {
      if (!SpinWithin5s([&] { return go.load() >= round; })) break;
      HvResult rc = shared.load()->Stop();
      if (rc != 0 && rc != HV_E_BUSY) ++bad_stops;
      stopped = round;
    }
  });
  for (int round = 0; round < 5000 && !HasFailure(); ++round) {
    IVexServiceProvider* service = round == 0 ? service_ : NewService();
    ASSERT_NE(service, nullptr);
    if (round != 0) {
      ASSERT_EQ(service->Start(), 0);
    }
    shared = service;
    go = round;
    HvResult rc = service->Start();
    EXPECT_TRUE(rc == 0 || rc == HV_E_BUSY) << rc;
    ASSERT_TRUE(SpinWithin5s([&] { return stopped.load() >= round; }));
    EXPECT_EQ(service->Release(), 0u);
    EXPECT_FALSE(NameRegistered()) << "round " << round;
    EXPECT_EQ(can_unload_(), HV_S_OK) << "round " << round;
  }
  stopper.join();
  EXPECT_EQ(bad_stops.load(), 0);
  ExpectGoneAndRefused();
}

// Two objects, each started, stopped and released in order: the second
// registration of the name used to replace the first, the first object's
// Stop was refused, and its last Release kept it for good (the module could
// never be unloaded). The base library now refuses the second registration.
TEST_F(HostOrder, TwoObjectsStartedStoppedReleasedLeaveTheModuleUnloadable) {
  IVexServiceProvider* second = NewService();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Start(), HV_E_ALREADY_REGISTERED);
  testing::RecordingReply reply;
  EXPECT_EQ(Route(&reply), 0);  // still the first object's
  EXPECT_EQ(service_->Stop(), 0);
  EXPECT_EQ(second->Stop(), 0);
  EXPECT_EQ(service_->Release(), 0u);
  EXPECT_EQ(second->Release(), 0u);
  ExpectGoneAndRefused();
}

// The last Release on one thread while another host thread's request runs
// in the object: it returns once that request is done, never frees the
// object under it.
TEST_F(HostOrder, ReleaseRacingADispatchWaitsForIt) {
  std::promise<void> gate;
  HeldReply held(gate.get_future().share());
  std::thread host([&] { EXPECT_EQ(Route(&held), 0); });
  ASSERT_TRUE(Within5s([&] { return held.entered == 1; }));
  auto released = std::async(std::launch::async, [&] { return service_->Release(); });
  EXPECT_EQ(released.wait_for(100ms), std::future_status::timeout) << "freed under a running request";
  gate.set_value();
  EXPECT_EQ(released.wait_for(5s), std::future_status::ready);
  host.join();
  EXPECT_EQ(released.get(), 0u);
  ExpectGoneAndRefused();
}

// Eight host threads route back to back while the last reference goes:
// each request is answered or refused, none reaches a freed object.
TEST_F(HostOrder, ReleaseAmidEightRoutingThreads) {
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0}, refused{0}, other{0};
  std::vector<std::thread> hosts;
  for (int t = 0; t < 8; ++t) {
    hosts.emplace_back([&] {
      while (!stop) {
        testing::RecordingReply reply;
        HvResult rc = Route(&reply);
        ++(rc == 0 ? answered : rc == VEX_E_IPC_NO_METHOD ? refused : other);
      }
    });
  }
  ASSERT_TRUE(Within5s([&] { return answered > 100; }));
  auto released = std::async(std::launch::async, [&] { return service_->Release(); });
  EXPECT_EQ(released.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(Within5s([&] { return refused > 100; }));
  stop = true;
  for (auto& h : hosts) h.join();
  EXPECT_EQ(released.get(), 0u);
  EXPECT_EQ(other.load(), 0);
  ExpectGoneAndRefused();
}

// The host's reply sink releases the last reference from inside the
// request: the object outlives that request, and is gone after it.
TEST_F(HostOrder, ReleaseFromInsideTheReplySink) {
  HeldReply held{std::shared_future<void>()};
  std::atomic<int> count{-1};
  held.inside = [&] { count = static_cast<int>(service_->Release()); };
  std::thread host([&] { EXPECT_EQ(Route(&held), 0); });
  bool done = Within5s([&] { return count >= 0; });
  host.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(count.load(), 0);
  ExpectGoneAndRefused();
}

}  // namespace
}  // namespace hv
