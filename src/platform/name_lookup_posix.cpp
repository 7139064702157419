// POSIX implementation of platform/name_lookup.h: glibc's asynchronous
// lookups. getaddrinfo_a runs the lookup on the C library's helper thread,
// gai_suspend waits for it with a time-out and gai_cancel withdraws it when
// it has not started. A lookup already running cannot be withdrawn: its
// request block (which the helper thread still reads and writes) is parked
// in a fixed table and freed by a later call once it has finished.
//
// The table and its lock are constant-initialised and have nothing to
// destroy. While any parked block is not yet freed, the module holds a
// reference on its own file (dlopen), so a host's unload leaves it mapped:
// a reload finds the same instance, with the same table, which frees the
// blocks and so the bound holds across reloads. The reference is dropped
// when a sweep frees the last block; the host's unload then unloads.
//
// A lookup cut at its deadline is a time-out whatever gai_error says
// afterwards: gai_cancel's own answer decides (glibc leaves a withdrawn
// request's error at EAI_INPROGRESS).
#include "platform/name_lookup.h"

#include <dlfcn.h>
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "platform/address_info.h"
#include "platform/lock.h"

// ThreadSanitizer never sees the thread glibc starts for getaddrinfo_a
// (it is created inside libc, past the interceptors), and its allocator
// crashes when that thread allocates. A build under it looks names up on
// the caller's thread, without the bound.
#if defined(__SANITIZE_THREAD__)
#define HV_LOOKUP_ON_CALLER_THREAD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HV_LOOKUP_ON_CALLER_THREAD 1
#endif
#endif

namespace hv::platform {
namespace {

// One lookup's request block with everything it points to.
struct Request {
  gaicb block{};
  addrinfo hints{};
  std::string host, port;
};

Lock g_lock;
Request* g_parked[kMaxUnfinishedLookups] = {};
// Abandoned while the table was full (lookups given up on together): at
// most one per host thread that was waiting then.
std::vector<Request*>* g_overflow = nullptr;
// This module's reference on itself while blocks are parked (null when
// none, or when the code is not in a shared object of its own).
void* g_self_reference = nullptr;

void HoldThisModule() {
  Dl_info info{};
  if (g_self_reference != nullptr || dladdr(reinterpret_cast<void*>(&HoldThisModule), &info) == 0 ||
      info.dli_fname == nullptr) {
    return;
  }
  g_self_reference = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}

bool Finished(Request* r) { return gai_error(&r->block) != EAI_INPROGRESS; }

void Free(Request* r) {
  if (r->block.ar_result != nullptr) freeaddrinfo(r->block.ar_result);
  delete r;
}

// Frees the parked requests that have finished; returns the free slots.
// Called with g_lock held.
size_t SweepLocked() {
  size_t free_slots = 0;
  for (Request*& r : g_parked) {
    if (r != nullptr && Finished(r)) {
      Free(r);
      r = nullptr;
    }
    if (r == nullptr) ++free_slots;
  }
  if (g_overflow != nullptr) {
    for (Request*& r : *g_overflow) {
      if (Finished(r)) {
        Free(r);
        r = nullptr;
      }
    }
    g_overflow->erase(std::remove(g_overflow->begin(), g_overflow->end(), nullptr), g_overflow->end());
  }
  bool none_left = free_slots == kMaxUnfinishedLookups && (g_overflow == nullptr || g_overflow->empty());
  if (none_left && g_self_reference != nullptr) {
    // The caller is inside the module on the host's behalf: the host's own
    // reference keeps it loaded past this.
    dlclose(g_self_reference);
    g_self_reference = nullptr;
  }
  return free_slots;
}

// Parks an abandoned lookup until it finishes.
void Park(Request* r) {
  LockHold hold(g_lock);
  SweepLocked();
  HoldThisModule();
  for (Request*& slot : g_parked) {
    if (slot == nullptr) {
      slot = r;
      return;
    }
  }
  try {
    if (g_overflow == nullptr) g_overflow = new std::vector<Request*>;
    g_overflow->push_back(r);
  } catch (...) {
    // No memory to note it: keeping the block alive for ever is the safe
    // answer, since the resolver still writes into it.
  }
}

// Waits until `r` has finished or `deadline` has come; true when finished.
bool WaitFor(Request* r, std::chrono::steady_clock::time_point deadline) {
  const gaicb* list[1] = {&r->block};
  for (;;) {
    if (Finished(r)) return true;
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    gai_suspend(list, 1, &wait);  // time-out, signal or completion: looked at above
  }
}

// Starts the lookup; null with `*native` set when it could not start.
Request* Start(const std::string& host, const std::string& port, int* native) {
  Request* r = NewLookupRecord<Request>(host, port);
  if (r == nullptr) {
    *native = EAI_MEMORY;
    return nullptr;
  }
  SetLookupHints(&r->hints);
  r->block.ar_name = r->host.c_str();
  r->block.ar_service = r->port.c_str();
  r->block.ar_request = &r->hints;
  gaicb* requests[1] = {&r->block};
  int rc = getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr);
  if (rc != 0) {
    delete r;
    *native = rc;
    return nullptr;
  }
  return r;
}

}  // namespace

LookupStatus LookUpBounded(const std::string& host, const std::string& port, uint32_t timeout_ms,
                           addrinfo** list, int* native) {
  *list = nullptr;
#ifdef HV_LOOKUP_ON_CALLER_THREAD
  *native = LookUpOnThisThread(host, port, list);
  return LookupStatus::kDone;
#endif
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  if (ConvertNumeric(host, port, list)) {
    *native = 0;
    return LookupStatus::kDone;
  }
  {
    LockHold hold(g_lock);
    if (SweepLocked() == 0) return LookupStatus::kTimedOut;
  }
  Request* r = Start(host, port, native);
  if (r == nullptr) return LookupStatus::kDone;
  if (!WaitFor(r, deadline)) {
    int cancel = gai_cancel(&r->block);
    if (cancel == EAI_NOTCANCELED) {  // running: the resolver still writes into it
      Park(r);
      return LookupStatus::kTimedOut;
    }
    if (cancel == EAI_CANCELED) {  // withdrawn before it started
      Free(r);
      return LookupStatus::kTimedOut;
    }
    // EAI_ALLDONE: it finished meanwhile.
  }
  *native = gai_error(&r->block);
  if (*native == 0) {
    *list = r->block.ar_result;
    r->block.ar_result = nullptr;
  }
  Free(r);
  return LookupStatus::kDone;
}

size_t UnfinishedLookups() {
  LockHold hold(g_lock);
  size_t parked = kMaxUnfinishedLookups - SweepLocked();
  return parked + (g_overflow == nullptr ? 0 : g_overflow->size());
}

}  // namespace hv::platform
