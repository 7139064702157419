// Starting the POSIX log file afresh (see platform/file.h): the writers'
// cross-process turn and the move of a full file to the earlier
// generation. Internal to file_posix.cpp; the calls report what the system
// did and keep no state.
#ifndef HV_PLATFORM_FILE_RENEWAL_POSIX_H_
#define HV_PLATFORM_FILE_RENEWAL_POSIX_H_

#include <atomic>
#include <cstdint>
#include <string>

namespace hv::platform {

// The cross-process turn for starting the file afresh: an exclusive flock
// on the log's folder, which every writer of the log takes for that
// purpose only, and for a rename and an open only. A reader that locks the
// file (a log shipper) never holds it. Waited for about 20 ms at most
// (longer means a writer stopped mid-renewal, or another tool locks the
// folder): no renewal is made without it, as two made at once can lose a
// generation. A folder that may not be opened for reading or locked (some
// network file systems lock only files open for writing) is turned on
// with the file's own flock instead. Following the file never takes it.
// After a wait that timed out, the turn is waited for 2 ms at most for the
// next second (`skipped_until`, in ms of the monotonic clock), so that a
// holder that stopped costs one 20 ms wait a second, not one for every
// thread that finds the file full; a writer that is renewing holds it for
// microseconds, and is still waited for.
class RenewalTurn {
 public:
  RenewalTurn(int dirfd, int file_fd, std::atomic<uint64_t>* skipped_until);
  ~RenewalTurn();
  RenewalTurn(const RenewalTurn&) = delete;
  RenewalTurn& operator=(const RenewalTurn&) = delete;
  bool held() const { return held_; }

 private:
  int folder_ = -1;  // owned: the folder opened for reading, to be locked
  int locked_ = -1;  // the descriptor the lock was taken on
  bool held_ = false;
};

// Renames this writer's full file `name` (in `dirfd`) to `previous`, the
// earlier generation, under the turn. False when it could not be renamed;
// both generations stay as they were then.
bool MoveToEarlierGeneration(int dirfd, const std::string& name, const std::string& previous);

}  // namespace hv::platform

#endif  // HV_PLATFORM_FILE_RENEWAL_POSIX_H_
