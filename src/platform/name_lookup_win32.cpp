// Windows implementation of platform/name_lookup.h: each lookup runs a
// plain getaddrinfo on a thread of its own, and the caller waits for it on
// an event with its time-out. The lookup's state is shared by the caller
// and the thread and freed by whichever lets go of it last, so a caller
// that gives up simply lets go: the thread finishes later, frees the
// addresses nobody will read and ends. (GetAddrInfoExW could be cancelled
// on recent Windows, but Wine ignores its time-out and its cancellation,
// so a thread that may be abandoned is needed there anyway.)
//
// The module is pinned in memory at load (platform/module.h), so a thread
// still running after the host let go of the module finds its code in
// place.
#include "platform/name_lookup.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <new>
#include <string>

#include "platform/address_info.h"

namespace hv::platform {
namespace {

// Lookups given up on whose thread has not finished yet.
LONG g_abandoned = 0;

enum : LONG { kRunning, kFinished, kAbandoned };

struct Lookup {
  LONG refs = 2;  // the caller's and the thread's
  LONG state = kRunning;  // kRunning, then whichever of the other two came first
  HANDLE done = nullptr;
  std::string host, port;
  addrinfo* result = nullptr;
  int rc = 0;
};

void Release(Lookup* l) {
  if (InterlockedDecrement(&l->refs) != 0) return;
  if (l->result != nullptr) freeaddrinfo(l->result);
  if (l->done != nullptr) CloseHandle(l->done);
  delete l;
}

DWORD WINAPI Run(void* context) {
  auto* l = static_cast<Lookup*>(context);
  l->rc = LookUpOnThisThread(l->host, l->port, &l->result);
  SetEvent(l->done);
  if (InterlockedCompareExchange(&l->state, kFinished, kRunning) == kAbandoned) {
    InterlockedDecrement(&g_abandoned);
  }
  Release(l);
  return 0;
}

// A lookup with its thread started, or null with `*native` set.
Lookup* Start(const std::string& host, const std::string& port, int* native) {
  Lookup* l = NewLookupRecord<Lookup>(host, port);
  if (l == nullptr) {
    *native = WSA_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  l->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = l->done == nullptr ? nullptr : CreateThread(nullptr, 0, Run, l, 0, nullptr);
  if (thread == nullptr) {
    *native = static_cast<int>(GetLastError());
    if (l->done != nullptr) CloseHandle(l->done);
    delete l;
    return nullptr;
  }
  CloseHandle(thread);
  return l;
}

}  // namespace

LookupStatus LookUpBounded(const std::string& host, const std::string& port, uint32_t timeout_ms,
                           addrinfo** list, int* native) {
  *list = nullptr;
  if (ConvertNumeric(host, port, list)) {
    *native = 0;
    return LookupStatus::kDone;
  }
  if (InterlockedCompareExchange(&g_abandoned, 0, 0) >= static_cast<LONG>(kMaxUnfinishedLookups)) {
    return LookupStatus::kTimedOut;
  }
  Lookup* l = Start(host, port, native);
  if (l == nullptr) return LookupStatus::kDone;
  if (WaitForSingleObject(l->done, timeout_ms) != WAIT_OBJECT_0) {
    // Counted before the thread can see it abandoned, so the count never
    // goes below zero; taken back if the thread finished meanwhile.
    InterlockedIncrement(&g_abandoned);
    if (InterlockedCompareExchange(&l->state, kAbandoned, kRunning) == kRunning) {
      Release(l);
      return LookupStatus::kTimedOut;
    }
    InterlockedDecrement(&g_abandoned);
    WaitForSingleObject(l->done, INFINITE);  // finished: the event is set or about to be
  }
  *native = l->rc;
  *list = l->result;
  l->result = nullptr;
  Release(l);
  return LookupStatus::kDone;
}

size_t UnfinishedLookups() {
  LONG n = InterlockedCompareExchange(&g_abandoned, 0, 0);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace hv::platform
