// POSIX implementation of platform/system.h.
#include "platform/system.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "base/utf.h"

namespace hv::platform {

LocalTime Now() {
  time_t now = time(nullptr);
  struct tm parts {};
  localtime_r(&now, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  return t;
}

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

bool ProcessImagePath(WString* path) {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      *path = Utf8ToWide(buffer);
      return true;
    }
    if (buffer.size() >= 32768) return false;
    buffer.resize(buffer.size() * 2);
  }
}

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

}  // namespace hv::platform
