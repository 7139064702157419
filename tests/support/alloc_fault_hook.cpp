// The allocation-failure hook of the module's test build (HvVerifySp_faults):
// operator new and delete of the module itself, and its malloc, calloc and
// realloc (the build links with --wrap for each, so every call to them from
// code linked into the module comes here: on Windows that includes the
// JSON library, which allocates with malloc and throws its own exception
// when that fails, and the C++ and thread runtimes), with a countdown that
// makes the N-th allocation after arming fail (std::bad_alloc from the
// throwing operator new, null from the others). It lives inside the
// module, so it counts the module's own allocations only, on any thread,
// and none of its host's.
//
// Armed two ways:
//   - at load: the environment variable HV_FAIL_ALLOCATION_AT=N, read at the
//     module's first allocation, so that the C runtime's own start-up and
//     the load-time initialisers count;
//   - afterwards: the export HvTestFailAllocationAt(N) (0 disarms; a
//     negative N fails every allocation from the -N-th on: memory
//     exhausted).
// HvTestAllocationFailed() tells whether the armed failure happened.
// HvTestCountForeignAllocation() counts a C allocation that a shared library
// outside the module made (the test program's own hook sees those, see
// foreign_alloc_hook.h) in the same sequence; 1 when it is the one to fail.
#include <atomic>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <new>

#include "base/ascii.h"
#include "hv/vex_host.h"
#include "platform/system.h"

namespace {

std::atomic<long> g_fail_at{0};  // 1-based allocation to fail (< 0: and all after); 0: none
std::atomic<long> g_seen{0};     // allocations since arming
std::atomic<bool> g_failed{false};
std::atomic<bool> g_environment_read{false};

void Arm(long n) {
  g_seen.store(0);
  g_failed.store(false);
  g_fail_at.store(n);
}

void ReadLoadTimeArming() {
  char text[24];
  if (hv::platform::GetEnvironmentValue("HV_FAIL_ALLOCATION_AT", text, sizeof text)) {
    long at = 0;
    if (hv::ParseStrictDecimal(std::string_view(text), std::numeric_limits<long>::max(), &at)) Arm(at);
  }
}

bool ShouldFail() {
  if (!g_environment_read.exchange(true)) ReadLoadTimeArming();
  long at = g_fail_at.load();
  if (at == 0) return false;
  long seen = g_seen.fetch_add(1) + 1;
  if (at > 0 ? seen != at : seen < -at) return false;
  g_failed.store(true);
  return true;
}

}  // namespace

// The C library's own functions, under the names --wrap gives them.
extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __real_calloc(std::size_t count, std::size_t size);
extern "C" void* __real_realloc(void* block, std::size_t size);

extern "C" void* __wrap_malloc(std::size_t size) { return ShouldFail() ? nullptr : __real_malloc(size); }
extern "C" void* __wrap_calloc(std::size_t count, std::size_t size) {
  return ShouldFail() ? nullptr : __real_calloc(count, size);
}
// A failed realloc leaves the block as it was.
extern "C" void* __wrap_realloc(void* block, std::size_t size) {
  return ShouldFail() ? nullptr : __real_realloc(block, size);
}

namespace {

void* Allocate(std::size_t size) noexcept {
  if (ShouldFail()) return nullptr;
  return __real_malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// Exported beside the module's four entry points, as the base library
// exports its own.
extern "C" {
VEX_BASE_EXPORT void HvTestFailAllocationAt(long n) { Arm(n); }
VEX_BASE_EXPORT int HvTestAllocationFailed() { return g_failed.load() ? 1 : 0; }
VEX_BASE_EXPORT int HvTestCountForeignAllocation() { return ShouldFail() ? 1 : 0; }
}
