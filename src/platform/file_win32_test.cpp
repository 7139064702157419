// The log file on Windows against other processes that hold it, or the
// earlier generation, open.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

HANDLE OpenShared(const std::filesystem::path& path, DWORD share) {
  return CreateFileW(ToWide(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// Starting the full file afresh while another handle is open on the log or
// on its earlier generation. A second process that logged before the last
// renewal keeps the earlier generation open (sharing its deletion) until
// its next line: the renewal must still happen (it failed, and every line
// was dropped until that process wrote again). A viewer that opened the log
// without sharing its deletion stops the renewal, but must not cost the
// earlier generation (it was deleted, and the renewal failed anyway). A
// reader that holds the writers' byte lock stops it too: without that turn
// two processes renewing at once lost the full generation.
TEST(LogFileWin32, ARenewalWithOtherHandlesOpenKeepsEveryGeneration) {
  const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  struct Case {
    const char* what;
    bool hold_earlier;  // else: hold the log itself
    DWORD share;
    bool lock_turn;  // and take the writers' byte lock
    bool renewed;
  } cases[] = {
      {"another writer holds the earlier generation", true, kShareAll, false, true},
      {"a viewer holds the log without sharing deletion", false, FILE_SHARE_READ | FILE_SHARE_WRITE, false, false},
      {"a reader holds the writers' byte lock", false, kShareAll, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const auto path = dir.File("verifylog.txt");
    const auto earlier = dir.File("verifylog.1.txt");
    hv::testing::WriteFileBytes(earlier, "earlier\r\n");
    LogFile file;
    ASSERT_TRUE(file.Open(ToWide(path)));
    const std::string line = "a full line\r\n";
    ASSERT_EQ(file.Append(line.data(), line.size(), 8).written, line.size());
    HANDLE held = OpenShared(c.hold_earlier ? earlier : path, c.share);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    OVERLAPPED turn{};
    turn.Offset = 0xFFFFFFFEu;
    turn.OffsetHigh = 0x7FFFFFFFu;
    if (c.lock_turn) {
      ASSERT_TRUE(LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn));
    }
    const bool renewed = file.Rotate(HV_W("verifylog.1.txt"), 8);
    const std::string after = "after\r\n";
    file.Append(after.data(), after.size(), 1000);
    if (c.lock_turn) UnlockFileEx(held, 0, 1, 0, &turn);
    CloseHandle(held);
    EXPECT_EQ(renewed, c.renewed);
    if (c.renewed) {
      EXPECT_EQ(hv::testing::ReadFileBytes(earlier), line);
      EXPECT_EQ(hv::testing::ReadFileBytes(path), after);
    } else {
      EXPECT_EQ(hv::testing::ReadFileBytes(earlier), "earlier\r\n");
      EXPECT_EQ(hv::testing::ReadFileBytes(path), line + after);
    }
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(ToWide(dir.File("*")).c_str(), &found);
    int files = 0;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
      files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    EXPECT_EQ(files, 2) << "the folder should hold the log and its earlier generation, nothing else";
  }
}

}  // namespace
}  // namespace hv::platform
