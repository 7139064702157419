// Windows implementation of platform/lock.h: a slim reader/writer lock,
// taken exclusively. SRWLOCK_INIT is zero, and its operations allocate
// nothing and cannot fail.
#include "platform/lock.h"

#include <windows.h>

namespace hv::platform {
namespace {

static_assert(sizeof(SRWLOCK) <= Lock::kStorage, "the lock fits the storage");

SRWLOCK* SrwOf(unsigned char* storage) { return reinterpret_cast<SRWLOCK*>(storage); }

}  // namespace

void Lock::Acquire() noexcept { AcquireSRWLockExclusive(SrwOf(storage_)); }
void Lock::Release() noexcept { ReleaseSRWLockExclusive(SrwOf(storage_)); }

}  // namespace hv::platform
