// Reads what a log writer added to its file since the capture began, as
// messages without their time and thread prefix, across one restart of the
// file by the size rule (the file's earlier generation, "NAME.1.EXT").
#ifndef HV_TESTS_SUPPORT_LOG_CAPTURE_H_
#define HV_TESTS_SUPPORT_LOG_CAPTURE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace hv::testing {

class LogCapture {
 public:
  // Captures what module code logs through VerifyLog(): the first capture
  // of a test program points it at a writer of a temporary file, which
  // serves every capture of the program.
  LogCapture();
  explicit LogCapture(std::filesystem::path file);

  // Whole lines written since construction, line ends removed.
  std::vector<std::string> Lines() const;
  // The same lines with the prefix removed; a line without a well-formed
  // prefix is returned as "<malformed> " + the line.
  std::vector<std::string> Messages() const;

 private:
  std::filesystem::path file_;
  uint64_t start_ = 0;
  std::string earlier_;  // the earlier generation when the capture began
};

// True when `line` starts with "yyyy-mm-dd hh:mm:ss|tttttttt| ".
bool HasLogPrefix(const std::string& line);

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_LOG_CAPTURE_H_
