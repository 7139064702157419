// See freed_block_scan.h. Linked only into the test programs that scan
// (it replaces `free`, or operator new and delete, for the whole program).
#include "tests/support/freed_block_scan.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <malloc.h>

// The sanitizers bring their own allocator: no scan under them.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define HV_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(HV_SANITIZED)
#define HV_FREED_BLOCK_SCAN 0
#else
#define HV_FREED_BLOCK_SCAN 1
#endif

#if HV_FREED_BLOCK_SCAN && !defined(_WIN32)
extern "C" void __libc_free(void* block);
#endif

namespace hv::testing {
namespace {

constexpr int kMaxPatterns = 16;

struct Pattern {
  const char* bytes;
  size_t size;
  int hits;
};

Pattern g_patterns[kMaxPatterns];
int g_pattern_count = 0;
std::atomic<long> g_blocks{0};
thread_local bool t_armed = false;
std::atomic<int> g_scrubbers{0};  // scan objects alive: every thread's freed blocks are zeroed
thread_local bool t_inside = false;
std::vector<std::pair<std::string, std::string>>* g_owned = nullptr;

bool Holds(const unsigned char* block, size_t size, const Pattern& p) {
  if (p.size == 0 || size < p.size) return false;
  for (size_t i = 0; i + p.size <= size; ++i) {
    if (block[i] == static_cast<unsigned char>(p.bytes[0]) && std::memcmp(block + i, p.bytes, p.size) == 0) return true;
  }
  return false;
}

// Called for each block found holding a pattern: a place for a
// debugger's breakpoint, to see who freed it.
__attribute__((noinline)) void FoundInFreedBlock(int pattern) { asm volatile("" ::"r"(pattern)); }

// Unused where a sanitizer brings its own allocator and the hooks are left out.
[[maybe_unused]] void ScanBlock(void* block, size_t size) {
  if (t_inside || block == nullptr) return;
  if (!t_armed) {
    if (g_scrubbers.load(std::memory_order_relaxed) > 0) std::memset(block, 0, size);
    return;
  }
  t_inside = true;
  g_blocks.fetch_add(1, std::memory_order_relaxed);
  for (int i = 0; i < g_pattern_count; ++i) {
    if (Holds(static_cast<const unsigned char*>(block), size, g_patterns[i])) {
      ++g_patterns[i].hits;
      FoundInFreedBlock(i);
    }
  }
  std::memset(block, 0, size);
  t_inside = false;
}

}  // namespace

FreedBlockScan::FreedBlockScan() { g_scrubbers.fetch_add(1); }

void FreedBlockScan::Start(std::vector<std::pair<std::string, std::string>> patterns) {
  delete g_owned;
  g_owned = new std::vector<std::pair<std::string, std::string>>(std::move(patterns));
  g_pattern_count = 0;
  for (const auto& [name, bytes] : *g_owned) {
    if (g_pattern_count == kMaxPatterns) break;
    g_patterns[g_pattern_count++] = {bytes.data(), bytes.size(), 0};
  }
  g_blocks.store(0);
  t_armed = true;
}

FreedBlockScan::~FreedBlockScan() {
  t_armed = false;
  // The patterns are the secrets themselves: zeroed as they are freed, or
  // the next scan would find them again in blocks made of their memory.
  delete g_owned;
  g_owned = nullptr;
  g_pattern_count = 0;
  g_scrubbers.fetch_sub(1);
}

std::vector<std::pair<std::string, int>> FreedBlockScan::Stop() {
  t_armed = false;
  std::vector<std::pair<std::string, int>> found;
  for (int i = 0; i < g_pattern_count; ++i) {
    if (g_patterns[i].hits > 0) found.emplace_back((*g_owned)[static_cast<size_t>(i)].first, g_patterns[i].hits);
  }
  return found;
}

long FreedBlockScan::blocks() const { return g_blocks.load(); }

bool FreedBlockScanAvailable() { return HV_FREED_BLOCK_SCAN != 0; }

}  // namespace hv::testing

#if HV_FREED_BLOCK_SCAN && defined(_WIN32)

// Each block carries its size in front of it (16 bytes keep the alignment).
namespace {
constexpr size_t kHeader = 16;

// Not inlined: the compiler would otherwise see the header's offset from
// the block its caller asked for, and warn about it.
__attribute__((noinline)) void* Allocate(size_t size) {
  auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (raw == nullptr) return nullptr;
  std::memcpy(raw, &size, sizeof size);
  return raw + kHeader;
}

__attribute__((noinline)) void Release(void* block) {
  if (block == nullptr) return;
  auto* raw = reinterpret_cast<unsigned char*>(reinterpret_cast<uintptr_t>(block) - kHeader);
  size_t size = 0;
  std::memcpy(&size, raw, sizeof size);
  hv::testing::ScanBlock(block, size);
  std::free(raw);
}
}  // namespace

void* operator new(size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }

#elif HV_FREED_BLOCK_SCAN

extern "C" void free(void* block) {
  if (block != nullptr) hv::testing::ScanBlock(block, malloc_usable_size(block));
  __libc_free(block);
}

#endif
