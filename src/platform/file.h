// An output file for append-style logging.
//
// Ownership: a LogFile owns its handle and closes it on destruction (RAII);
// it can be moved but not copied. Thread-safety: Write may run on several
// threads at once, and each call's bytes land whole at the end of the file
// (the file is opened for appending only, in both modes). On POSIX the
// system's append does that alone; on Windows the writes of one LogFile
// take turns, because an append there is only as atomic as the file system
// makes it (Wine's, and network shares, are not). Open and Close must not
// run alongside anything else.
//
// The file is opened shared for reading and writing by other processes, so
// that an operator can read or rotate it while the host runs. Writes go
// straight to the system (no buffering here), so Flush has nothing to lose.
#ifndef HV_PLATFORM_FILE_H_
#define HV_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>

#include "base/wide.h"
#include "platform/lock.h"

namespace hv::platform {

class LogFile {
 public:
  enum class Mode { kAppend, kTruncate };

  LogFile() = default;
  ~LogFile();
  LogFile(LogFile&& other) noexcept;
  LogFile& operator=(LogFile&& other) noexcept;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens (creating when absent) `path`. Returns false when it cannot be
  // opened; the object then stays closed.
  bool Open(const WString& path, Mode mode);
  bool IsOpen() const;

  // Writes the `size` bytes at the end of the file with one request to the
  // system, so that nobody's bytes land between them. Returns how many the
  // system took: `size` when all, fewer when it took only part (a full
  // disk, a quota, a file-size limit), 0 when none or the file is closed.
  // The rest is not written again: a second request could land after
  // another writer's bytes. A write past the process's file-size limit
  // just fails: it never raises the signal that would end the process
  // (SIGXFSZ on POSIX), whatever the host's disposition of it.
  size_t Write(const char* data, size_t size);

  // Asks the system to push written data to the file. False on failure.
  bool Flush();

  // Closes the handle. False when the close failed; the object is closed in
  // either case.
  bool Close();

 private:
  // A file descriptor on POSIX, a HANDLE on Windows.
  intptr_t handle_ = -1;
  // Serialises Write where appends are not atomic (Windows); not moved.
  Lock append_lock_;
};

// The bytes that end one line in a text file of this platform
// ("\r\n" on Windows, "\n" elsewhere).
const char* TextLineEnd();

// True when the file at `path` holds bytes and its last one is not a line
// feed: it ends in part of a line (a write the system cut short, by this
// process or an earlier one). False when it ends a line, is empty, absent
// or cannot be read.
bool FileEndsMidLine(const WString& path);

}  // namespace hv::platform

#endif  // HV_PLATFORM_FILE_H_
