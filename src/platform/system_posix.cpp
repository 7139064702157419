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

namespace hv::platform {

LocalTime Now() {
  // The broken-down time changes once a second; every log line asks for it.
  thread_local time_t cached_second = static_cast<time_t>(-1);
  thread_local LocalTime cached;
  time_t now = time(nullptr);
  if (now == cached_second) return cached;
  struct tm parts {};
  localtime_r(&now, &parts);
  LocalTime& t = cached;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  cached_second = now;
  return t;
}

namespace {

// The calling thread's id, asked of the kernel once per thread: every log
// append checks the line owner, and a system call each time showed in the
// cost of a verification.
thread_local uint32_t cached_thread_id = 0;

// A forked child's one thread has a new id: forget the parent's.
void ForgetThreadIdInChild() { cached_thread_id = 0; }

}  // namespace

uint32_t CurrentThreadId() {
  static const bool registered = pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild) == 0;
  (void)registered;
  if (cached_thread_id == 0) cached_thread_id = static_cast<uint32_t>(syscall(SYS_gettid));
  return cached_thread_id;
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
  if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return false;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  rlim_t wanted = bytes == 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
  if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) wanted = limit.rlim_max;
  limit.rlim_cur = wanted;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

}  // namespace hv::platform
