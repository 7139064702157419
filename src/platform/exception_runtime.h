// The C++ runtime's exception memory and per-thread exception state, as the
// module's Windows builds keep them.
//
// Why the module keeps them itself on Windows: the runtime statically linked
// into the DLL (mingw-w64's libstdc++ under the posix thread model) keeps a
// thread's exception state in emulated thread_local storage, which
// allocates at the thread's first throw and aborts the host when that
// fails; and when malloc cannot hold a thrown object, it falls back to an
// emergency pool whose lock is set up lazily, by an allocation, and whose
// failure throws again into the same pool until the stack overflows. So a
// host thread that meets exhausted memory in the module would take the host
// down instead of receiving an out-of-memory code. exception_runtime_win32.cpp
// defines the runtime's own entry points for both (the C++ ABI's
// __cxa_get_globals, __cxa_allocate_exception and their kin), linked into
// the module as an object so that the library's definitions are never
// taken: the state lives in a fiber-local slot and, when no memory is left,
// in a fixed reserve; thrown objects come from malloc or, failing that, from
// a fixed reserve taken without any lock. On POSIX the runtime's own are
// sound (native thread-local storage, and a lock that never allocates), and
// nothing is replaced.
//
// Results: with memory exhausted, a throw waits for a reserve block to come
// back (another thread's handler ending) and fails (std::terminate, as the
// runtime's own pool does) only when for two seconds neither malloc nor
// the reserve of 64 blocks could hold it, or when the thrown object is
// larger than a block; a thread's first throw likewise aborts only when
// for two seconds neither calloc nor the reserve of 4096 states served it.
// A thread keeps a reserve state until it ends or, with memory back, until
// its next throw.
//
// One-time initialisation too (run_once_win32.cpp): the runtime's guards
// of function-local statics lock a lock that is set up lazily, by an
// allocation, and throw when that fails, at a static's first use (in the
// JSON library's initialisers, run while the host loads the module, that
// throw ends the host); and the thread library's pthread_once, which the
// 32-bit unwinder calls at the first throw, writes through an allocation
// it never checks. The module's guards and pthread_once (every call from
// outside the thread library is sent there by the linker) wait on a slim
// lock and a condition variable set up statically: they allocate nothing
// and never fail.
// Thread-safety: every entry point may run on any thread at once.
// Ownership: the slot is given back when the module unloads, and with it
// each thread's state.
#ifndef HV_PLATFORM_EXCEPTION_RUNTIME_H_
#define HV_PLATFORM_EXCEPTION_RUNTIME_H_

#include <cstddef>

namespace hv::platform {

// Room kept before each thrown object for the runtime's own record of it
// (a reference count and the exception's header with the unwinder's). The
// runtime finds that record at a fixed distance below the object; this
// room is at least that distance, a multiple of the largest alignment, and
// zero-filled as the runtime expects. A test measures the runtime's
// distance against it.
constexpr size_t kExceptionHeaderRoom = 256;

}  // namespace hv::platform

#endif  // HV_PLATFORM_EXCEPTION_RUNTIME_H_
