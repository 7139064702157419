// The log writer's size rule while it writes, its earlier generation, and a
// file that an operator renames, removes or empties under it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "log/logger.h"
#include "platform/file.h"
#include "platform/system.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace hv {
namespace {

using testing::HasLogPrefix;
using testing::TempDir;
using testing::ToWide;

// The lines of a file, line ends removed; `whole` is false when it ends
// inside a line.
std::vector<std::string> LinesOf(const std::filesystem::path& path, bool* whole = nullptr) {
  std::string bytes = testing::ReadFileBytes(path);
  const std::string end = platform::TextLineEnd();
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t next; (next = bytes.find(end, at)) != std::string::npos; at = next + end.size()) {
    lines.push_back(bytes.substr(at, next - at));
  }
  if (whole != nullptr) *whole = at == bytes.size();
  return lines;
}

// "Line : T N" for thread T's N-th line.
std::string LineText(int thread, int n) {
  return "Line : " + std::to_string(thread) + " " + std::to_string(n);
}

void WriteLines(HvLogger& log, int thread, int from, int to) {
  for (int i = from; i < to; ++i) {
    log << HV_W("Line : ") << LogContinue << thread << LogContinue << HV_W(' ') << LogContinue << i
        << LogEndLine;
  }
}

// Lines past the limit start the file afresh and keep what it held as the
// one earlier generation: no file passes the limit by more than one line,
// and the lines of both files run on without a gap (one thread), whole
// whatever the number of threads.
TEST(LoggerBound, AFullFileStartsAfreshWhileWritingAndKeepsOneEarlierGeneration) {
  const uint64_t kLimit = 4096;
  for (int threads : {1, 8}) {
    TempDir dir;
    auto path = dir.File("verifylog.txt"), earlier = dir.File("verifylog.1.txt");
    const int kLines = 600;
    {
      HvLogger log(ToWide(path), kLimit);
      std::vector<std::thread> writers;
      for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&log, t, threads] { WriteLines(log, t, 0, kLines / threads); });
      }
      for (auto& w : writers) w.join();
    }
    std::vector<std::string> lines;
    for (const auto& file : {earlier, path}) {
      bool whole = false;
      auto some = LinesOf(file, &whole);
      EXPECT_TRUE(whole) << file;
      ASSERT_FALSE(some.empty()) << file << ", threads " << threads;
      // The line that found the file below its limit may pass it.
      EXPECT_LE(testing::ReadFileBytes(file).size(), kLimit + some.back().size() + 2) << threads;
      lines.insert(lines.end(), some.begin(), some.end());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("verifylog.2.txt")));
    ASSERT_GT(lines.size(), kLimit / 50);  // more than one file's worth
    std::vector<int> next(threads, -1);
    for (const std::string& line : lines) {
      ASSERT_TRUE(HasLogPrefix(line)) << line;
      int t = -1, n = -1;
      ASSERT_EQ(std::sscanf(line.c_str() + 30, "Line : %d %d", &t, &n), 2) << line;
      ASSERT_TRUE(t >= 0 && t < threads) << line;
      EXPECT_EQ(line.substr(30), LineText(t, n));
      if (next[t] >= 0) {
        EXPECT_EQ(n, next[t]) << "a line lost between the generations";
      }
      next[t] = n + 1;
    }
    // Older generations are gone; the last line is in the file at the path.
    if (threads == 1) {
      EXPECT_EQ(next[0], kLines);
    }
  }
}

// Appends that find a file full (here: all of them, limit 0) must not move
// its count while other threads fill the file and start it afresh: a count
// left standing after a renewal has every writer find the new, empty file
// full, and those that then write regardless pass the limit by several
// lines.
TEST(LoggerBound, ARenewalAmidAppendsFindingTheFileFullCountsTheNewFileAfresh) {
  const uint64_t kLimit = 4096;
  TempDir dir;
  platform::LogFile file;
  ASSERT_TRUE(file.Open(ToWide(dir.File("verifylog.txt"))));
  const std::string line = std::string(99, 'x') + "\n";
  std::atomic<bool> stop{false};
  std::vector<std::thread> knockers;
  for (int t = 0; t < 4; ++t) {
    knockers.emplace_back([&] {
      while (!stop.load()) file.Append(line.data(), line.size(), 0);
    });
  }
  // A round goes wrong when the file counted full before it was (the
  // renewal then finds it below its limit) or the new file counts full.
  int wrong = 0;
  for (int round = 0; round < 40; ++round) {
    while (!file.Append(line.data(), line.size(), kLimit).full) {
    }
    if (!file.Rotate(HV_W("verifylog.1.txt"), kLimit) || file.Append(line.data(), line.size(), kLimit).full) {
      ++wrong;
    }
  }
  stop = true;
  for (auto& k : knockers) k.join();
  EXPECT_EQ(wrong, 0) << "rounds of 40 in which the count did not follow the file";
}

