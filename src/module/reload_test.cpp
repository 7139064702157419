// A resident host that unloads the module when it is idle and loads it
// again, thousands of times in one process: load, create, Start, one
// Dispatch, Stop, Release, unload. Each load must give back what it took:
// the process's free thread-local indexes (counted by allocating slots
// until none is left, then freeing them) and, where the system lists them,
// its mapped regions may not fall, and the process survives.
//
// Runs from a folder of its own (bin/reload, with the module and the base
// library), so that the log it writes there is its own. HV_RELOAD_CYCLES
// changes the number of cycles (2000).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hv/vex_host.h"
#include "platform/library.h"
#include "platform/thread_slot.h"
#include "tests/support/fixtures.h"
#include "tests/support/reply_sink.h"

namespace hv {
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

namespace {

const std::string kSetTimeout = testing::TimeoutRequestDocument(9);

// Thread-local indexes the process can still allocate.
size_t FreeThreadSlots() {
  std::vector<std::unique_ptr<platform::ThreadSlot>> slots;
  while (slots.size() < 100000) {
    auto slot = std::make_unique<platform::ThreadSlot>();
    if (!slot->allocated()) break;
    slots.push_back(std::move(slot));
  }
  return slots.size();
}

// Lines of the process's memory map; 0 where the system has none to read.
size_t MappedRegions() {
  std::ifstream maps("/proc/self/maps");
  size_t lines = 0;
  for (std::string line; std::getline(maps, line);) ++lines;
  return lines;
}

long Cycles() {
  const char* text = std::getenv("HV_RELOAD_CYCLES");
  long n = text != nullptr ? std::atol(text) : 0;
  return n > 0 ? n : 2000;
}

class Reload : public testing::BaseLibraryHost {
 protected:
  // One whole cycle of the host's sequence; false at the first step that
  // did not give its normal result.
  bool Cycle(long cycle) {
    platform::LoadedLibrary module;
    std::string error;
    if (!testing::LoadBesideProgram(&module, HV_W("HvVerifySp"), &error)) {
      ADD_FAILURE() << "cycle " << cycle << ": " << error;
      return false;
    }
    auto get_object = testing::Entry<HvDllGetClassObjectFn>(module, "HvDllGetClassObject");
    auto can_unload = testing::Entry<HvDllCanUnloadNowFn>(module, "HvDllCanUnloadNow");
    void* out = nullptr;
    EXPECT_EQ(get_object(&CLSID_HvVerifyImpl, &IID_IVexServiceProvider, &out), 0) << cycle;
    auto* service = static_cast<IVexServiceProvider*>(out);
    if (service == nullptr) return false;
    EXPECT_EQ(service->Start(), 0) << cycle;
    testing::RecordingReply sink;
    EXPECT_EQ(route_("/IHvVerify/SetVerifyOpt", kSetTimeout.c_str(), &sink, nullptr), 0) << cycle;
    auto replies = sink.replies();
    EXPECT_TRUE(replies.size() == 1 && replies[0].find("\"NullValue\" : \"0\"") != std::string::npos)
        << cycle;
    EXPECT_EQ(service->Stop(), 0) << cycle;
    EXPECT_EQ(service->Release(), 0u) << cycle;
    EXPECT_EQ(can_unload(), 0) << cycle;
    EXPECT_TRUE(module.Unload()) << cycle;
    return !::testing::Test::HasFailure();
  }
};

TEST_F(Reload, ThousandsOfCyclesGiveBackEveryIndexAndRegion) {
  // The first cycle settles what a process keeps once for good (the
  // module, where the platform pins it; the system's own lazy set-up).
  ASSERT_TRUE(Cycle(0));
  const size_t slots_before = FreeThreadSlots();
  const size_t regions_before = MappedRegions();
  const long cycles = Cycles();
  auto start = std::chrono::steady_clock::now();
  for (long cycle = 1; cycle <= cycles; ++cycle) {
    ASSERT_TRUE(Cycle(cycle));
    if (cycle % 250 == 0 || cycle == cycles) {
      size_t slots = FreeThreadSlots();
      ASSERT_GE(slots, slots_before) << "thread-local indexes lost by cycle " << cycle;
      // AddressSanitizer's allocator maps regions of its own as it goes, so
      // the count says nothing about the module there.
      if (regions_before > 0 && !kUnderAddressSanitizer) {
        ASSERT_LE(MappedRegions(), regions_before + 8) << "regions left mapped by cycle " << cycle;
      }
    }
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%ld cycles in %.1f s; free thread-local indexes %zu before, %zu after; "
              "mapped regions %zu before, %zu after\n",
              cycles, seconds, slots_before, FreeThreadSlots(), regions_before, MappedRegions());
}

}  // namespace
}  // namespace hv
