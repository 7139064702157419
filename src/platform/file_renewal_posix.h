// Starting the POSIX log file afresh (see platform/file.h): the writers'
// cross-process turn and the move of a full file to the earlier
// generation. Internal to file_posix.cpp; the calls report what the system
// did and keep no state but the count that makes names unique.
#ifndef HV_PLATFORM_FILE_RENEWAL_POSIX_H_
#define HV_PLATFORM_FILE_RENEWAL_POSIX_H_

#include <sys/stat.h>

#include <string>

namespace hv::platform {

// The cross-process turn for starting the file afresh: an exclusive flock
// on the open file, which every writer of it takes for the same purpose.
// A writer holds it only for a rename and an open, so it waits about 20 ms
// at most: a reader that locks the file (a log shipper) holds it far
// longer, and the renewal then goes on without it. Following the file
// never takes it.
class RenewalTurn {
 public:
  explicit RenewalTurn(int fd);
  // The descriptor may name a new file by now, which holds no lock of
  // ours; the old file's lock went with its last descriptor.
  ~RenewalTurn();
  RenewalTurn(const RenewalTurn&) = delete;
  RenewalTurn& operator=(const RenewalTurn&) = delete;

 private:
  int fd_;
  bool held_ = false;
};

enum class Move { kMoved, kNotMine, kFailed };

// Makes this writer's full file `name` (in `dirfd`; `mine` its fstat) the
// earlier generation `previous`. kNotMine: the file at the path is no
// longer this writer's (another renewal took it, or there is none);
// kFailed: nothing could be moved, and both generations stay as they were.
Move MoveToEarlierGeneration(int dirfd, const std::string& name, const std::string& previous,
                             const struct stat& mine);

}  // namespace hv::platform

#endif  // HV_PLATFORM_FILE_RENEWAL_POSIX_H_
