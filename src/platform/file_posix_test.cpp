// The log file against what a POSIX system may put in its way: a named pipe
// at its path, a reader's flock, a file-size limit with another process's
// appends, the log's folder removed and made again.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <utility>

#include "platform/file.h"
#include "tests/support/file_flags_posix.h"
#include "tests/support/temp_dir.h"

namespace hv::platform {
namespace {

using hv::testing::TempDir;
using hv::testing::ToWide;
using Clock = std::chrono::steady_clock;

// The next look at "verifylog.txt" by name (fstatat, as a renewal makes
// before it moves the file) runs `then` just after it: another process's
// whole renewal, made at the worst moment. The test binary's fstatat comes
// before the C library's, so the writer's own call lands here.
std::function<void()> after_look;

void RunAfterLookingAtTheLog(std::function<void()> then) { after_look = std::move(then); }

}  // namespace
}  // namespace hv::platform

extern "C" int fstatat(int dirfd, const char* name, struct stat* st, int flags) {
  using Fstatat = int (*)(int, const char*, struct stat*, int);
  static const auto next = reinterpret_cast<Fstatat>(dlsym(RTLD_NEXT, "fstatat"));
  const int rc = next(dirfd, name, st, flags);
  if (hv::platform::after_look && std::string(name) == "verifylog.txt") {
    const int error = errno;
    std::exchange(hv::platform::after_look, nullptr)();
    errno = error;
  }
  return rc;
}

namespace hv::platform {
namespace {

// A named pipe at the path, with no reader: Open and Follow return at once
// and write nothing into it (a blocking open never returned, and hung the
// module's load or every logging thread).
TEST(LogFilePosix, ANamedPipeAtThePathNeverBlocks) {
  for (bool at_open : {true, false}) {
    TempDir dir;
    const auto path = dir.File("verifylog.txt");
    LogFile file;
    if (!at_open) {
      ASSERT_TRUE(file.Open(ToWide(path)));
    }
    std::filesystem::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    auto done = std::async(std::launch::async, [&] {
      return at_open ? file.Open(ToWide(path)) : file.Follow();
    });
    const bool in_time = done.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    if (!in_time) close(open(path.c_str(), O_RDONLY | O_NONBLOCK));  // lets a stuck open go on
    EXPECT_TRUE(in_time) << (at_open ? "Open" : "Follow") << " blocked on a named pipe";
    EXPECT_FALSE(done.get()) << "a named pipe taken for the log";
  }
}

// Another process's exclusive flock on the log (a shipper that locks what
// it reads) does not hold up following the file: each Follow waited up to
// 2 s for it, and a writer follows about once a second.
TEST(LogFilePosix, AReadersFlockDoesNotHoldUpFollowing) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  LogFile file;
  ASSERT_TRUE(file.Open(ToWide(path)));
  const int reader = open(path.c_str(), O_RDONLY);  // its own open file: locks conflict
  ASSERT_EQ(flock(reader, LOCK_EX | LOCK_NB), 0);
  const auto start = Clock::now();
  for (int i = 0; i < 3; ++i) file.Follow();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
  close(reader);
}

// Under a file-size limit, another writer fills the file up to that limit
// (this writer's count still says empty): the next append fails and the
// process lives (its write was unguarded and SIGXFSZ ended the process).
TEST(LogFilePosix, AFileGrownToTheSizeLimitByAnotherWriterDoesNotEndTheProcess) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  struct rlimit before {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  const rlim_t kCap = 4u << 20;
  if (before.rlim_max != RLIM_INFINITY && before.rlim_max < kCap) GTEST_SKIP() << "hard limit too low";
  struct rlimit capped = before;
  capped.rlim_cur = kCap;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
  LogFile file;
  const bool opened = file.Open(ToWide(path));
  const int other = open(path.c_str(), O_WRONLY | O_APPEND);
  const std::string block(kCap, 'x');
  const bool filled = other >= 0 && write(other, block.data(), block.size()) == ssize_t(kCap);
  const std::string line = "a line\n";
  const auto appended = file.Append(line.data(), line.size(), ~uint64_t{0});
  if (other >= 0) close(other);
  setrlimit(RLIMIT_FSIZE, &before);
  ASSERT_TRUE(opened && filled);
  EXPECT_EQ(appended.written, 0u);
}

// The log's folder is removed with its files and made again: the writer
// follows into the new folder (it kept the old folder's descriptor and
// wrote on into a deleted file that no one could see).
TEST(LogFilePosix, ALogFolderRemovedAndMadeAgainIsFollowed) {
  TempDir dir;
  const auto folder = dir.File("logs"), path = folder / "verifylog.txt";
  std::filesystem::create_directory(folder);
  LogFile file;
  ASSERT_TRUE(file.Open(ToWide(path)));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directory(folder);
  EXPECT_TRUE(file.Follow());
  const std::string line = "a line\n";
  EXPECT_EQ(file.Append(line.data(), line.size(), ~uint64_t{0}).written, line.size());
  EXPECT_EQ(hv::testing::ReadFileBytes(path), line);
}


// Another process renews the log twice while this writer is still on the
// file the first renewal made the earlier generation: the second removes
// it. This writer follows within a few dozen appends (every line went to
// the removed file, seen by no one, until the next second's follow).
TEST(LogFilePosix, AWriterLeftOnARemovedGenerationFollowsSoon) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  const WString earlier = HV_W("verifylog.1.txt");
  LogFile other, mine;
  ASSERT_TRUE(other.Open(ToWide(path)));
  ASSERT_TRUE(mine.Open(ToWide(path)));
  const std::string full(5000, 'x');
  for (int renewal = 0; renewal < 2; ++renewal) {
    ASSERT_EQ(other.Append(full.data(), full.size(), 4096).written, full.size());
    ASSERT_TRUE(other.Rotate(earlier, 4096));
  }
  const std::string line = "mine\n";
  for (int i = 0; i < 64; ++i) mine.Append(line.data(), line.size(), ~uint64_t{0});
  const std::string now = hv::testing::ReadFileBytes(path);
  size_t kept = 0;
  for (size_t at = 0; (at = now.find(line, at)) != std::string::npos; at += line.size()) ++kept;
  EXPECT_GE(kept, 32u);
}

