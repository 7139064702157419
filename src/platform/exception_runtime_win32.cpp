// The C++ runtime's exception memory and per-thread exception state, kept by
// the module (why: exception_runtime.h). These definitions replace the
// runtime library's: the module links this file as an object, so the
// library's own (its eh_alloc and eh_globals members) are never taken; a
// runtime that pulled them in anyway would fail the link with duplicate
// definitions rather than run with two allocators.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "platform/exception_runtime.h"

namespace {

using hv::platform::kExceptionHeaderRoom;

// Blocks handed out without a lock when malloc fails: a claimed flag per
// block, given back by clearing it. Claiming may run on any thread at once,
// even inside a throw that is itself out of memory.
template <size_t kBlocks, size_t kBlockSize>
class Reserve {
 public:
  constexpr Reserve() = default;

  void* Take() noexcept {
    for (size_t i = 0; i < kBlocks; ++i) {
      if (!taken_[i].exchange(true, std::memory_order_acquire)) return blocks_[i].bytes;
    }
    return nullptr;
  }

  // True if `block` was one of the reserve's; it is then given back.
  bool GiveBack(const void* block) noexcept {
    auto* byte = static_cast<const unsigned char*>(block);
    auto* first = blocks_[0].bytes;
    if (byte < first || byte >= first + sizeof(blocks_)) return false;
    taken_[(byte - first) / sizeof(Block)].store(false, std::memory_order_release);
    return true;
  }

 private:
  struct alignas(16) Block {
    unsigned char bytes[kBlockSize];
  };
  Block blocks_[kBlocks] = {};
  std::atomic<bool> taken_[kBlocks] = {};
};

// ---- Thrown objects ------------------------------------------------------

// Room for the runtime's record and a thrown object of up to 768 bytes
// (the module throws nothing near that: std::bad_alloc, std::system_error,
// the JSON library's exceptions); 64 of them cover exceptions nested on
// many host threads at once.
constexpr size_t kThrowBlock = 1024;
static_assert(kExceptionHeaderRoom % 16 == 0 && kExceptionHeaderRoom < kThrowBlock);
Reserve<64, kThrowBlock> g_throw_reserve;

void* AllocateBlock(size_t size) noexcept {
  void* block = std::malloc(size);
  if (block == nullptr && size <= kThrowBlock) block = g_throw_reserve.Take();
  if (block == nullptr) std::terminate();
  std::memset(block, 0, kExceptionHeaderRoom);  // the runtime's record starts zeroed
  return block;
}

void FreeBlock(void* block) noexcept {
  if (!g_throw_reserve.GiveBack(block)) std::free(block);
}

// ---- Per-thread state ----------------------------------------------------

// The C++ ABI's per-thread exception state.
struct ExceptionGlobals {
  void* caught_exceptions;
  unsigned int uncaught_exceptions;
};

// For threads whose first throw finds no memory; given back at thread end.
Reserve<32, sizeof(ExceptionGlobals)> g_globals_reserve;

void WINAPI ReleaseGlobals(void* data) {
  if (!g_globals_reserve.GiveBack(data)) std::free(data);
}

std::atomic<DWORD> g_index{FLS_OUT_OF_INDEXES};
// Set once the slot is given back at unload: the unloading thread's state
// then lives here (no other thread runs the module's code by then).
std::atomic<bool> g_closed{false};
ExceptionGlobals g_unloading;

DWORD Index() {
  DWORD index = g_index.load(std::memory_order_acquire);
  if (index != FLS_OUT_OF_INDEXES || g_closed.load()) return index;
  DWORD mine = FlsAlloc(&ReleaseGlobals);
  if (mine == FLS_OUT_OF_INDEXES) std::abort();  // the process has none left
  if (!g_index.compare_exchange_strong(index, mine)) {
    FlsFree(mine);
    return index;
  }
  return mine;
}

// Gives the slot back when the module unloads: the system would otherwise
// call ReleaseGlobals, gone with the module, at each thread's end. Freeing
// the slot gives every thread's state back (the system calls ReleaseGlobals
// for each); only memory is freed, which the loader lock allows.
struct SlotOwner {
  constexpr SlotOwner() = default;
  ~SlotOwner() {
    g_closed.store(true);
    DWORD index = g_index.exchange(FLS_OUT_OF_INDEXES);
    if (index != FLS_OUT_OF_INDEXES) FlsFree(index);
  }
};
// Built first and so destroyed last of the module's objects.
__attribute__((init_priority(101))) const SlotOwner g_slot_owner;

ExceptionGlobals* ThreadGlobals() noexcept {
  DWORD index = Index();
  if (index == FLS_OUT_OF_INDEXES) return &g_unloading;
  auto* globals = static_cast<ExceptionGlobals*>(FlsGetValue(index));
  if (globals != nullptr) return globals;
  globals = static_cast<ExceptionGlobals*>(std::calloc(1, sizeof(ExceptionGlobals)));
  if (globals == nullptr) {
    globals = static_cast<ExceptionGlobals*>(g_globals_reserve.Take());
    if (globals != nullptr) *globals = ExceptionGlobals{};
  }
  if (globals == nullptr || !FlsSetValue(index, globals)) std::abort();
  return globals;
}

}  // namespace

// The runtime's entry points, under the C++ ABI's names and in its
// namespace (the runtime's own declarations of them live there).
namespace __cxxabiv1 {
extern "C" {

void* __cxa_allocate_exception(size_t thrown_size) noexcept {
  if (thrown_size > SIZE_MAX - kExceptionHeaderRoom) std::terminate();
  auto* block = static_cast<unsigned char*>(AllocateBlock(thrown_size + kExceptionHeaderRoom));
  return block + kExceptionHeaderRoom;
}

void __cxa_free_exception(void* thrown_object) noexcept {
  FreeBlock(static_cast<unsigned char*>(thrown_object) - kExceptionHeaderRoom);
}

// A dependent exception (a rethrown exception_ptr) is a record of the
// runtime's own, smaller than the room above; handed out zero-filled.
void* __cxa_allocate_dependent_exception() noexcept { return AllocateBlock(kExceptionHeaderRoom); }

void __cxa_free_dependent_exception(void* record) noexcept { FreeBlock(record); }

void* __cxa_get_globals() noexcept { return ThreadGlobals(); }

void* __cxa_get_globals_fast() noexcept { return ThreadGlobals(); }

}  // extern "C"
}  // namespace __cxxabiv1
