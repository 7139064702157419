// POSIX implementation of platform/system.h.
#include "platform/system.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/utf.h"
#include "platform/lock.h"
#include "platform/thread_slot.h"

namespace hv::platform {

namespace {

// The broken-down time changes once a second and every log line asks for
// it: the last answer is kept for the whole process. Not per thread: the
// language's thread_local storage in a library loaded at run time is
// allocated by the C library at a thread's first use, and it ends the
// process when that allocation fails.
Lock now_lock;
time_t now_second = static_cast<time_t>(-1);
LocalTime now_cached;

}  // namespace

LocalTime Now() {
  time_t now = time(nullptr);
  {
    LockHold hold(now_lock);
    if (now == now_second) return now_cached;
  }
  struct tm parts {};
  localtime_r(&now, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  LockHold hold(now_lock);
  now_second = now;
  now_cached = t;
  return t;
}

namespace {

// Each thread's id, asked of the kernel once per thread and kept in a slot
// of the system's thread-local storage (not thread_local, as for Now): a
// system call at every log line showed in its cost. Where the slot cannot
// keep it (no key, no memory for the thread's first value), the kernel is
// asked at every call.
ThreadSlot thread_id_slot;

// A forked child's one thread has a new id: forget the parent's.
void ForgetThreadIdInChild() { thread_id_slot.Set(nullptr); }
[[maybe_unused]] const bool fork_handler_registered =
    pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild) == 0;

}  // namespace

uint32_t CurrentThreadId() {
  if (void* known = thread_id_slot.Get()) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(known));
  }
  auto id = static_cast<uint32_t>(syscall(SYS_gettid));
  thread_id_slot.Set(reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
  return id;
}

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

WChar PathSeparator() { return u'/'; }

bool SetCurrentDir(const WString& dir) {
  return chdir(WideToUtf8(dir).c_str()) == 0;
}

bool FileSize(const WString& path, uint64_t* size) {
  struct stat st {};
  if (stat(WideToUtf8(path).c_str(), &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool GetEnvironmentValue(const char* name, char* value, size_t capacity) {
  const char* found = std::getenv(name);
  if (found == nullptr || capacity == 0) return false;
  size_t length = std::strlen(found);
  if (length >= capacity) return false;
  std::memcpy(value, found, length + 1);
  return true;
}

bool SetEnvironmentValue(const char* name, const char* value) {
  return setenv(name, value, 1) == 0;
}

bool LimitFileSize(uint64_t bytes) {
  if (std::signal(SIGXFSZ, SIG_DFL) == SIG_ERR) return false;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  rlim_t wanted = bytes == 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
  if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) wanted = limit.rlim_max;
  limit.rlim_cur = wanted;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

}  // namespace hv::platform
