// Name lookups against a nameserver that never answers return by their
// time-out, and the lookups given up on are reclaimed once they finish.
//
// A silent nameserver needs root: the lookups run in a child process (a
// gtest death test, re-executed so that it starts single-threaded; see
// tests/support/silent_nameserver.h). Without root the cases skip, saying
// so.
#include "platform/name_lookup.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "tests/support/silent_nameserver.h"

namespace hv::platform {
namespace {

using testing::UseSilentNameserver;

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// True once every abandoned lookup has finished and been reclaimed.
bool AllReclaimedWithin(long ms) {
  auto start = Clock::now();
  while (UnfinishedLookups() != 0) {
    if (MsSince(start) > ms) return false;
    usleep(50000);
  }
  return true;
}

void TimesOutThenReclaims() {
  UseSilentNameserver("timeout:1 attempts:1", 10);
  AddressList addresses;
  auto start = Clock::now();
  if (addresses.Resolve("slow.hvtest.example", "80", 300) != kSocketTimedOut) _exit(20);
  if (MsSince(start) > 800) _exit(21);  // 300 ms and a busy machine's slack
  if (!addresses.empty() || UnfinishedLookups() != 1) _exit(22);
  if (!AllReclaimedWithin(8000)) _exit(23);
  _exit(0);
}

void RefusesToStartPastTheBound() {
  UseSilentNameserver("timeout:3 attempts:1", 10);
  addrinfo* list = nullptr;
  int native = 0;
  for (size_t i = 0; i < kMaxUnfinishedLookups; ++i) {
    std::string name = "slow" + std::to_string(i) + ".hvtest.example";
    if (LookUpBounded(name, "80", 20, &list, &native) != LookupStatus::kTimedOut) _exit(20);
  }
  if (UnfinishedLookups() != kMaxUnfinishedLookups) _exit(21);
  auto start = Clock::now();
  if (LookUpBounded("one.more.hvtest.example", "80", 2000, &list, &native) !=
      LookupStatus::kTimedOut) {
    _exit(22);
  }
  if (MsSince(start) > 200 || list != nullptr) _exit(23);
  if (!AllReclaimedWithin(12000)) _exit(24);
  // With the table empty again a lookup runs normally.
  if (LookUpBounded("localhost", "80", 2000, &list, &native) != LookupStatus::kDone) _exit(25);
  if (native == 0) freeaddrinfo(list);
  _exit(0);
}

// Host threads waiting for their own lookups are not abandoned ones: more
// of them than the bound all get their full budget, none is refused.
void ManyWaitingHostThreadsAreNotRefused() {
  UseSilentNameserver("timeout:1 attempts:1", 10);
  std::atomic<int> refused{0};
  std::vector<std::thread> hosts;
  for (size_t i = 0; i < kMaxUnfinishedLookups + 4; ++i) {
    hosts.emplace_back([i, &refused] {
      addrinfo* list = nullptr;
      int native = 0;
      auto start = Clock::now();
      LookUpBounded("wait" + std::to_string(i) + ".hvtest.example", "80", 400, &list, &native);
      if (MsSince(start) < 300) ++refused;
    });
  }
  for (auto& h : hosts) h.join();
  if (refused != 0) _exit(20);
  if (!AllReclaimedWithin(8000)) _exit(21);
  _exit(0);
}

// More lookups at once than glibc runs helper threads: the ones still
// queued at the deadline are withdrawn by gai_cancel, after which glibc
// still reads them as in progress; they reported 11003 (no recovery)
// instead of a time-out.
void QueuedLookupsCutAtTheDeadlineAreTimeOuts() {
  UseSilentNameserver("timeout:2 attempts:1", 10);
  std::atomic<int> timed_out{0};
  std::vector<std::thread> hosts;
  for (int i = 0; i < 24; ++i) {
    hosts.emplace_back([i, &timed_out] {
      AddressList addresses;
      if (addresses.Resolve("queued" + std::to_string(i) + ".hvtest.example", "80", 300) == kSocketTimedOut) {
        ++timed_out;
      }
    });
  }
  for (auto& h : hosts) h.join();
  if (timed_out != 24) _exit(20 + (24 - timed_out));
  if (!AllReclaimedWithin(8000)) _exit(19);
  _exit(0);
}

#define NEEDS_ROOT()                                                                      \
  if (geteuid() != 0) GTEST_SKIP() << "not run: a silent nameserver needs root "          \
                                      "(a private mount namespace and UDP port 53)";     \
  GTEST_FLAG_SET(death_test_style, "threadsafe")

TEST(NameLookup, SilentNameserverTimesOutByTheBudgetAndIsReclaimedLater) {
  NEEDS_ROOT();
  EXPECT_EXIT(TimesOutThenReclaims(), ::testing::ExitedWithCode(0), "");
}

TEST(NameLookup, AbandonedLookupsAreBoundedAndANewOneTimesOutAtOnce) {
  NEEDS_ROOT();
  EXPECT_EXIT(RefusesToStartPastTheBound(), ::testing::ExitedWithCode(0), "");
}

TEST(NameLookup, MoreWaitingHostThreadsThanTheBoundAreNotRefused) {
  NEEDS_ROOT();
  EXPECT_EXIT(ManyWaitingHostThreadsAreNotRefused(), ::testing::ExitedWithCode(0), "");
}

TEST(NameLookup, QueuedLookupsCutAtTheDeadlineReportTimedOut) {
  NEEDS_ROOT();
  EXPECT_EXIT(QueuedLookupsCutAtTheDeadlineAreTimeOuts(), ::testing::ExitedWithCode(0), "");
}

TEST(NameLookup, AnsweredLookupReturnsItsAddressesAndLeavesNothingBehind) {
  AddressList addresses;
  EXPECT_EQ(addresses.Resolve("127.0.0.1", "80", 2000), 0u);
  EXPECT_EQ(addresses.size(), 1u);
  EXPECT_EQ(UnfinishedLookups(), 0u);
}

}  // namespace
}  // namespace hv::platform
