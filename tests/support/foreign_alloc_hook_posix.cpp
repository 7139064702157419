// See foreign_alloc_hook.h. The program's malloc, calloc and realloc are
// glibc's own under their internal names, with a look at the caller's
// address first: only calls made from the chosen library's code are
// counted, so the host's own allocations (the test, its servers) never fail.
#include "tests/support/foreign_alloc_hook.h"

#include <link.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The sanitizers bring their own allocator: no hook under them.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HV_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(HV_SANITIZED)
#define HV_FOREIGN_ALLOC_HOOK 0
#else
#define HV_FOREIGN_ALLOC_HOOK 1
#endif

namespace hv::testing {
namespace {

std::atomic<uintptr_t> g_code_begin{0};
std::atomic<uintptr_t> g_code_end{0};
std::atomic<AllocationDecider> g_decide{nullptr};

struct Search {
  const char* name;
  uintptr_t begin = 0;
  uintptr_t end = 0;
};

// The executable segment of the first loaded object whose path holds the name.
int FindCode(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, search->name) == nullptr) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X) != 0) {
      search->begin = info->dlpi_addr + segment.p_vaddr;
      search->end = search->begin + segment.p_memsz;
      return 1;
    }
  }
  return 0;
}

// True when the call returning to `caller` is to fail.
[[maybe_unused]] bool FailsFrom(const void* caller) {
  AllocationDecider decide = g_decide.load();
  auto address = reinterpret_cast<uintptr_t>(caller);
  return decide != nullptr && address >= g_code_begin.load() && address < g_code_end.load() &&
         decide() != 0;
}

}  // namespace

bool FailForeignAllocations(const char* name, AllocationDecider decide) {
  g_decide.store(nullptr);
  if (!HV_FOREIGN_ALLOC_HOOK || decide == nullptr) return false;
  Search search{name};
  if (dl_iterate_phdr(&FindCode, &search) == 0) return false;
  g_code_begin.store(search.begin);
  g_code_end.store(search.end);
  g_decide.store(decide);
  return true;
}

}  // namespace hv::testing

#if HV_FOREIGN_ALLOC_HOOK
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

void* malloc(size_t size) noexcept {
  return hv::testing::FailsFrom(__builtin_return_address(0)) ? nullptr : __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
  return hv::testing::FailsFrom(__builtin_return_address(0)) ? nullptr : __libc_calloc(count, size);
}
// A failed realloc leaves the block as it was.
void* realloc(void* block, size_t size) noexcept {
  return hv::testing::FailsFrom(__builtin_return_address(0)) ? nullptr : __libc_realloc(block, size);
}
}
#endif
