// POSIX implementation of platform/file.h.
#include "platform/file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
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

namespace {

// A write that finds the file at the process's file-size limit fails with
// EFBIG and raises SIGXFSZ on the writing thread, whose default action ends
// the process: a plug-in must not end its host by writing its log. So the
// signal is blocked on this thread around the write, and the one the write
// raised is taken off it again before the host's mask comes back; the
// host's disposition of the signal is never changed. (A SIGXFSZ that was
// already pending, blocked by the host, is left to the host.)
class FileSizeSignalHold {
 public:
  FileSizeSignalHold() noexcept {
    sigemptyset(&signal_);
    sigaddset(&signal_, SIGXFSZ);
    held_ = pthread_sigmask(SIG_BLOCK, &signal_, &previous_) == 0;
    if (held_ && sigismember(&previous_, SIGXFSZ) == 1) {
      sigset_t pending;
      was_pending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
    }
  }
  ~FileSizeSignalHold() {
    if (held_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  FileSizeSignalHold(const FileSizeSignalHold&) = delete;
  FileSizeSignalHold& operator=(const FileSizeSignalHold&) = delete;

  // After a write that failed with EFBIG: takes the SIGXFSZ it raised.
  void Consume() noexcept {
    if (!held_ || was_pending_) return;
    const timespec none{};
    while (sigtimedwait(&signal_, nullptr, &none) < 0 && errno == EINTR) {
    }
  }

 private:
  sigset_t signal_;
  sigset_t previous_;
  bool held_ = false;
  bool was_pending_ = false;
};

}  // namespace

size_t LogFile::Write(const char* data, size_t size) {
  if (handle_ < 0 || size == 0) return 0;
  FileSizeSignalHold hold;
  for (;;) {
    ssize_t n = write(static_cast<int>(handle_), data, size);
    if (n >= 0) return static_cast<size_t>(n);
    const int error = errno;
    if (error == EINTR) continue;  // interrupted before anything was written
    if (error == EFBIG) hold.Consume();
    errno = error;  // the caller may report it
    return 0;
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