// An operator (or a rotation tool) renames the file away, removes it, or
// empties it in place while the host runs: the writer follows within about
// a second and goes on in a new file at the path, at its start; a renamed
// file keeps every line written before the rename, and no line is lost.
TEST(LoggerFollow, ALogRenamedRemovedOrEmptiedIsFollowed) {
  enum Action { kRename, kRemove, kEmpty };
  for (Action action : {kRename, kRemove, kEmpty}) {
    TempDir dir;
    auto path = dir.File("verifylog.txt"), moved = dir.File("verifylog-old.txt");
    HvLogger log(ToWide(path));
    WriteLines(log, 0, 0, 1);
    switch (action) {
      case kRename: std::filesystem::rename(path, moved); break;
      case kRemove: std::filesystem::remove(path); break;
      case kEmpty: std::filesystem::resize_file(path, 0); break;
    }
    // Lines every 20 ms until one lands in a file at the path (a second
    // and a little, at most).
    int n = 1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (LinesOf(path).empty() && std::chrono::steady_clock::now() < deadline) {
      WriteLines(log, 0, n, n + 1);
      ++n;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    WriteLines(log, 0, n, n + 1);
    ++n;
    bool whole = false;
    auto now = LinesOf(path, &whole);
    ASSERT_GE(now.size(), 1u) << action;
    EXPECT_TRUE(whole);
    EXPECT_TRUE(HasLogPrefix(now.front())) << "the new file does not start with a line: " << action;
    EXPECT_EQ(now.back().substr(30), LineText(0, n - 1));
    EXPECT_FALSE(std::filesystem::exists(dir.File("verifylog.1.txt"))) << action;
    if (action == kRename) {
      auto before = LinesOf(moved);
      before.insert(before.end(), now.begin(), now.end());
      ASSERT_EQ(before.size(), static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) EXPECT_EQ(before[i].substr(30), LineText(0, i));
    }
  }
}

// Writes lines every 20 ms for `ms` milliseconds (so that the writer
// follows the file at least once), then `burst` lines at once.
void WriteForAWhile(HvLogger& log, int ms, int burst) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int n = 0;
  while (std::chrono::steady_clock::now() < until) {
    WriteLines(log, 0, n, n + 1);
    ++n;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  WriteLines(log, 0, n, n + burst);
}

// Something in the way of starting the file afresh, or something at the
// path that is no regular file: no file grows past its limit by more than
// one line (the writer drops lines instead, and says so once it can write
// again), nothing is written through a symbolic link, and a file renamed
// away is not written past its limit either.
TEST(LoggerBound, AFileThatCannotBeStartedAfreshOrIsNoFileNeverPassesItsLimit) {
  const uint64_t kLimit = 4096, kOneLine = 120;
  enum Case { kEarlierIsFolder, kLinkAtPathWhileWriting, kLinkAtPathAtStart, kFolderAfterRename };
  for (Case c : {kEarlierIsFolder, kLinkAtPathWhileWriting, kLinkAtPathAtStart, kFolderAfterRename}) {
    TempDir dir;
    auto path = dir.File("verifylog.txt"), other = dir.File("other.txt");
    testing::WriteFileBytes(other, "precious\n");
    std::error_code link_error;
    if (c == kEarlierIsFolder) std::filesystem::create_directory(dir.File("verifylog.1.txt"));
    if (c == kLinkAtPathAtStart) std::filesystem::create_symlink(other, path, link_error);
    {
      HvLogger log(ToWide(path), kLimit);
      WriteLines(log, 0, 0, 1);
      if (c == kLinkAtPathWhileWriting) {
        std::filesystem::remove(path);
        std::filesystem::create_symlink(other, path, link_error);
      }
      if (c == kFolderAfterRename) {
        std::filesystem::rename(path, dir.File("rotated.txt"));
        std::filesystem::create_directory(path);
      }
      if (link_error) {
        std::printf("case %d skipped: no symbolic links here (%s)\n", c, link_error.message().c_str());
        continue;
      }
      WriteForAWhile(log, c == kEarlierIsFolder ? 0 : 1200, 400);
      if (c == kEarlierIsFolder) {
        // Once the way is clear, the next second's line starts the file
        // afresh and tells how many lines were dropped.
        std::filesystem::remove(dir.File("verifylog.1.txt"));
        WriteForAWhile(log, 1100, 1);
        std::string now = testing::ReadFileBytes(path);
        EXPECT_NE(now.find(" lines dropped: the log could not be written or started afresh"), std::string::npos)
            << now.substr(0, 200);
      }
    }
    EXPECT_EQ(testing::ReadFileBytes(other).size(), 9u) << "written through a link, case " << c;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      if (entry.is_regular_file() && !entry.is_symlink()) {
        EXPECT_LE(entry.file_size(), kLimit + kOneLine) << entry.path() << ", case " << c;
      }
    }
  }
}

