// The log file's lock on Windows against a process that holds it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "platform/file.h"
#include "tests/support/temp_dir.h"

namespace hv::platform {
namespace {

using hv::testing::TempDir;
using hv::testing::ToWide;

// A reader locks the byte that every writer locks around its append, and
// keeps it: lines are still written, within a bounded wait (the wait had no
// bound, and every logging thread stopped for as long as the reader held it).
TEST(LogFileWin32, AHeldByteLockDoesNotStopAppends) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  LogFile file;
  ASSERT_TRUE(file.Open(ToWide(path)));
  HANDLE reader = CreateFileW(ToWide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFFEu;
  at.OffsetHigh = 0x7FFFFFFFu;
  ASSERT_TRUE(LockFileEx(reader, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
  const std::string line = "a line\r\n";
  auto done = std::async(std::launch::async, [&] {
    size_t written = 0;
    for (int i = 0; i < 20; ++i) written += file.Append(line.data(), line.size(), ~uint64_t{0}).written;
    return written;
  });
  const bool in_time = done.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  UnlockFileEx(reader, 0, 1, 0, &at);  // lets a stuck append go on
  CloseHandle(reader);
  EXPECT_TRUE(in_time) << "appends waited for the lock without a bound";
  EXPECT_EQ(done.get(), 20 * line.size());
}

}  // namespace
}  // namespace hv::platform