// A full file that may not be renamed (append-only, as an administrator
// may make it): starting it afresh fails and the earlier generation stays.
// Removing the earlier generation before the rename, to spare ext4 the
// write-out that a rename over a file starts, lost it here.
TEST(LogFilePosix, AFullFileThatCannotBeRenamedKeepsTheEarlierGeneration) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt"), earlier = dir.File("verifylog.1.txt");
  const WString earlier_name = ToWide(earlier.filename());
  hv::testing::WriteFileBytes(earlier, "earlier\n");
  LogFile file;
  ASSERT_TRUE(file.Open(ToWide(path)));
  const std::string full(5000, 'x');
  ASSERT_EQ(file.Append(full.data(), full.size(), 4096).written, full.size());
  {
    hv::testing::HeldFileFlag held(path, FS_APPEND_FL);
    if (!held.set()) GTEST_SKIP() << "no append-only attribute here (it needs root and a file system with it)";
    EXPECT_FALSE(file.Rotate(earlier_name, 4096));
  }
  EXPECT_EQ(hv::testing::ReadFileBytes(earlier), "earlier\n");
  // Once it may be renamed, it is, and nothing is left beside the two files.
  EXPECT_TRUE(file.Rotate(earlier_name, 4096));
  EXPECT_EQ(hv::testing::ReadFileBytes(earlier), full);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// Two processes find the log full at once while a log shipper holds the
// file's flock: the other tries to renew the log just after this one has
// looked at the file at the path and found its own. Only this one renews
// it, and the full file becomes the earlier generation; the other follows
// the new file. (The turn was the file's flock, passed after 20 ms while
// the shipper held it: the other renewed too, and this one then renamed
// the other's new file over the full one and removed it.)
TEST(LogFilePosix, TwoRenewalsPastAShippersLockKeepTheFullGeneration) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt"), earlier = dir.File("verifylog.1.txt");
  const std::string full(5000, 'x');
  hv::testing::WriteFileBytes(path, full);
  hv::testing::WriteFileBytes(earlier, "earlier\n");
  LogFile mine, other;
  ASSERT_TRUE(mine.Open(ToWide(path)) && other.Open(ToWide(path)));
  const int shipper = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(flock(shipper, LOCK_EX | LOCK_NB), 0);
  RunAfterLookingAtTheLog([&] { EXPECT_FALSE(other.Rotate(HV_W("verifylog.1.txt"), 4096)); });
  EXPECT_TRUE(mine.Rotate(HV_W("verifylog.1.txt"), 4096));
  EXPECT_TRUE(other.Rotate(HV_W("verifylog.1.txt"), 4096));  // the next try follows
  close(shipper);
  EXPECT_TRUE(hv::testing::ReadFileBytes(earlier) == full) << "the full generation was lost";
  const std::string line = "a line\n";
  EXPECT_EQ(mine.Append(line.data(), line.size(), 4096).written, line.size());
  EXPECT_EQ(other.Append(line.data(), line.size(), 4096).written, line.size());
  EXPECT_EQ(hv::testing::ReadFileBytes(path), line + line);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// A process stopped while it held the writers' turn (or a tool that locks
// the log's folder): renewals are not made meanwhile, and they cost one
// wait a second, not one for every try (each thread that found the file
// full waited 20 ms, up to twice, every second). Released, the turn is
// taken at once.
TEST(LogFilePosix, AHeldTurnCostsOneWaitASecondAndNoRenewal) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  const std::string full(5000, 'x');
  hv::testing::WriteFileBytes(path, full);
  LogFile file;
  ASSERT_TRUE(file.Open(ToWide(path)));
  const int holder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  const auto start = Clock::now();
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(file.Rotate(HV_W("verifylog.1.txt"), 4096));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_TRUE(hv::testing::ReadFileBytes(path) == full);
  close(holder);
  EXPECT_TRUE(file.Rotate(HV_W("verifylog.1.txt"), 4096));
  EXPECT_TRUE(hv::testing::ReadFileBytes(dir.File("verifylog.1.txt")) == full);
}

// A process ended between the two renames of a renewal: the earlier
// generation is left under the set-aside name, and no verifylog.1.txt.
// The next renewal removes it (it stayed beside the two generations).
TEST(LogFilePosix, ASetAsideFileLeftByAnEndedRenewalIsRemovedByTheNext) {
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  const std::string full(5000, 'x');
  hv::testing::WriteFileBytes(path, full);
  hv::testing::WriteFileBytes(dir.File("verifylog.1.txt.renewing"), "older\n");
  LogFile file;
  ASSERT_TRUE(file.Open(ToWide(path)));
  EXPECT_TRUE(file.Rotate(HV_W("verifylog.1.txt"), 4096));
  EXPECT_TRUE(hv::testing::ReadFileBytes(dir.File("verifylog.1.txt")) == full);
  EXPECT_FALSE(std::filesystem::exists(dir.File("verifylog.1.txt.renewing")));
}

}  // namespace
}  // namespace hv::platform