// Two writers of one file: the first's line is cut short by a file-size
// limit, nothing of the other's fits; then both write a line whole.
void LogBesideACutLine(const std::filesystem::path& path) {
  HvLogger cutting(ToWide(path));
  HvLogger other(ToWide(path));
  cutting << HV_W("First : whole") << LogEndLine;
  platform::LimitFileSize(testing::ReadFileBytes(path).size() + 20);
  cutting << HV_W("Cut : this line straddles the limit") << LogEndLine;
  other << HV_W("Lost : nothing of this line fits") << LogEndLine;
  platform::LimitFileSize(0);
  other << HV_W("Other : whole again") << LogEndLine;
  cutting << HV_W("Cutting : whole again") << LogEndLine;
}

// Two processes share the log when the disk fills: the system cuts one's
// line short and takes nothing of the other's. The other's next line
// started right after the fragment it knew nothing of, and the two ran
// together; it now starts on a line of its own. (Two writers of one file
// in this process stand for the two processes; a file-size limit for the
// full disk. In a child process, as the limit is the process's.)
TEST(LoggerShared, AnotherProcesssCutLineIsNotRunIntoAfterAFullDisk) {
  if (!platform::LimitFileSize(0)) GTEST_SKIP() << "no file-size limit on this system";
  TempDir dir;
  const auto path = dir.File("verifylog.txt");
  EXPECT_EXIT((LogBesideACutLine(path), std::exit(0)), ::testing::ExitedWithCode(0), "");
  bool whole = false;
  const std::vector<std::string> lines = LinesOf(path, &whole);
  EXPECT_TRUE(whole);
  // The fragment ended by both writers leaves one empty line.
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].substr(30), "First : whole");
  EXPECT_EQ(lines[1].size(), 20u) << lines[1];
  EXPECT_EQ(lines[2].substr(30), "Other : whole again");
  EXPECT_EQ(lines[3].substr(30), "HvLogger : 1 lines dropped: the log could not be written or started afresh");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5].substr(30), "Cutting : whole again");
  for (size_t i : {size_t{0}, size_t{2}, size_t{3}, size_t{5}}) EXPECT_TRUE(HasLogPrefix(lines[i])) << lines[i];
}

// The log was opened by a relative path; then the host changed its current
// folder to one that holds a file of that name ending in part of a line. A
// renewal of the log judges its own new file, not that one (the new file
// began with an empty line; a fragment of its own could have been left
// unmended).
TEST(LoggerBound, ARenewalAfterTheHostChangedFolderLooksAtItsOwnFile) {
  TempDir home, elsewhere;
  const auto start = std::filesystem::current_path();
  testing::WriteFileBytes(elsewhere.File("verifylog.txt"), "a fragment");
  std::filesystem::current_path(home.path());
  {
    HvLogger log(HV_W("verifylog.txt"), 4096);
    std::filesystem::current_path(elsewhere.path());
    WriteLines(log, 0, 0, 100);  // about 5000 bytes: started afresh once
  }
  std::filesystem::current_path(start);
  ASSERT_TRUE(std::filesystem::exists(home.File("verifylog.1.txt")));
  const std::string now = testing::ReadFileBytes(home.File("verifylog.txt"));
  EXPECT_TRUE(HasLogPrefix(now)) << now.substr(0, 80);
  EXPECT_EQ(testing::ReadFileBytes(elsewhere.File("verifylog.txt")), "a fragment");
}

TEST(LoggerBound, ConfiguredLimitIsTakenWithinItsRangeOnly) {
  struct Case {
    const char16_t* text;
    uint64_t limit;
  };
  const Case cases[] = {
      {nullptr, 65536},      {u"1048576", 1048576}, {u"4096", 4096},         {u"4095", 65536},
      {u"", 65536},          {u"-1", 65536},        {u" 8192", 65536},       {u"8192 ", 65536},
      {u"64k", 65536},       {u"1099511627776", 1099511627776},             {u"1099511627777", 65536},
      {u"99999999999999999999999", 65536},
  };
  for (const Case& c : cases) {
    WString text = c.text == nullptr ? WString() : WString(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    EXPECT_EQ(LogLimitSetting(c.text == nullptr ? nullptr : &text), c.limit)
        << (c.text == nullptr ? "none" : WideToUtf8(text));
  }
}

}  // namespace
}  // namespace hv
