// POSIX: starting the log file afresh (platform/file_renewal_posix.h).
#include "platform/file_renewal_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

namespace hv::platform {
namespace {

// A name for a file of this renewal's own beside `name`: this process's
// number and a count, so that no two renewals, of this process or
// another, ever use the same one.
std::string RenewalName(const std::string& name) {
  static std::atomic<uint32_t> renewals{0};
  return name + "." + std::to_string(getpid()) + "-" +
         std::to_string(renewals.fetch_add(1, std::memory_order_relaxed)) + ".renewing";
}

// Moves `from` back to `to` unless a file is there by now; without the
// system's rename that refuses to replace (some file systems lack it), by
// a link and an unlink. Left where it is otherwise: no lines are lost.
void PutBack(int dirfd, const std::string& from, const std::string& to) {
  if (renameat2(dirfd, from.c_str(), dirfd, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS) return;
  if (linkat(dirfd, from.c_str(), dirfd, to.c_str(), 0) == 0) unlinkat(dirfd, from.c_str(), 0);
}

}  // namespace

RenewalTurn::RenewalTurn(int fd) : fd_(fd) {
  for (int i = 0; i < 20; ++i) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

RenewalTurn::~RenewalTurn() {
  if (held_) flock(fd_, LOCK_UN);
}

// Makes this writer's full file `name` the earlier generation `previous`.
//
// Another process may renew the file between this writer's look at it and
// the rename (the cross-process turn is passed after 20 ms): so the file
// at the path is first taken to a name of this renewal's own, which only
// one renewal can do, and looked at there. Another's (its new file) is put
// back (kNotMine): renamed over the full one, it cost both generations.
//
// A rename over an existing file makes some file systems (ext4) write the
// renamed file out at once, which held every renewal for about 180 us; so
// the earlier generation is first moved aside to a name of its own and
// removed once the rename is done, or put back when the full file may not
// be renamed (append-only), so that it is never lost for nothing. A folder
// at `previous` is left where it is: the rename then fails, as it would
// have over it.
Move MoveToEarlierGeneration(int dirfd, const std::string& name, const std::string& previous,
                             const struct stat& mine) {
  const std::string taken = RenewalName(name);
  if (renameat(dirfd, name.c_str(), dirfd, taken.c_str()) != 0) {
    return errno == ENOENT ? Move::kNotMine : Move::kFailed;
  }
  struct stat st {};
  if (fstatat(dirfd, taken.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_dev != mine.st_dev ||
      st.st_ino != mine.st_ino) {
    PutBack(dirfd, taken, name);
    return Move::kNotMine;
  }
  const std::string aside = RenewalName(previous);
  const bool set_aside = fstatat(dirfd, previous.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                         !S_ISDIR(st.st_mode) &&
                         renameat(dirfd, previous.c_str(), dirfd, aside.c_str()) == 0;
  if (renameat(dirfd, taken.c_str(), dirfd, previous.c_str()) != 0) {
    PutBack(dirfd, taken, name);
    if (set_aside) PutBack(dirfd, aside, previous);
    return Move::kFailed;
  }
  if (set_aside) unlinkat(dirfd, aside.c_str(), 0);
  return Move::kMoved;
}

}  // namespace hv::platform
