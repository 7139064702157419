// POSIX: starting the log file afresh (platform/file_renewal_posix.h).
#include "platform/file_renewal_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

namespace hv::platform {

namespace {

constexpr int kTurnWaitMs = 20;
// After a wait that timed out: long enough for a writer that is renewing
// (it holds the turn for microseconds), short for one that stopped.
constexpr int kShortWaitMs = 2;
constexpr uint64_t kTurnSkipMs = 1000;

uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace

RenewalTurn::RenewalTurn(int dirfd, int file_fd, std::atomic<uint64_t>* skipped_until) {
  folder_ = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  locked_ = folder_ >= 0 ? folder_ : file_fd;
  const bool skipping = MonotonicMs() < skipped_until->load(std::memory_order_relaxed);
  const int wait_ms = skipping ? kShortWaitMs : kTurnWaitMs;
  for (int waited = 0;;) {
    if (flock(locked_, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      if (locked_ == file_fd) return;
      locked_ = file_fd;  // a folder that cannot be locked (a network file system)
      continue;
    }
    if (++waited >= wait_ms) {
      if (!skipping) skipped_until->store(MonotonicMs() + kTurnSkipMs, std::memory_order_relaxed);
      return;
    }
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

// The file's descriptor may name a new file by now, which holds no lock of
// ours; the old file's lock went with its last descriptor.
RenewalTurn::~RenewalTurn() {
  if (held_) flock(locked_, LOCK_UN);
  if (folder_ >= 0) close(folder_);
}

// A rename over an existing file makes some file systems (ext4) write the
// renamed file out at once, which held every renewal for about 180 us; so
// the earlier generation is first moved aside and removed once the rename
// is done (about 40 us for all four calls), or put back when the full file
// may not be renamed (append-only), so that it is never lost for nothing.
// One name serves every renewal, as they take turns: one left by a
// process that ended mid-renewal is removed by the next (it holds a
// generation older than the one the renewal keeps). A folder at
// `previous` is left where it is: the rename then fails, as it would have
// over it.
bool MoveToEarlierGeneration(int dirfd, const std::string& name, const std::string& previous) {
  const std::string aside = previous + ".renewing";
  struct stat st {};
  const bool set_aside = fstatat(dirfd, previous.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                         !S_ISDIR(st.st_mode) &&
                         renameat(dirfd, previous.c_str(), dirfd, aside.c_str()) == 0;
  if (renameat(dirfd, name.c_str(), dirfd, previous.c_str()) != 0) {
    if (set_aside) renameat(dirfd, aside.c_str(), dirfd, previous.c_str());
    return false;
  }
  unlinkat(dirfd, aside.c_str(), 0);
  return true;
}

}  // namespace hv::platform
