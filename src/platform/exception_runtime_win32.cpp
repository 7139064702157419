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

  bool Owns(const void* block) const noexcept {
    auto* byte = static_cast<const unsigned char*>(block);
    return byte >= blocks_[0].bytes && byte < blocks_[0].bytes + sizeof(blocks_);
  }

  // True if `block` was one of the reserve's; it is then given back.
  bool GiveBack(const void* block) noexcept {
    if (!Owns(block)) return false;
    auto* byte = static_cast<const unsigned char*>(block);
    taken_[(byte - blocks_[0].bytes) / sizeof(Block)].store(false, std::memory_order_release);
    return true;
  }

 private:
  struct alignas(16) Block {
    unsigned char bytes[kBlockSize];
  };
  Block blocks_[kBlocks] = {};
  std::atomic<bool> taken_[kBlocks] = {};
};

// Retries `attempt` until it yields a value or `kPatienceMs` have passed:
// under exhausted memory a block comes back as soon as another thread's
// exception is handled, or memory returns. Null when it never did.
constexpr ULONGLONG kPatienceMs = 2000;

template <class Attempt>
auto Retry(Attempt attempt) noexcept -> decltype(attempt()) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (auto result = attempt()) return result;
    if (GetTickCount64() - start >= kPatienceMs) return nullptr;
    Sleep(1);
  }
}

// ---- Thrown objects ------------------------------------------------------

// Room for the runtime's record and a thrown object of up to 768 bytes
// (the module throws nothing near that: std::bad_alloc, std::system_error,
// the JSON library's exceptions). A block is held from the throw until its
// handler ends, so 64 of them serve 64 exceptions in flight at once; more
// throws wait for one to come back.
constexpr size_t kThrowBlock = 1024;
static_assert(kExceptionHeaderRoom % 16 == 0 && kExceptionHeaderRoom < kThrowBlock);
Reserve<64, kThrowBlock> g_throw_reserve;

void* AllocateBlock(size_t size) noexcept {
  void* block = Retry([size]() noexcept {
    void* memory = std::malloc(size);
    if (memory == nullptr && size <= kThrowBlock) memory = g_throw_reserve.Take();
    return memory;
  });
  // Neither memory nor a block for two seconds: the throw cannot proceed,
  // as with the runtime's own pool when it is exhausted.
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

// For threads whose first throw finds no memory; given back at thread end,
// or at the thread's next use of it with no exception in flight or caught
// once memory has returned (its state then moves to the heap).
Reserve<4096, sizeof(ExceptionGlobals)> g_globals_reserve;

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

// A state of the heap or the reserve for this thread, stored in its slot.
ExceptionGlobals* NewThreadGlobals(DWORD index) noexcept {
  return Retry([index]() noexcept {
    void* state = std::calloc(1, sizeof(ExceptionGlobals));
    if (state == nullptr) state = g_globals_reserve.Take();
    if (state == nullptr) return static_cast<ExceptionGlobals*>(nullptr);
    *static_cast<ExceptionGlobals*>(state) = ExceptionGlobals{};
    if (!FlsSetValue(index, state)) {
      ReleaseGlobals(state);
      return static_cast<ExceptionGlobals*>(nullptr);
    }
    return static_cast<ExceptionGlobals*>(state);
  });
}

// Moves a state held in the reserve to the heap when memory allows. Only an
// empty state moves: no exception is then in flight or caught on this
// thread, so no frame of the runtime still uses the reserve block (the
// runtime reads the state anew at each step of a throw).
ExceptionGlobals* MoveOutOfReserve(DWORD index, ExceptionGlobals* globals) noexcept {
  if (globals->caught_exceptions != nullptr || globals->uncaught_exceptions != 0) return globals;
  void* state = std::calloc(1, sizeof(ExceptionGlobals));
  if (state == nullptr) return globals;
  if (!FlsSetValue(index, state)) {
    std::free(state);
    return globals;
  }
  g_globals_reserve.GiveBack(globals);
  return static_cast<ExceptionGlobals*>(state);
}

ExceptionGlobals* ThreadGlobals() noexcept {
  DWORD index = Index();
  if (index == FLS_OUT_OF_INDEXES) return &g_unloading;
  auto* globals = static_cast<ExceptionGlobals*>(FlsGetValue(index));
  if (globals != nullptr) {
    return g_globals_reserve.Owns(globals) ? MoveOutOfReserve(index, globals) : globals;
  }
  globals = NewThreadGlobals(index);
  if (globals == nullptr) std::abort();  // no memory, no block, for two seconds
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
