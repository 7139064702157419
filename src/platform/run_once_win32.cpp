// One-time initialisation as the module's Windows builds run it (why:
// exception_runtime.h): the C++ ABI's guards of function-local statics
// (__cxa_guard_acquire, __cxa_guard_release, __cxa_guard_abort) and the
// thread library's pthread_once, which the C++ runtime and the unwinder
// call. The guards replace the runtime library's: the module links this
// file as an object, so the library's guard member is never taken (one
// that was pulled in anyway would fail the link with duplicate
// definitions). pthread_once is reached through the linker's --wrap,
// which sends every call from outside the thread library here.
//
// One slim reader/writer lock and one condition variable for all of them:
// both are set up statically, allocate nothing and cannot fail. Each
// initialisation runs once in the module's life, so sharing one lock
// costs nothing worth measuring.
#include <windows.h>

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_finished = CONDITION_VARIABLE_INIT;

// Waits, under g_lock, while another thread runs the initialisation that
// `running` says is under way; returns with g_lock held.
template <class Running>
void LockAndWaitFor(Running running) {
  AcquireSRWLockExclusive(&g_lock);
  while (running()) SleepConditionVariableSRW(&g_finished, &g_lock, INFINITE, 0);
}

void UnlockAndWake() {
  ReleaseSRWLockExclusive(&g_lock);
  WakeAllConditionVariable(&g_finished);
}

// A guard's first byte says its static is initialised (the compiler's own
// inline check reads it, with acquire ordering, before it calls here); its
// second byte, that a thread is initialising it now.
unsigned char* Bytes(long long* guard) { return reinterpret_cast<unsigned char*>(guard); }

bool Initialised(long long* guard) { return __atomic_load_n(&Bytes(guard)[0], __ATOMIC_ACQUIRE) != 0; }

void FinishGuard(long long* guard, bool done) {
  AcquireSRWLockExclusive(&g_lock);
  Bytes(guard)[1] = 0;
  if (done) __atomic_store_n(&Bytes(guard)[0], 1, __ATOMIC_RELEASE);
  UnlockAndWake();
}

// The states of a pthread_once_t (a long, PTHREAD_ONCE_INIT 0). Done is
// the thread library's own value, so that its inline checks agree.
constexpr long kOnceDone = 1;
constexpr long kOnceRunning = 2;

}  // namespace

extern "C" {

// 1: the caller initialises the static and then calls release (or abort,
// when its initialiser throws); 0: it is initialised already. Waits while
// another thread initialises it.
int __cxa_guard_acquire(long long* guard) noexcept {
  if (Initialised(guard)) return 0;
  LockAndWaitFor([guard] { return !Initialised(guard) && Bytes(guard)[1] != 0; });
  const bool first = !Initialised(guard);
  if (first) Bytes(guard)[1] = 1;
  ReleaseSRWLockExclusive(&g_lock);
  return first ? 1 : 0;
}

void __cxa_guard_release(long long* guard) noexcept { FinishGuard(guard, true); }

// The initialiser threw: the next use tries again.
void __cxa_guard_abort(long long* guard) noexcept { FinishGuard(guard, false); }

// Runs `fn` once for `once`; a caller that comes while it runs waits for
// its end. `fn` may not end its thread (nothing in the module does): the
// callers after it would wait for ever. The thread library's own allocates
// a record at each object's first call and writes through it unchecked:
// the first exception thrown on a 32-bit build (the unwinder's register
// table is set up this way) would crash the host when memory is exhausted.
int __wrap_pthread_once(long* once, void (*fn)(void)) {
  if (once == nullptr || fn == nullptr) return 22;  // EINVAL
  if (__atomic_load_n(once, __ATOMIC_ACQUIRE) == kOnceDone) return 0;
  LockAndWaitFor([once] { return __atomic_load_n(once, __ATOMIC_RELAXED) == kOnceRunning; });
  const bool first = __atomic_load_n(once, __ATOMIC_RELAXED) != kOnceDone;
  if (first) __atomic_store_n(once, kOnceRunning, __ATOMIC_RELAXED);
  ReleaseSRWLockExclusive(&g_lock);
  if (!first) return 0;
  // Ends the run however `fn` ends: a function that throws (std::call_once
  // runs its callable here) leaves `once` to be tried again, as a throwing
  // static initialiser does.
  struct Finish {
    long* once;
    long state = 0;
    ~Finish() {
      AcquireSRWLockExclusive(&g_lock);
      __atomic_store_n(once, state, __ATOMIC_RELEASE);
      UnlockAndWake();
    }
  } finish{once};
  fn();
  finish.state = kOnceDone;
  return 0;
}

}  // extern "C"
