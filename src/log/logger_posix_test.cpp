// The log against refusals only a POSIX test can stage.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "log/logger.h"
#include "tests/support/temp_dir.h"

namespace hv {
namespace {

using testing::TempDir;
using testing::ToWide;

// The immutable attribute on a file, for as long as it lives: every write
// to it fails, as on a full disk or past a quota.
class Immutable {
 public:
  explicit Immutable(const std::filesystem::path& path) : fd_(open(path.c_str(), O_RDONLY)) {
    set_ = fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags_) == 0 && Apply(flags_ | FS_IMMUTABLE_FL);
  }
  ~Immutable() {
    if (set_) Apply(flags_);
    if (fd_ >= 0) close(fd_);
  }
  bool set() const { return set_; }

 private:
  bool Apply(int flags) { return ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0; }
  int fd_;
  int flags_ = 0;
  bool set_ = false;
};

// Lines of which the system took nothing are counted, and told once a line
// gets through again (they were lost without a word).
TEST(LoggerPosix, LinesTheSystemRefusedAreToldAsDropped) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  HvLogger log(ToWide(path));
  log << HV_W("Before : whole") << LogEndLine;
  {
    Immutable held(path);
    if (!held.set()) GTEST_SKIP() << "no immutable attribute here (it needs root and a file system with it)";
    for (int i = 0; i < 3; ++i) log << HV_W("Refused : ") << LogContinue << i << LogEndLine;
  }
  log << HV_W("After : whole") << LogEndLine;
  const std::string bytes = testing::ReadFileBytes(path);
  EXPECT_EQ(bytes.find("Refused"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("| HvLogger : 3 lines dropped: the log could not be written or started afresh\n"),
            std::string::npos)
      << bytes;
}

}  // namespace
}  // namespace hv
