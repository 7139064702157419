// POSIX implementation of platform/file.h.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/utf.h"

namespace hv::platform {

LogFile::~LogFile() { Close(); }

LogFile::LogFile(LogFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)) {}

LogFile& LogFile::operator=(LogFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

bool LogFile::Open(const WString& path, Mode mode) {
  Close();
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC |
              (mode == Mode::kAppend ? O_APPEND : O_TRUNC);
  int fd = open(WideToUtf8(path).c_str(), flags, 0644);
  if (fd < 0) return false;
  if (mode == Mode::kTruncate) {
    // Later writes still go to the end, as in append mode.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_APPEND);
  }
  handle_ = fd;
  return true;
}

bool LogFile::IsOpen() const { return handle_ >= 0; }

size_t LogFile::Write(const char* data, size_t size) {
  if (handle_ < 0 || size == 0) return 0;
  for (;;) {
    ssize_t n = write(static_cast<int>(handle_), data, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;  // interrupted before anything was written
  }
}

bool LogFile::Flush() { return handle_ >= 0; }

bool LogFile::Close() {
  if (handle_ < 0) return true;
  int fd = static_cast<int>(std::exchange(handle_, -1));
  return close(fd) == 0;
}

const char* TextLineEnd() { return "\n"; }

bool FileEndsMidLine(const WString& path) {
  int fd = open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  char last = '\n';
  if (fstat(fd, &st) == 0 && st.st_size > 0) {
    if (pread(fd, &last, 1, st.st_size - 1) != 1) last = '\n';
  }
  close(fd);
  return last != '\n';
}

}  // namespace hv::platform
