// The portable part of platform/memory.h.
#include "platform/memory.h"

#include <atomic>

namespace hv::platform {
namespace {

std::atomic<WipeObserver> g_observer{nullptr};

}  // namespace

void Wipe(const char* what, void* data, size_t size) {
  SecureZero(data, size);
  WipeObserver observer = g_observer.load(std::memory_order_acquire);
  if (observer != nullptr) observer(what, data, size);
}

void SetWipeObserver(WipeObserver observer) { g_observer.store(observer, std::memory_order_release); }

}  // namespace hv::platform
