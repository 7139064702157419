// The exception barrier at the binary interface, and its companion for the
// module's internal stages.
//
// The host is built by another compiler: an exception that leaves a
// function it calls cannot unwind through its frames and ends its process.
// Every function the host calls (the exports, the operations of the
// service object's interfaces, Dispatch) runs its body through
// CallAtBoundary, which never throws:
//   exhausted memory                   -> HV_E_OUTOFMEMORY (0x8007000E)
//   any other exception                -> HV_E_UNEXPECTED  (0x8000FFFF)
// Exhausted memory shows in three forms (IsExhaustedMemory): std::bad_alloc
// from operator new; std::system_error with errc::not_enough_memory (a
// runtime that sets a thread object or lock up at its first use); and the
// JSON library's own exception when its malloc fails (it raises a logic
// error whose text says "Failed to allocate").
// (the only other exception the module raises is "Dead Reference Detected",
// from a module-wide object used after unload).
//
// The module's load-time initialisers run behind the same barrier through
// RunAtLoad: a step that fails is recorded, the module stays loaded, and
// every export then answers with the recorded code (LoadFailure()).
//
// SurvivesAllocation is for stages that report failure as false and log it
// (a verification stage, a log line): it turns exhausted memory, in any of
// its forms, into false and lets every other exception through to the
// barrier.
#ifndef HV_BASE_BARRIER_H_
#define HV_BASE_BARRIER_H_

#include <atomic>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>

#include "hv/vex_host.h"

namespace hv {

// True when `e` reports exhausted memory (see above). The JSON library's
// text is the one mark its allocation failure carries: its exception types
// are the same for a misuse of its interface, which the module never makes.
inline bool IsExhaustedMemory(const std::exception& e) noexcept {
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) return true;
  if (auto* system = dynamic_cast<const std::system_error*>(&e)) {
    return system->code() == std::errc::not_enough_memory;
  }
  return std::strstr(e.what(), "Failed to allocate") != nullptr;
}

// The code for the exception being handled; call only inside a catch.
inline HvResult ResultOfCurrentException() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    return IsExhaustedMemory(e) ? HV_E_OUTOFMEMORY : HV_E_UNEXPECTED;
  } catch (...) {
    return HV_E_UNEXPECTED;
  }
}

// Runs `body` (returning HvResult); any exception becomes its code.
template <class Body>
HvResult CallAtBoundary(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ResultOfCurrentException();
  }
}

// Runs `body`; true when it ran to its end, false when memory ran out.
template <class Body>
bool SurvivesAllocation(Body&& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    if (!IsExhaustedMemory(e)) throw;
    return false;
  }
}

// The first failure of a load-time initialiser, 0 when the load succeeded.
inline std::atomic<HvResult>& LoadFailureSlot() noexcept {
  static std::atomic<HvResult> failure{0};
  return failure;
}
inline HvResult LoadFailure() noexcept { return LoadFailureSlot().load(std::memory_order_acquire); }

// Runs one load-time initialiser behind the barrier; records its failure.
template <class Body>
void RunAtLoad(Body&& body) noexcept {
  HvResult rc = CallAtBoundary([&]() -> HvResult {
    body();
    return HV_S_OK;
  });
  HvResult none = 0;
  if (rc != 0) LoadFailureSlot().compare_exchange_strong(none, rc);
}

}  // namespace hv

#endif  // HV_BASE_BARRIER_H_
