// One-time initialisation as the module's Windows builds run it (the
// static guards and pthread_once of run_once_win32.cpp, linked here as in
// the module): each runs once however many threads arrive together, every
// thread returns only once it is done, and one that throws is tried again
// at the next use.
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace hv::platform {
namespace {

std::atomic<int> g_runs{0};
std::atomic<bool> g_done{false};

void SlowInitialisation() {
  g_runs.fetch_add(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  g_done.store(true);
}

bool ByStaticGuard() {
  static const bool done = (SlowInitialisation(), g_done.load());
  return done;
}

pthread_once_t g_once = PTHREAD_ONCE_INIT;
long g_once_state_inside = 0;
void SlowInitialisationOfOnce() {
  // The module's own marks the object as running (the thread library's
  // leaves it at 0): the linker sent the call where it should.
  g_once_state_inside = __atomic_load_n(&g_once, __ATOMIC_RELAXED);
  SlowInitialisation();
}
bool ByPthreadOnce() {
  pthread_once(&g_once, SlowInitialisationOfOnce);
  return g_done.load();
}

TEST(RunOnce, ThreadsArrivingTogetherRunTheInitialisationOnceAndAllSeeItDone) {
  for (bool (*initialise)() : {ByStaticGuard, ByPthreadOnce}) {
    g_runs = 0;
    g_done = false;
    std::atomic<int> saw_done{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&] { saw_done += initialise() ? 1 : 0; });
    for (auto& t : threads) t.join();
    EXPECT_EQ(g_runs.load(), 1);
    EXPECT_EQ(saw_done.load(), 8);
  }
  EXPECT_EQ(g_once_state_inside, 2);
}

int g_attempts = 0;
int FailsFirst() {
  if (++g_attempts == 1) throw std::runtime_error("first attempt");
  return g_attempts;
}

pthread_once_t g_failing_once = PTHREAD_ONCE_INIT;
void FailsFirstOnce() { FailsFirst(); }

TEST(RunOnce, AnInitialisationThatThrewRunsAgainAtTheNextUse) {
  g_attempts = 0;
  auto use = [] {
    static const int value = FailsFirst();
    return value;
  };
  EXPECT_THROW(use(), std::runtime_error);
  EXPECT_EQ(use(), 2);
  EXPECT_EQ(use(), 2);

  g_attempts = 0;
  EXPECT_THROW(pthread_once(&g_failing_once, FailsFirstOnce), std::runtime_error);
  EXPECT_EQ(pthread_once(&g_failing_once, FailsFirstOnce), 0);
  EXPECT_EQ(pthread_once(&g_failing_once, FailsFirstOnce), 0);
  EXPECT_EQ(g_attempts, 2);
}

}  // namespace
}  // namespace hv::platform
