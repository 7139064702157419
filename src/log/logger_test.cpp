// The log writer: file rules at start, line shape, and lines kept whole
// under concurrency and failure.
#include "log/logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/host_folders.h"
#include "platform/path.h"
#include "platform/system.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace hv {
namespace {

using ::testing::ElementsAre;
using testing::HasLogPrefix;
using testing::LogCapture;
using testing::TempDir;
using testing::ToWide;

TEST(LoggerFile, MissingFileIsCreated) {
  TempDir dir;
  {
    HvLogger log(ToWide(dir.File("verifylog.txt")));
    log << HV_W("first") << LogEndLine;
  }
  std::string bytes = testing::ReadFileBytes(dir.File("verifylog.txt"));
  EXPECT_EQ(bytes.substr(30), std::string("first") + platform::TextLineEnd());
}

TEST(LoggerFile, FileBelow64KiBIsAppendedAndAt64KiBIsStartedAfreshKeepingItsLines) {
  for (uint64_t size : {HvLogger::kRestartSize - 1, HvLogger::kRestartSize}) {
    TempDir dir;
    auto path = dir.File("verifylog.txt");
    testing::WriteFileBytes(path, std::string(size - 1, 'x') + "\n");  // whole lines
    {
      HvLogger log(ToWide(path));
      log << HV_W("next") << LogEndLine;
    }
    std::string bytes = testing::ReadFileBytes(path);
    std::string line_end = platform::TextLineEnd();
    bool kept = size < HvLogger::kRestartSize;
    EXPECT_EQ(bytes.size(), (kept ? size : 0) + 30 + 4 + line_end.size()) << size;
    EXPECT_EQ(bytes.substr(bytes.size() - 4 - line_end.size()), "next" + line_end);
    // What a file started afresh held is kept beside it.
    auto earlier = dir.File("verifylog.1.txt");
    EXPECT_EQ(testing::ReadFileBytes(earlier).size(), kept ? 0 : size) << size;
  }
}

TEST(LoggerLine, PrefixHasZeroFilledFieldsAndTheThread) {
  TempDir dir;
  auto path = dir.File("log.txt");
  HvLogger log(ToWide(path));
  log << HV_W("StartVerify : start...") << LogEndLine;
  std::string bytes = testing::ReadFileBytes(path);
  ASSERT_TRUE(HasLogPrefix(bytes)) << bytes;
  char thread[16];
  std::snprintf(thread, sizeof thread, "|%08lu| ",
                static_cast<unsigned long>(platform::CurrentThreadId()));
  EXPECT_EQ(bytes.substr(19, 11), thread);
  EXPECT_EQ(bytes.substr(30), std::string("StartVerify : start...") + platform::TextLineEnd());
}

TEST(LoggerLine, TextAndNumberMakeOneLineWithOnePrefix) {
  TempDir dir;
  auto path = dir.File("log.txt");
  LogCapture capture(path);
  HvLogger log(ToWide(path));
  log << HV_W("SendVerifyUrl : Navigate status is ") << LogContinue << 200 << LogEndLine;
  log << HV_W("n ") << LogContinue << -5L << LogContinue << HV_W(' ') << LogContinue
      << 4294967295u << LogEndLine;
  EXPECT_THAT(capture.Messages(),
              ElementsAre("SendVerifyUrl : Navigate status is 200", "n -5 4294967295"));
}

TEST(LoggerLine, LastErrorIsWrittenWithoutPrefix) {
  TempDir dir;
  auto path = dir.File("log.txt");
  HvLogger log(ToWide(path));
  log << LogLastError;
  log << HV_W("after") << LogEndLine;
  std::string bytes = testing::ReadFileBytes(path);
  ASSERT_EQ(bytes[0], '[');
  size_t close = bytes.find(']');
  ASSERT_NE(close, std::string::npos);
  EXPECT_TRUE(HasLogPrefix(bytes.substr(close + 1))) << bytes;
}

TEST(LoggerLine, UnrepresentableCharacterDropsTheRestOfItsLineOnly) {
  TempDir dir;
  auto path = dir.File("log.txt");
  LogCapture capture(path);
  HvLogger log(ToWide(path));
  WString broken = HV_W("kept ");
  broken.push_back(static_cast<WChar>(0xD800));  // a lone surrogate converts nowhere
  broken += HV_W("lost");
  log << broken << LogContinue << 7 << LogEndLine;
  log << HV_W("next line") << LogEndLine;
  EXPECT_THAT(capture.Messages(), ElementsAre("kept ", "next line"));
}

// Every thread's lines arrive whole, in its own order, and none is lost or
// overwritten by another thread's line written at the same moment.
TEST(LoggerConcurrency, LinesOfManyThreadsAreWholeInOrderAndNoneLost) {
  TempDir dir;
  auto path = dir.File("log.txt");
  LogCapture capture(path);
  const int kThreads = 8, kLines = 400;
  {
    HvLogger log(ToWide(path), uint64_t{1} << 30);  // one file for all lines
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&log, t] {
        WString name = HV_W("thread-") + WString(1, static_cast<WChar>('a' + t)) + HV_W(" ");
        for (int i = 0; i < kLines; ++i) {
          log << name << LogContinue << i << LogContinue << HV_W(" end") << LogEndLine;
        }
      });
    }
    for (auto& w : writers) w.join();
  }
  auto messages = capture.Messages();
  ASSERT_EQ(messages.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& m : messages) {
    ASSERT_EQ(m.rfind("thread-", 0), 0u) << m;
    int t = m[7] - 'a';
    ASSERT_TRUE(t >= 0 && t < kThreads) << m;
    EXPECT_EQ(m.substr(9), std::to_string(next[t]) + " end") << m;
    ++next[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}

// Each thread composes its own line: one whose line stays open (a caller
// stalled mid-line) holds up nobody, and its line still arrives whole.
TEST(LoggerConcurrency, AnOpenLineHoldsUpNoOtherThread) {
  TempDir dir;
  auto path = dir.File("log.txt");
  LogCapture capture(path);
  HvLogger log(ToWide(path));
  log << HV_W("slow ") << LogContinue;
  std::thread other([&log] {
    for (int i = 0; i < 3; ++i) log << HV_W("other ") << LogContinue << i << LogEndLine;
  });
  other.join();
  log << HV_W("done") << LogEndLine;
  EXPECT_THAT(capture.Messages(), ElementsAre("other 0", "other 1", "other 2", "slow done"));
}

// A piece whose value is built inside the chain (a converted text) may run
// out of memory after LogContinue: the exception leaves the line open. The
// line is dropped whole; the thread's next line starts on its own, with its
// own prefix, instead of running on after the stale text.
TEST(LoggerFailure, ALineAbandonedByAnExceptionIsDroppedNotGluedToTheNext) {
  TempDir dir;
  auto path = dir.File("log.txt");
  LogCapture capture(path);
  HvLogger log(ToWide(path));
  auto no_memory = []() -> WString { throw std::bad_alloc(); };
  EXPECT_THROW(log << HV_W("Stage : setting is malformed (") << LogContinue << no_memory()
                   << LogContinue << HV_W(")!") << LogEndLine,
               std::bad_alloc);
  log << HV_W("Stage : out of memory!") << LogEndLine;
  // A line composed over several statements still stays open between them.
  log << HV_W("Slow : ") << LogContinue;
  log << 7 << LogEndLine;
  EXPECT_THAT(capture.Messages(), ElementsAre("Stage : out of memory!", "Slow : 7"));
  std::string bytes = testing::ReadFileBytes(path);
  EXPECT_TRUE(HasLogPrefix(bytes)) << bytes;
}

TEST(LoggerFailure, FileThatCannotBeOpenedNeverBlocksLaterLines) {
  TempDir dir;
  // The name is taken by a directory, so the file cannot be opened.
  std::filesystem::create_directory(dir.File("verifylog.txt"));
  HvLogger log(ToWide(dir.File("verifylog.txt")));
  auto start = std::chrono::steady_clock::now();
  std::thread other([&log] {
    for (int i = 0; i < 100; ++i) log << HV_W("other") << LogContinue << i << LogEndLine;
  });
  for (int i = 0; i < 100; ++i) log << HV_W("main") << LogEndLine;
  other.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Logs a whole line with the file limited to 20 bytes more (the limit set
// before the writer opens the file, or after), logs a line that straddles
// the limit and one that finds no room at all (its write fails with EFBIG),
// lifts the limit and logs two more lines. False when the system has no
// file-size limit.
bool LogAcrossAFileSizeLimit(const std::filesystem::path& path, bool limit_first) {
  struct Unlimit {
    ~Unlimit() { platform::LimitFileSize(0); }
  } unlimit;
  const uint64_t first = 30 + 13 + std::strlen(platform::TextLineEnd());
  if (limit_first && !platform::LimitFileSize(first + 20)) return false;
  HvLogger log(ToWide(path));
  log << HV_W("First : whole") << LogEndLine;
  if (!limit_first && !platform::LimitFileSize(testing::ReadFileBytes(path).size() + 20)) return false;
  log << HV_W("Cut : this line straddles the limit") << LogEndLine;
  log << HV_W("Lost : nothing of this line fits") << LogEndLine;
  if (!platform::LimitFileSize(0)) return false;
  log << HV_W("Next : whole again") << LogEndLine;
  log << HV_W("Last : whole") << LogContinue << 7 << LogEndLine;
  return true;
}

// The file LogAcrossAFileSizeLimit leaves: whole lines, the cut line's
// fragment standing alone, and the line that found no room told as dropped
// after the first line written again.
void ExpectWholeLinesAroundTheFragment(const std::filesystem::path& path) {
  std::string bytes = testing::ReadFileBytes(path);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string text = bytes.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    lines.push_back(text);
  }
  EXPECT_EQ(start, bytes.size()) << "the file ends inside a line";
  ASSERT_EQ(lines.size(), 5u) << bytes;
  EXPECT_EQ(lines[0].substr(30), "First : whole");
  // The fragment stands alone: 20 bytes of the cut line's prefix.
  ASSERT_EQ(lines[1].size(), 20u);
  const std::string shape = "dddd-dd-dd dd:dd:dd|";
  for (size_t i = 0; i < shape.size(); ++i) {
    char c = lines[1][i];
    EXPECT_TRUE(shape[i] == 'd' ? c >= '0' && c <= '9' : c == shape[i]) << lines[1];
  }
  for (size_t i : {size_t{0}, size_t{2}, size_t{3}, size_t{4}}) {
    EXPECT_TRUE(HasLogPrefix(lines[i])) << lines[i];
    EXPECT_EQ(lines[i].find('|', 30), std::string::npos) << "two lines run together: " << lines[i];
  }
  EXPECT_EQ(lines[2].substr(30), "Next : whole again");
  EXPECT_EQ(lines[3].substr(30), "HvLogger : 1 lines dropped: the log could not be written or started afresh");
  EXPECT_EQ(lines[4].substr(30), "Last : whole7");
}

// A full disk, a quota or a file-size limit: the system takes part of a
// line, then nothing. The fragment is not completed by a second write; the
// next line that gets through starts on a line of its own.
TEST(LoggerFailure, ALineCutShortLeavesTheNextLinesWhole) {
  TempDir dir;
  auto path = dir.File("log.txt");
  if (!LogAcrossAFileSizeLimit(path, false)) GTEST_SKIP() << "no file-size limit on this system";
  ExpectWholeLinesAroundTheFragment(path);
}

// A host that keeps the system's default action for a write past the
// file-size limit (on POSIX, SIGXFSZ ends the process) must survive the
// module's log writes there: they just fail, whether the host set the limit
// before the module opened its log or after. In a child process, so that
// the fault ends the child rather than the test run.
TEST(LoggerFailure, AWritePastTheFileSizeLimitKillsTheHost) {
  if (!platform::LimitFileSize(0)) GTEST_SKIP() << "no file-size limit on this system";
  for (bool limit_first : {true, false}) {
    TempDir dir;
    auto path = dir.File("log.txt");
    EXPECT_EXIT(std::exit(LogAcrossAFileSizeLimit(path, limit_first) ? 0 : 1),
                ::testing::ExitedWithCode(0), "")
        << (limit_first ? "limit set before the log opened" : "limit set after");
    ExpectWholeLinesAroundTheFragment(path);
  }
}

// Logs a line that fills the file to a file-size limit and one that finds
// no room (dropped), raises the limit to let the next line through with 20
// bytes of the notice of the dropped line, lifts it and logs one more.
void LogANoticeCutShort(const std::filesystem::path& path) {
  const size_t end = std::strlen(platform::TextLineEnd());
  const uint64_t first = 30 + 13 + end;
  const uint64_t next = 30 + 18 + end;
  platform::LimitFileSize(first);
  HvLogger log(ToWide(path));
  log << HV_W("First : whole") << LogEndLine;
  log << HV_W("Lost : no room") << LogEndLine;
  platform::LimitFileSize(first + next + 20);
  log << HV_W("Next : whole again") << LogEndLine;
  platform::LimitFileSize(0);
  log << HV_W("Last : whole") << LogEndLine;
}

// The notice of dropped lines is cut short itself (a file-size limit falls
// inside it): the next line starts on a line of its own (it ran into the
// notice), and the notice is told again. In a child process, as above.
TEST(LoggerFailure, ANoticeCutShortLeavesTheNextLineWhole) {
  if (!platform::LimitFileSize(0)) GTEST_SKIP() << "no file-size limit on this system";
  TempDir dir;
  auto path = dir.File("log.txt");
  EXPECT_EXIT((LogANoticeCutShort(path), std::exit(0)), ::testing::ExitedWithCode(0), "");
  const size_t end = std::strlen(platform::TextLineEnd());
  const std::string bytes = testing::ReadFileBytes(path);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = bytes.find(platform::TextLineEnd(), start)) != std::string::npos; start = at + end) {
    lines.push_back(bytes.substr(start, at - start));
  }
  // The cut notice is told again, whole, after the next line.
  ASSERT_EQ(lines.size(), 5u) << bytes;
  EXPECT_EQ(lines[0].substr(30), "First : whole");
  EXPECT_EQ(lines[1].substr(30), "Next : whole again");
  EXPECT_EQ(lines[2].size(), 20u) << lines[2];
  EXPECT_EQ(lines[3].substr(30), "Last : whole") << lines[3];
  EXPECT_EQ(lines[4].substr(30), "HvLogger : 1 lines dropped: the log could not be written or started afresh");
}

