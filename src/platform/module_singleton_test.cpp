// Module-wide singletons: one instance under concurrent first use, and no
// resurrection after unload.
#include "platform/module_singleton.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace hv {
namespace {

struct Counted {
  static inline std::atomic<int> constructed{0};
  Counted() { ++constructed; }
};

TEST(ModuleSingleton, ConcurrentFirstUseCreatesOneInstance) {
  std::vector<std::thread> threads;
  std::atomic<Counted*> seen[8] = {};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &ModuleSingleton<Counted>::Instance(); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(Counted::constructed.load(), 1);
  for (auto& s : seen) EXPECT_EQ(s.load(), seen[0].load());
}

struct Unloaded {};

TEST(ModuleSingleton, UseAfterUnloadRaisesDeadReference) {
  ModuleSingleton<Unloaded>::Instance();
  ModuleSingleton<Unloaded>::Destroy();
  try {
    ModuleSingleton<Unloaded>::Instance();
    FAIL() << "the singleton came back after unload";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Dead Reference Detected");
  }
}

}  // namespace
}  // namespace hv
