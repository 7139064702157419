// Test helpers: a temporary directory removed at the end of the test, and
// small file utilities.
#ifndef HV_TESTS_SUPPORT_TEMP_DIR_H_
#define HV_TESTS_SUPPORT_TEMP_DIR_H_

#include <filesystem>
#include <string>

#include "base/wide.h"

namespace hv::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path File(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The path as the module's wide text.
WString ToWide(const std::filesystem::path& path);

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_TEMP_DIR_H_