// A full disk cut the last line of an earlier writer (an earlier load of
// the module, or another process): the file ends without a line end. The
// next writer's first line starts on a line of its own; a file that ends
// a line gets no empty line.
TEST(LoggerFailure, ANewWriterDoesNotAppendItsFirstLineToAFragmentLeftInTheFile) {
  const std::string line_end = platform::TextLineEnd();
  for (bool cut : {true, false}) {
    TempDir dir;
    auto path = dir.File("verifylog.txt");
    const std::string earlier = "2026-12-10 01:42:53|00016488| Earlier : whole" + line_end;
    testing::WriteFileBytes(path, earlier + (cut ? "2026-12-10 0" : ""));
    {
      HvLogger log(ToWide(path));
      log << HV_W("StartVerify : start...") << LogEndLine;
      log << HV_W("StartVerify : end!") << LogEndLine;
    }
    std::string bytes = testing::ReadFileBytes(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find(line_end, start)) != std::string::npos;
         start = end + line_end.size()) {
      lines.push_back(bytes.substr(start, end - start));
    }
    EXPECT_EQ(start, bytes.size()) << "the file ends inside a line";
    ASSERT_EQ(lines.size(), cut ? 4u : 3u) << bytes;
    if (cut) {
      EXPECT_EQ(lines[1], "2026-12-10 0");
    }
    for (size_t i : {size_t{0}, lines.size() - 2, lines.size() - 1}) {
      EXPECT_TRUE(HasLogPrefix(lines[i])) << lines[i];
      EXPECT_EQ(lines[i].find('|', 30), std::string::npos) << "two lines run together: " << lines[i];
    }
    EXPECT_EQ(lines[lines.size() - 2].substr(30), "StartVerify : start...");
  }
}

