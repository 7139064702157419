// FreedBlockScan: looks into every heap block the calling thread frees
// while a scan is armed, for byte patterns that must never be left behind
// in freed memory (a password, its encodings, the enciphered query), and
// counts the blocks that still held one when they were let go.
//
// How blocks are seen: on Linux the test program's own `free` (every
// operator delete, and jsoncpp's string values, end there); on Windows the
// program's own operator new and delete, which keep each block's size in
// front of it (jsoncpp's malloc'd strings are not seen there).
//
// Only the arming thread's frees are scanned, so that a scripted server on
// another thread, which receives the request, is not counted. While any
// scan object exists every thread's freed blocks are also zeroed (after
// the scan): stale bytes of the test's own peers and set-up would
// otherwise turn up again in the unused part of a later block. A test
// that runs several scans keeps one object for its whole length, so that
// its peers' copies are zeroed between them too. Scanning allocates
// nothing. One armed scan at a time.
#ifndef HV_TESTS_SUPPORT_FREED_BLOCK_SCAN_H_
#define HV_TESTS_SUPPORT_FREED_BLOCK_SCAN_H_

#include <cstddef>
#include <string>
#include <vector>

namespace hv::testing {

class FreedBlockScan {
 public:
  // Starts zeroing freed blocks; construct it before the test makes any
  // copy of a secret.
  FreedBlockScan();
  // Arms the scan on this thread for `patterns` (name, bytes).
  void Start(std::vector<std::pair<std::string, std::string>> patterns);
  ~FreedBlockScan();
  FreedBlockScan(const FreedBlockScan&) = delete;
  FreedBlockScan& operator=(const FreedBlockScan&) = delete;

  // Stops scanning; then, for each pattern, the number of freed blocks
  // that held it (only patterns found at least once are listed).
  std::vector<std::pair<std::string, int>> Stop();
  // The number of blocks scanned (to tell that the scan saw anything).
  long blocks() const;
};

// Whether this build can see freed blocks at all.
bool FreedBlockScanAvailable();

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_FREED_BLOCK_SCAN_H_
