// The log against refusals only a POSIX test can stage.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "log/logger.h"
#include "tests/support/file_flags_posix.h"
#include "tests/support/temp_dir.h"

namespace hv {
namespace {

using testing::TempDir;
using testing::ToWide;

// Lines of which the system took nothing are counted, and told once a line
// gets through again (they were lost without a word).
TEST(LoggerPosix, LinesTheSystemRefusedAreToldAsDropped) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  HvLogger log(ToWide(path));
  log << HV_W("Before : whole") << LogEndLine;
  {
    testing::HeldFileFlag held(path, FS_IMMUTABLE_FL);
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
