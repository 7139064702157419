// An output file for append-style logging, kept below a size limit and
// following the file at its path when an operator renames, removes or
// empties it.
//
// Ownership: a LogFile owns its handles and closes them on destruction
// (RAII); it can be neither copied nor moved. Thread-safety: Append,
// Rotate and Follow may run on several threads at once; Open and Close
// must not run alongside anything else.
//
// Whole lines across processes: each Append's bytes land whole at the end
// of the file, whoever else appends to it. On POSIX the system's append
// (O_APPEND, one write per call) does that alone; on Windows every append
// takes an exclusive lock on one byte of the file far beyond its data
// (LockFileEx), which every writer of the file in every process takes too,
// because an append there is only as atomic as the file system makes it.
// That lock is waited for 100 ms at most: a process that holds it longer
// (a reader taking the same byte) is written past, and for the next second
// appends and renewals take the lock only when it is free at once, so a
// stuck holder never stops logging (lines of one process stay whole then;
// those of two may meet). Rotate takes a cross-process turn too (on POSIX
// an flock on the file's folder, which only writers take, waited for 20 ms
// at most, then for the next second 2 ms; the byte lock on Windows)
// and makes no renewal without it, so that of several processes that find
// the file full only one starts it afresh; Follow takes no turn.
//
// Only a regular file is written: a symbolic link at the path is not
// followed, and a named pipe, a device or a folder there is refused (on
// Windows a reparse point or anything but a disk file), without blocking.
// Open then fails; Rotate and Follow keep the file they had.
//
// Cost: on POSIX an Append is one write request. The size of the file is
// known from this writer's own appends, and learnt again from the system
// every 32 appends, by Rotate, by Follow, and after a write the system cut
// short: another process's lines since then are not counted, so with
// several processes a file may pass its limit by a few dozen lines of each.
// That look also finds a file another process's renewals removed (this
// writer was still on the earlier generation): it is followed then, so at
// most that many lines go to a removed file.
// Under a file-size limit (RLIMIT_FSIZE) an append also blocks the
// limit's signal around its write. On Windows an Append asks for the size under its
// lock: exact there.
//
// The file is opened shared for reading, writing and deleting by other
// processes, so that an operator can read or rotate it while the host runs.
// Writes go straight to the system (no buffering here).
#ifndef HV_PLATFORM_FILE_H_
#define HV_PLATFORM_FILE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/wide.h"
#include "platform/lock.h"

namespace hv::platform {

class LogFile {
 public:
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens (creating when absent) `path` for appending, and remembers its
  // directory (as an absolute path: not the current directory's later
  // changes) and name. False when it cannot be opened or is no regular
  // file; the object then stays closed.
  bool Open(const WString& path);
  bool IsOpen() const;

  // What Append did.
  struct Appended {
    size_t written = 0;  // bytes the system took: all, part, or none
    bool full = false;   // nothing written: the file holds `limit` or more
  };

  // Writes the `size` bytes at the end of the file with one request to the
  // system, so that nobody's bytes land between them, unless the file
  // already holds `limit` bytes or more (so a file passes its limit by at
  // most the one append that finds it below). `written` is fewer than
  // `size` when the system took only part (a full disk, a quota, a
  // file-size limit); the rest is not written again: a second request
  // could land after another writer's bytes. A write past the process's
  // file-size limit just fails: it never raises the signal that would end
  // the process (SIGXFSZ on POSIX), whatever the host's disposition of it;
  // on POSIX that protection costs two more requests, taken for every
  // write while the process has a file-size limit (as read at Open, by
  // Follow, and after a write cut short), none without one.
  Appended Append(const char* data, size_t size, uint64_t limit);

  // Starts the file afresh when it is full: if the file at the path is
  // still this writer's and holds `limit` bytes or more, renames it to
  // `previous_name` in the same directory (replacing the file of that name,
  // even while another process has it open) and opens a new empty file at
  // the path; when it cannot be renamed, the earlier generation stays as it
  // was. A renewal waits for the cross-process turn (100 ms at most on
  // Windows, 20 ms on POSIX) and is not made without it. If the path names
  // another file, or
  // none (another process rotated it, an operator renamed or removed it),
  // opens that one (creating it) instead. Appends of other threads go on
  // meanwhile, each to the old file or the new one, whole. False when
  // nothing could be opened or renamed; the old file stays in use then.
  bool Rotate(const WString& previous_name, uint64_t limit);

  // Follows the file at the path when it is no longer this writer's
  // (renamed, removed, its folder removed and made again), relearns the
  // file's size (emptied by an operator), and reads the process's
  // file-size limit again. For a call about once
  // a second. True when it moved to another file.
  bool Follow();

  // True when the file at this writer's path holds bytes and its last one
  // is not a line feed: it ends in part of a line (a write the system cut
  // short, by this process or another). False when it ends a line, is
  // empty, absent or cannot be read. The path is the one opened, whatever
  // the process's current directory has become since. Another writer's
  // append under way may grow the file a page at a time and make it look
  // cut for a moment: `settle` looks again after a pause (twice, 1 ms
  // each) before it says so, for a look made in the normal course (after
  // a renewal), not one made while the disk refuses writes.
  bool EndsMidLine(bool settle);

  // Closes the handles. False when the close failed; closed in any case.
  bool Close();

 private:
  bool Reopen(const WString* previous_name, uint64_t limit);
  // POSIX: false when the file has no name left (removed).
  bool Relearn(int fd, bool exact);

  // The open file: a file descriptor on POSIX, a HANDLE on Windows.
  std::atomic<intptr_t> handle_{-1};
  // POSIX: the directory's descriptor, so that the path's directory stays
  // the one opened whatever the process's current directory becomes.
  intptr_t directory_ = -1;
  // The path as opened (Windows), or the file's name in its directory.
  WString path_;
  // POSIX: the directory's absolute path, opened again to follow the file.
  WString directory_path_;
  // Until when (in ms of a monotonic clock) the cross-process turn is
  // waited for briefly, after a wait for it timed out: taken only when free
  // at once by appends and renewals on Windows, waited for 2 ms by
  // renewals on POSIX.
  std::atomic<uint64_t> lock_skipped_until_{0};
  // The file's size as this writer knows it.
  std::atomic<uint64_t> size_{0};
  // POSIX: bytes of appends under way (counted, not yet written).
  std::atomic<uint64_t> in_flight_{0};
  // POSIX: appends so far, to learn the size again every so often.
  std::atomic<uint32_t> appends_{0};
  // POSIX: the process's file-size limit as last read (no limit: all ones).
  std::atomic<uint64_t> size_limit_{~uint64_t{0}};
  // Renewals take turns; on Windows appends too, with the handle's renewal.
  Lock append_lock_;
};

// The bytes that end one line in a text file of this platform
// ("\r\n" on Windows, "\n" elsewhere).
const char* TextLineEnd();


}  // namespace hv::platform

#endif  // HV_PLATFORM_FILE_H_