TEST(LoggerModule, DefaultWriterEntersTheExecutableDirectory) {
  WString dir = platform::ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  dir.pop_back();
  TempDir elsewhere;
  std::filesystem::current_path(elsewhere.path());
  HvLogger log;
  EXPECT_EQ(ToWide(std::filesystem::current_path()), dir);
  EXPECT_TRUE(std::filesystem::exists("verifylog.txt"));
}

// A packaged host names /var/log/hvverifysp: the log must go there, and the
// writer must not move the host into its executable's folder (/usr/bin).
TEST(LoggerModule, AFolderTheHostNamesGetsTheLogAndTheCurrentFolderStays) {
  TempDir named, elsewhere;
  if (!platform::NameHostFolder(platform::HostFolder::kLog, ToWide(named.path()))) {
    GTEST_SKIP() << "the module keeps its log beside the host on this platform";
  }
  std::filesystem::current_path(elsewhere.path());
  {
    HvLogger log;
    log << HV_W("line") << LogEndLine;
  }
  platform::NameHostFolder(platform::HostFolder::kLog, WString());
  EXPECT_EQ(std::filesystem::current_path(), elsewhere.path());
  EXPECT_FALSE(std::filesystem::exists(elsewhere.File("verifylog.txt")));
  EXPECT_NE(testing::ReadFileBytes(named.File("verifylog.txt")).find("line"), std::string::npos);
  std::filesystem::current_path(named.path().parent_path());
}

}  // namespace
}  // namespace hv
