// The reference base library's entry points under exhausted memory: its
// test build (vexbase_faults) carries the allocation-failure hook of the
// module's test build, which fails the N-th allocation of the library's
// own code. A host calls these entry points through a C interface and may
// be built by another compiler: each must answer with a code, never let an
// exception out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "hv/vex_host.h"
#include "platform/library.h"
#include "tests/support/fixtures.h"

namespace hv {
namespace {

struct Dispatcher : IVexRequestDispatch {
  int calls = 0;
  HvResult HV_CALL Dispatch(const char*, const char*, IVexResponse*, void*) override {
    ++calls;
    return HV_S_OK;
  }
};

class ExhaustedMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing::LoadBesideProgram(&library_, HV_W("vexbase_faults"), &error)) << error;
    fail_at_ = testing::Entry<void (*)(long)>(library_, "HvTestFailAllocationAt");
    failed_ = testing::Entry<int (*)()>(library_, "HvTestAllocationFailed");
    register_ = testing::Entry<VexBaseRegisterSpDispatchFn>(library_, "vex_base_register_sp_dispatch");
    unregister_ = testing::Entry<VexBaseUnregisterSpDispatchFn>(library_, "vex_base_unregister_sp_dispatch");
    route_ = testing::Entry<VexBaseRouteRequestFn>(library_, "vex_base_route_request");
    name_ = testing::Entry<VexBaseRegisteredNameFn>(library_, "vex_base_registered_name");
    ASSERT_TRUE(fail_at_ && failed_ && register_ && unregister_ && route_ && name_);
  }

  // Calls `entry` with the library's allocation n failing, for n = 1, 2,
  // ... until a call meets no failure; each answer must be `normal` or
  // HV_E_OUTOFMEMORY. `reset` puts the table back after each call. Returns
  // how many allocation points were tried.
  long EveryAllocationFails(const char* what, HvResult normal, const std::function<HvResult()>& entry,
                            const std::function<void()>& reset) {
    long n = 1;
    for (; n < 1000; ++n) {
      fail_at_(n);
      HvResult rc = entry();
      bool injected = failed_() != 0;
      fail_at_(0);
      EXPECT_TRUE(rc == normal || rc == HV_E_OUTOFMEMORY) << what << " n=" << n << " rc=" << std::hex << rc;
      reset();
      if (!injected) break;
    }
    std::printf("%s: %ld allocation points tried\n", what, n - 1);
    return n - 1;
  }

  platform::LoadedLibrary library_;
  void (*fail_at_)(long) = nullptr;
  int (*failed_)() = nullptr;
  VexBaseRegisterSpDispatchFn register_ = nullptr;
  VexBaseUnregisterSpDispatchFn unregister_ = nullptr;
  VexBaseRouteRequestFn route_ = nullptr;
  VexBaseRegisteredNameFn name_ = nullptr;
  Dispatcher dispatcher_;
};

const HvUtf16 kName[] = {'I', 'H', 'v', 'V', 'e', 'r', 'i', 'f', 'y', 0};

TEST_F(ExhaustedMemory, EveryEntryPointAnswersOutOfMemoryInsteadOfThrowing) {
  auto withdraw = [&] { unregister_(kName, &dispatcher_); };
  // Registering copies the name into a new table node; routing copies the
  // method path: both allocate on every call.
  EXPECT_GT(EveryAllocationFails("register", HV_S_OK, [&] { return register_(kName, &dispatcher_); }, withdraw),
            0);

  auto keep = [] {};
  ASSERT_EQ(register_(kName, &dispatcher_), HV_S_OK);
  EXPECT_GT(EveryAllocationFails("route", HV_S_OK,
                                 [&] { return route_("/IHvVerify/StartVerify", "{}", nullptr, nullptr); },
                                 keep),
            0);
  EveryAllocationFails("route, no such name", VEX_E_IPC_NO_METHOD,
                       [&] { return route_("/INobody/StartVerify", "{}", nullptr, nullptr); }, keep);
  HvUtf16 name[16];
  EveryAllocationFails("registered name", HV_S_OK, [&] { return name_(0, name, 16); }, keep);
  EveryAllocationFails("unregister", HV_S_OK, [&] { return unregister_(kName, &dispatcher_); },
                       [&] { register_(kName, &dispatcher_); });

  // With memory back, the table works as before.
  EXPECT_EQ(route_("/IHvVerify/StartVerify", "{}", nullptr, nullptr), HV_S_OK);
  EXPECT_GT(dispatcher_.calls, 0);
  EXPECT_EQ(unregister_(kName, &dispatcher_), HV_S_OK);
  EXPECT_EQ(route_("/IHvVerify/StartVerify", "{}", nullptr, nullptr), VEX_E_IPC_NO_METHOD);
}

// Withdrawal against a host that keeps routing: the reference library
// itself (not its test build), a dispatcher whose every request takes a
// known time.
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

struct SlowDispatcher : IVexRequestDispatch {
  std::atomic<int> running{0}, calls{0};
  std::atomic<long> longest_ms{0};  // the longest request so far, as the machine ran it
  std::function<void()> inside = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
  HvResult HV_CALL Dispatch(const char*, const char*, IVexResponse*, void*) override {
    ++running;
    ++calls;
    auto start = Clock::now();
    inside();
    long ms = MsSince(start);
    for (long seen = longest_ms; ms > seen && !longest_ms.compare_exchange_weak(seen, ms);) {
    }
    --running;
    return HV_S_OK;
  }
};

