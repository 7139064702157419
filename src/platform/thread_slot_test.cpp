// The thread-local slot and the lock that stand in for the language's
// thread_local and std::mutex.
#include "platform/thread_slot.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/lock.h"

namespace hv::platform {
namespace {

// How many slots the process can still allocate (all are given back).
size_t FreeSlots() {
  std::vector<std::unique_ptr<ThreadSlot>> slots;
  while (slots.size() < 100000) {
    auto slot = std::make_unique<ThreadSlot>();
    if (!slot->allocated()) break;
    slots.push_back(std::move(slot));
  }
  return slots.size();
}

TEST(ThreadSlot, EachThreadSeesItsOwnValueAndANewThreadReadsNull) {
  ThreadSlot slot;
  ASSERT_TRUE(slot.allocated());
  int mine = 0, theirs = 0;
  EXPECT_EQ(slot.Get(), nullptr);
  ASSERT_TRUE(slot.Set(&mine));
  void* seen_before = &theirs;
  void* seen_after = nullptr;
  std::thread other([&] {
    seen_before = slot.Get();
    slot.Set(&theirs);
    seen_after = slot.Get();
  });
  other.join();
  EXPECT_EQ(seen_before, nullptr);
  EXPECT_EQ(seen_after, &theirs);
  EXPECT_EQ(slot.Get(), &mine);
  ASSERT_TRUE(slot.Set(nullptr));
  EXPECT_EQ(slot.Get(), nullptr);
}

TEST(ThreadSlot, DestroyedSlotsGiveTheirIndexBack) {
  size_t before = FreeSlots();
  ASSERT_GT(before, 0u);
  for (int i = 0; i < 3000; ++i) {
    ThreadSlot slot;
    ASSERT_TRUE(slot.allocated()) << "cycle " << i;
    slot.Set(&before);
  }
  EXPECT_EQ(FreeSlots(), before);
}

// Constant-initialised: usable before any dynamic initialiser has run.
Lock g_static_lock;

TEST(Lock, KeepsOutOtherThreads) {
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        LockHold hold(g_static_lock);
        counter = counter + 1;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

}  // namespace
}  // namespace hv::platform
