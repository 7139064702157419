// Failing the C allocations that a shared library outside the module makes
// for it (on Linux the JSON library is the system's shared library, which
// the module's own --wrap hook does not reach).
//
// FailForeignAllocations(name, decide): from now on every malloc, calloc
// and realloc called directly from the code of the loaded library whose
// file name holds `name` asks `decide` (the module's counter) and fails
// (null) when it answers true; a null `decide` stops it. Only for a test
// program that links this hook (it replaces malloc, calloc and realloc for
// the whole program). False where it cannot hook: on Windows, where the
// JSON library is linked into the module and its hook counts it already,
// under a sanitizer, which brings its own allocator, or when no such
// library is loaded.
// Thread-safety: the hooked functions run on any thread; arm and disarm
// from one thread, with the library loaded.
#ifndef HV_TESTS_SUPPORT_FOREIGN_ALLOC_HOOK_H_
#define HV_TESTS_SUPPORT_FOREIGN_ALLOC_HOOK_H_

namespace hv::testing {

using AllocationDecider = int (*)();

bool FailForeignAllocations(const char* name, AllocationDecider decide);

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_FOREIGN_ALLOC_HOOK_H_
