// POSIX implementation of platform/file.h.
#include "platform/file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

#include "base/utf.h"
#include "platform/file_renewal_posix.h"

namespace hv::platform {
namespace {

constexpr uint64_t kNoLimit = ~uint64_t{0};

// Every this many appends the file's size is asked of the system.
constexpr uint32_t kRecount = 32;

// How often an exact look at the size is tried again (see Relearn).
constexpr int kExactTries = 16;

#ifdef O_PATH
constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
constexpr int kAppendFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;

uint64_t ProcessFileSizeLimit() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoLimit;
  return static_cast<uint64_t>(limit.rlim_cur);
}

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

// One write request; -1 with errno on failure. `guarded`: behind the
// file-size signal hold.
ssize_t WriteOnce(int fd, const char* data, size_t size, bool guarded) {
  if (!guarded) {
    for (;;) {
      ssize_t n = write(fd, data, size);
      if (n >= 0 || errno != EINTR) return n;  // EINTR: nothing was written
    }
  }
  FileSizeSignalHold hold;
  for (;;) {
    ssize_t n = write(fd, data, size);
    if (n >= 0) return n;
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EFBIG) hold.Consume();
    errno = error;  // the caller may report it
    return -1;
  }
}

// Opens `name` in `dirfd` for appending (creating it) only when it is a
// regular file: a symbolic link is not followed (O_NOFOLLOW), and a named
// pipe or device never blocks the open (O_NONBLOCK, cleared once fstat
// has shown a regular file). -1 otherwise.
int OpenRegular(int dirfd, const char* name) {
  int fd = openat(dirfd, name, kAppendFlags | O_NONBLOCK | O_NOFOLLOW, 0644);
  if (fd < 0) return -1;
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// True when the two descriptors name the same file.
bool SameFile(int a, int b) {
  struct stat x {}, y {};
  return fstat(a, &x) == 0 && fstat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

}  // namespace

LogFile::~LogFile() { Close(); }

// The directory's path is made absolute, so that following the file by
// path later does not depend on the process's current directory.
bool LogFile::Open(const WString& path) {
  Close();
  std::string text = WideToUtf8(path);
  size_t slash = text.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
  path_ = Utf8ToWide(slash == std::string::npos ? text : text.substr(slash + 1));
  if (dir.front() != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    dir = std::string(cwd) + "/" + dir;
  }
  directory_path_ = Utf8ToWide(dir);
  int dirfd = open(dir.c_str(), kDirectoryFlags);
  if (dirfd < 0) return false;
  int fd = OpenRegular(dirfd, WideToUtf8(path_).c_str());
  if (fd < 0) {
    close(dirfd);
    return false;
  }
  struct stat st {};
  size_.store(fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0);
  size_limit_.store(ProcessFileSizeLimit());
  directory_ = dirfd;
  handle_.store(fd);
  return true;
}

bool LogFile::IsOpen() const { return handle_.load(std::memory_order_relaxed) >= 0; }

LogFile::Appended LogFile::Append(const char* data, size_t size, uint64_t limit) {
  Appended result;
  const int fd = static_cast<int>(handle_.load(std::memory_order_relaxed));
  if (fd < 0 || size == 0) return result;
  // The bytes are counted before they are written, so that of threads
  // appending at once only the one that finds the file below its limit
  // goes past it.
  // A file already known full is told so without touching the count:
  // reservations taken back at once would make a relearning of the size
  // (after a renewal) fail its exchange and leave the full count standing.
  if (size_.load(std::memory_order_seq_cst) >= limit) {
    result.full = true;
    return result;
  }
  // Under way first, so that a relearnt size never misses these bytes.
  in_flight_.fetch_add(size, std::memory_order_seq_cst);
  const uint64_t before = size_.fetch_add(size, std::memory_order_seq_cst);
  if (before >= limit) {
    size_.fetch_sub(size, std::memory_order_relaxed);
    in_flight_.fetch_sub(size, std::memory_order_relaxed);
    result.full = true;
    return result;
  }
  // Other processes' lines are counted in every so often, so that of
  // several processes sharing the file none runs far past its limit. The
  // same look shows a file left without a name: another process renewed
  // the log twice since this writer last followed it (the second renewal
  // removed the earlier generation, which was this writer's file). It is
  // followed at once: the lines written there meanwhile are lost, and
  // were lost until the next second's follow.
  if ((appends_.fetch_add(1, std::memory_order_relaxed) & (kRecount - 1)) == kRecount - 1 &&
      !Relearn(fd, false)) {
    Follow();  // the new file takes the same descriptor number
  }
  // Under any file-size limit every write is guarded: neither this
  // writer's count nor the system's size (fstat does not wait for a write
  // under way: another process's 50 MB append shows part-done) can tell
  // that a write stays below it. Without a limit, a write costs nothing more.
  const bool guarded = size_limit_.load(std::memory_order_relaxed) != kNoLimit;
  ssize_t n = WriteOnce(fd, data, size, guarded);
  const int error = errno;
  in_flight_.fetch_sub(size, std::memory_order_relaxed);
  result.written = n > 0 ? static_cast<size_t>(n) : 0;
  if (result.written < size) {
    // Cut short: the file's size and the process's limit are learnt again.
    Relearn(fd, true);
    size_limit_.store(ProcessFileSizeLimit());
    errno = error;
  }
  return result;
}

// The file's size from the system, with the appends of this process that
// are under way counted in (they may land in this file). `exact`: taken as
// it is; otherwise it only raises the count, whose reservations include
// appends the system may not show yet.
//
// An exact count replaces the one read before it only if no append was
// counted meanwhile (its bytes might be in neither the file nor the count
// read); otherwise the count is only raised, and a later look lowers it.
//
// An exact look is tried again a few times when appends were counted
// meanwhile: a count left high after a renewal would have every writer
// find the new file full, and those that then write regardless could pass
// the limit by several lines.
//
// False when the file has no name left (it was removed).
bool LogFile::Relearn(int fd, bool exact) {
  for (int attempt = 0;; ++attempt) {
    uint64_t known = size_.load(std::memory_order_seq_cst);
    const uint64_t flight = in_flight_.load(std::memory_order_seq_cst);
    struct stat st {};
    if (fstat(fd, &st) != 0) return true;
    const bool named = st.st_nlink > 0;
    const uint64_t size = static_cast<uint64_t>(st.st_size) + flight;
    if (exact && size_.compare_exchange_strong(known, size, std::memory_order_seq_cst)) return named;
    if (exact && attempt < kExactTries) continue;
    while (known < size && !size_.compare_exchange_weak(known, size, std::memory_order_relaxed)) {
    }
    return named;
  }
}

bool LogFile::Rotate(const WString& previous_name, uint64_t limit) {
  return Reopen(&previous_name, limit);
}

bool LogFile::Follow() { return Reopen(nullptr, kNoLimit); }

// The directory is opened again by its path, so that a folder removed and
// made again is followed (the old descriptor names a deleted folder). The
// file is looked at by the directory's descriptor and its name, without
// following a link, and compared with the open one by device and inode
// number. The new file takes the old one's descriptor number (dup2), so
// that an append running meanwhile writes whole to one file or the other.
bool LogFile::Reopen(const WString* previous_name, uint64_t limit) {
  LockHold one_renewal_at_a_time(append_lock_);
  const int fd = static_cast<int>(handle_.load());
  if (fd < 0) return false;
  size_limit_.store(ProcessFileSizeLimit());
  const int now = open(WideToUtf8(directory_path_).c_str(), kDirectoryFlags);
  if (now >= 0 && SameFile(now, static_cast<int>(directory_))) {
    close(now);
  } else if (now >= 0) {
    close(static_cast<int>(std::exchange(directory_, now)));
  }
  const std::string name = WideToUtf8(path_);
  const int dirfd = static_cast<int>(directory_);
  std::optional<RenewalTurn> turn;
  if (previous_name != nullptr) turn.emplace(dirfd, fd, &lock_skipped_until_);
  struct stat mine {}, at {};
  if (fstat(fd, &mine) != 0) return false;
  const bool same = fstatat(dirfd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 &&
                    at.st_dev == mine.st_dev && at.st_ino == mine.st_ino;
  // Appends under way count as written: their reservations found the file
  // below its limit, so it ends past it by one line at most once they land
  // (in the old file or the new). Judged by the bytes already there alone,
  // the writers that found it full would be sent back to it, and those
  // that then write regardless would pass the limit by several lines.
  const uint64_t pending = in_flight_.load(std::memory_order_seq_cst);
  if (same && (previous_name == nullptr || static_cast<uint64_t>(mine.st_size) + pending < limit)) {
    Relearn(fd, true);
    return false;
  }
  // Without the turn the full file stays (its lines are dropped and
  // counted meanwhile); another's new file is followed all the same.
  if (same && (!turn->held() || !MoveToEarlierGeneration(dirfd, name, WideToUtf8(*previous_name)))) {
    Relearn(fd, true);
    return false;
  }
  // A link, a folder, a pipe at the path: the old file stays in use.
  int fresh = OpenRegular(dirfd, name.c_str());
  if (fresh < 0) return false;
  bool moved = dup2(fresh, fd) == fd;
  close(fresh);
  // Appends under way since before the exchange are counted in the new file.
  Relearn(fd, true);
  return moved;
}

bool LogFile::Close() {
  if (directory_ >= 0) close(static_cast<int>(std::exchange(directory_, -1)));
  const intptr_t fd = handle_.exchange(-1);
  if (fd < 0) return true;
  return close(static_cast<int>(fd)) == 0;
}

const char* TextLineEnd() { return "\n"; }

// Under the renewal lock: a follow from Append may exchange the folder's
// descriptor meanwhile.
bool LogFile::EndsMidLine(bool settle) {
  LockHold no_renewal_meanwhile(append_lock_);
  if (directory_ < 0) return false;
  int fd = openat(static_cast<int>(directory_), WideToUtf8(path_).c_str(),
                  O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  // A cut stays; an append under way ends within microseconds.
  char last = '\n';
  for (int look = 0; look < (settle ? 3 : 1); ++look) {
    if (look > 0) {
      const timespec pause{0, 1000000};
      nanosleep(&pause, nullptr);
    }
    struct stat st {};
    last = '\n';
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) break;
    if (pread(fd, &last, 1, st.st_size - 1) != 1) last = '\n';
    if (last == '\n') break;
  }
  close(fd);
  return last != '\n';
}

}  // namespace hv::platform