class Withdrawal : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing::LoadBesideProgram(&library_, HV_W("vexbase"), &error)) << error;
    register_ = testing::Entry<VexBaseRegisterSpDispatchFn>(library_, "vex_base_register_sp_dispatch");
    unregister_ = testing::Entry<VexBaseUnregisterSpDispatchFn>(library_, "vex_base_unregister_sp_dispatch");
    route_ = testing::Entry<VexBaseRouteRequestFn>(library_, "vex_base_route_request");
    ASSERT_TRUE(register_ && unregister_ && route_);
  }

  platform::LoadedLibrary library_;
  VexBaseRegisterSpDispatchFn register_ = nullptr;
  VexBaseUnregisterSpDispatchFn unregister_ = nullptr;
  VexBaseRouteRequestFn route_ = nullptr;
};

// A shared lock that lets new readers pass a waiting writer never let the
// withdrawal in while eight host threads routed back to back.
TEST_F(Withdrawal, StopsNewRequestsAtOnceAndWaitsOnlyForRunningOnes) {
  SlowDispatcher dispatcher;
  ASSERT_EQ(register_(kName, &dispatcher), HV_S_OK);
  std::atomic<bool> stop{false};
  std::vector<std::thread> hosts;
  for (int t = 0; t < 8; ++t) {
    hosts.emplace_back([&] {
      while (!stop) route_("/IHvVerify/StartVerify", "{}", nullptr, nullptr);
    });
  }
  while (dispatcher.calls < 16) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  std::atomic<long> ms{-1};
  auto withdrawn = std::async(std::launch::async, [&] {
    auto start = Clock::now();
    HvResult rc = unregister_(kName, &dispatcher);
    ms = MsSince(start);
    return rc;
  });
  // Bounded: a withdrawal still waiting after 3 s is let go by ending the routing.
  bool returned = withdrawn.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  int running_then = dispatcher.running;
  int calls_then = dispatcher.calls;
  stop = true;
  for (auto& h : hosts) h.join();
  EXPECT_EQ(withdrawn.get(), HV_S_OK);
  ASSERT_TRUE(returned) << "the withdrawal waited past 3 s while requests kept arriving";
  // Each request sleeps 20 ms (longer under load or Wine's timer); the
  // rest is a busy machine's slack.
  EXPECT_LT(ms.load(), dispatcher.longest_ms + 250) << "longest request " << dispatcher.longest_ms << " ms";
  std::printf("withdrawal with 8 threads routing: %ld ms (longest request %ld ms)\n", ms.load(),
              dispatcher.longest_ms.load());
  EXPECT_EQ(running_then, 0);
  EXPECT_EQ(dispatcher.calls.load(), calls_then) << "a request reached the dispatcher after its withdrawal";
  EXPECT_EQ(route_("/IHvVerify/StartVerify", "{}", nullptr, nullptr), VEX_E_IPC_NO_METHOD);
}

// A second registration of a name used to replace the first: the first
// dispatcher's running request was no longer waited for, and its own
// withdrawal was refused. It is refused instead, by either dispatcher.
TEST_F(Withdrawal, ASecondRegistrationOfANameIsRefusedAndTheFirstStillWaited) {
  SlowDispatcher first, second;
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  first.inside = [&] { open.wait_for(std::chrono::seconds(5)); };
  ASSERT_EQ(register_(kName, &first), HV_S_OK);
  std::thread host([&] { route_("/IHvVerify/StartVerify", "{}", nullptr, nullptr); });
  while (first.calls < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(register_(kName, &first), HV_E_ALREADY_REGISTERED);
  EXPECT_EQ(register_(kName, &second), HV_E_ALREADY_REGISTERED);
  EXPECT_EQ(unregister_(kName, &second), HV_E_FAIL);
  auto withdrawn = std::async(std::launch::async, [&] { return unregister_(kName, &first); });
  EXPECT_EQ(withdrawn.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
      << "the withdrawal did not wait for the running request";
  gate.set_value();
  host.join();
  EXPECT_EQ(withdrawn.get(), HV_S_OK);
  EXPECT_EQ(second.calls.load(), 0);
  EXPECT_EQ(register_(kName, &second), HV_S_OK);  // free again once withdrawn
  EXPECT_EQ(unregister_(kName, &second), HV_S_OK);
}

// The host's reply sink may stop the service from inside one of its
// requests: the withdrawal cannot wait for that request, which waits for it.
TEST_F(Withdrawal, FromInsideTheDispatchersOwnRequestDoesNotWaitForItself) {
  SlowDispatcher dispatcher;
  std::promise<HvResult> inner;
  dispatcher.inside = [&] { inner.set_value(unregister_(kName, &dispatcher)); };
  ASSERT_EQ(register_(kName, &dispatcher), HV_S_OK);
  std::thread host([&] { route_("/IHvVerify/StartVerify", "{}", nullptr, nullptr); });
  auto result = inner.get_future();
  bool returned = result.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  if (!returned) {
    host.detach();  // deadlocked for good: the failure is reported, the process ends
    FAIL() << "the withdrawal waited for its own request";
  }
  host.join();
  EXPECT_EQ(result.get(), HV_S_OK);
  EXPECT_EQ(route_("/IHvVerify/StartVerify", "{}", nullptr, nullptr), VEX_E_IPC_NO_METHOD);
}

}  // namespace
}  // namespace hv
