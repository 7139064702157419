// Process-level facts and small system services.
//
// Thread-safety: every function may be called from any thread. None uses
// the language's thread_local (whose storage the system may allocate at a
// thread's first use, and abort when it cannot): Now may remember its last
// answer for the process, for the rest of its second; CurrentThreadId may
// keep each thread's id in a thread slot, and asks the system again when
// the slot cannot hold it. The functions that touch the current directory change it for the
// whole process (the host's), as the log writer requires.
#ifndef HV_PLATFORM_SYSTEM_H_
#define HV_PLATFORM_SYSTEM_H_

#include <cstddef>
#include <cstdint>

#include "base/wide.h"

namespace hv::platform {

// Broken-down local time, as the log prefix writes it.
struct LocalTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

LocalTime Now();

// Identifier of the calling thread, as the system numbers threads.
uint32_t CurrentThreadId();

// The calling thread's last system error code (GetLastError / errno).
uint32_t LastSystemError();

// The character that separates directories in paths of this platform.
WChar PathSeparator();

// Makes `dir` the process's current directory. Returns false on failure.
bool SetCurrentDir(const WString& dir);

// Size in bytes of the file `path`; false when it does not exist or its size
// cannot be read.
bool FileSize(const WString& path, uint64_t* size);

// The process environment variable `name`, copied into `value` (at most
// `capacity` - 1 bytes and a NUL); false when it is unset or longer. It
// allocates nothing, so that an allocator may ask it.
bool GetEnvironmentValue(const char* name, char* value, size_t capacity);
// Sets `name` to `value` for this process and the libraries it loads.
bool SetEnvironmentValue(const char* name, const char* value);

// For tests of writes the system cuts short: limits the size of the files
// this process writes to `bytes` (0: no limit), and gives the signal a
// write past the limit raises on POSIX its default action, ending the
// process, as in a host that never changed it (the log's own writes never
// let it through). False where the system has no such limit (Windows).
bool LimitFileSize(uint64_t bytes);

}  // namespace hv::platform

#endif  // HV_PLATFORM_SYSTEM_H_
