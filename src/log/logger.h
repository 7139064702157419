// HvLogger: the module's diagnostic log writer, and VerifyLog(), the one
// writer that module code logs to (the module's g_verifyLog, writing
// "verifylog.txt", once the module has loaded).
//
// A line is one append, then for each further piece LogContinue and that
// piece's append, then LogEndLine:
//   VerifyLog() << HV_W("SendVerifyUrl : Navigate status is ") << LogContinue
//               << status << LogEndLine;
// The writer puts "yyyy-mm-dd hh:mm:ss|tttttttt| " before each line and
// writes the whole line to the file at its end, with one append.
//
// Thread-safety: any thread may log. Each thread composes its own open line
// (all pieces of a line, and its LogEndLine, come from the thread that began
// it), and the line reaches the file in one append at its end: lines of
// different threads never mix, and no lock is held while the file is
// written, so a thread never waits for another thread's line. Each writer
// finds a thread's open line through a thread-local slot of its own
// (platform::ThreadSlot), allocated with the writer and released with it.
//
// Errors: nothing here throws or reports an error; a line that runs out of
// memory is dropped whole, and so is a line that an exception interrupts in
// the middle of its chain (a piece whose own value could not be built):
// the thread's next line starts afresh instead of running on after it. A
// line that the system takes only part of (a full disk, a quota, a
// file-size limit) is not completed by a second write; the next line
// written starts with a line end, so that lines never run together. The
// same holds for a file that a writer opens ending in part of a line (cut
// short for an earlier writer). A file that cannot be opened makes every
// line fail silently; a character that the ANSI encoding cannot represent
// drops the rest of its line, and the next line is written normally.
#ifndef HV_LOG_LOGGER_H_
#define HV_LOG_LOGGER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/wide.h"
#include "platform/file.h"
#include "platform/lock.h"
#include "platform/system.h"
#include "platform/thread_slot.h"

namespace hv {

enum LogControl : int32_t {
  LogContinue = 0,   // the next append continues the open line
  LogLastError = 1,  // writes "[" last system error "]", no line start
  LogEndLine = 2,    // ends the line and appends it to the file
};

class HvLogger;

// One chained statement of pieces on a writer (`writer << a << LogContinue
// << b << LogEndLine`), alive until the end of the statement. When an
// exception leaves the statement while the thread's line is still open
// (building `b` ran out of memory after LogContinue), the line is dropped
// whole, so that no stale text, and no pending LogContinue, is left for the
// thread's next line to run on from. A chain that ends normally with its line
// open (a line composed over several statements) leaves it open.
class LogChain {
 public:
  explicit LogChain(HvLogger& writer) noexcept : writer_(writer) {}
  LogChain(const LogChain&) = delete;
  LogChain& operator=(const LogChain&) = delete;
  ~LogChain();

  LogChain& operator<<(LogControl code);
  template <typename T>
  LogChain& operator<<(const T& value);

 private:
  HvLogger& writer_;
};

class HvLogger {
 public:
  // The module's writer: opens "verifylog.txt" in the folder the host
  // named (platform/host_folders.h); when it named none, makes the host
  // executable's directory the process's current directory and opens it
  // there. The file is kept below `limit` bytes (see kRestartSize).
  explicit HvLogger(uint64_t limit = kRestartSize);
  // A writer of `path`, leaving the current directory alone (for tools and
  // tests). The size rule applies to it the same way.
  explicit HvLogger(const WString& path, uint64_t limit = kRestartSize);
  virtual ~HvLogger();

  HvLogger(const HvLogger&) = delete;
  HvLogger& operator=(const HvLogger&) = delete;

  virtual void Control(int32_t code);
  virtual HvLogger& Append(long value);
  virtual HvLogger& Append(unsigned long value);
  virtual HvLogger& Append(int value);
  virtual HvLogger& Append(unsigned int value);
  virtual HvLogger& Append(WChar c);
  virtual HvLogger& Append(const WString& text);
  virtual HvLogger& Append(const WChar* text);

  LogChain operator<<(LogControl code) {
    Control(code);
    return LogChain(*this);
  }
  template <typename T>
  LogChain operator<<(const T& value) {
    Append(value);
    return LogChain(*this);
  }

  // The size rule, at the start and for every line after it: a file that
  // holds `limit` bytes or more (64 KiB unless the host configures another
  // limit) is started afresh before the next line, and what it held is
  // kept as the one earlier generation beside it ("verifylog.1.txt" for
  // "verifylog.txt", replacing the one before), so that a file passes its
  // limit by one line at most (a file that cannot be started afresh drops
  // lines, counted and told in the file once it can be written again) (written by one process; platform/file.h says
  // what several processes add) and the lines just before a restart are
  // never lost. A file renamed, removed or emptied by someone else is
  // followed within about a second: the writer goes on in a new file at
  // the path.
  static constexpr uint64_t kRestartSize = 65536;
  // The limits a host may configure ("VerifyLogLimit", in bytes).
  static constexpr uint64_t kMinLimit = 4096;
  static constexpr uint64_t kMaxLimit = uint64_t{1} << 40;

 private:
  friend class LogChain;
  struct Line;

  // Drops this thread's open line when an exception is on its way out of
  // the chain that ends (see LogChain).
  void EndChain() noexcept;
  void Open(const WString& path);
  platform::LogFile::Appended AppendBytes(const char* data, size_t size, int64_t second, int* stalls,
                                          bool* again);
  void Renew(bool rotate);
  void FollowOnceASecond(int64_t now);
  void TellDropped();
  Line* OpenLine(bool begin);
  Line* LineStart();
  void EndLine();
  void WriteLine(Line* line);
  void WriteLastError();
  void AppendNumber(long long value);
  void AppendNumber(unsigned long long value);
  void AppendText(WStringView text);
  template <class Piece>
  void AppendPiece(Piece&& piece);
  Line* TakeLine();
  void ReturnLine(Line* line);

  platform::LogFile file_;
  bool file_open_ = false;  // set while the writer is built, read-only after
  WString previous_name_;   // the earlier generation's file name
  uint64_t limit_;
  platform::Lock renew_lock_;  // one renewal of the file at a time
  // The second (of the line prefixes) in which the file was last followed.
  std::atomic<int64_t> followed_at_{0};
  platform::ThreadSlot open_line_;  // each thread's open line on this writer
  // Lines dropped because the file was full and could not be renewed,
  // not yet told in the file; the second (as followed_at_) of the last
  // renewal that left it full.
  std::atomic<uint64_t> dropped_{0};
  // Renewals that moved to a new file, by any thread.
  std::atomic<uint64_t> renewals_{0};
  std::atomic<int64_t> renew_failed_at_{-1};
  // The file ends in part of a line that the system cut short.
  std::atomic<bool> fragment_left_{false};
  // The system took nothing of a line (a full disk, a quota): another
  // process may have left part of a line meanwhile, which this one does
  // not know of. Until a line gets through whole, each line looks first.
  std::atomic<bool> others_may_have_cut_{false};
  platform::Lock pool_lock_;  // guards the two line lists only, never a write
  std::vector<std::unique_ptr<Line>> lines_;
  std::vector<Line*> free_lines_;
};

inline LogChain::~LogChain() { writer_.EndChain(); }
inline LogChain& LogChain::operator<<(LogControl code) {
  writer_.Control(code);
  return *this;
}
template <typename T>
LogChain& LogChain::operator<<(const T& value) {
  writer_.Append(value);
  return *this;
}

// The writer that module code logs to. The module points it at its
// load-time writer g_verifyLog and back at unload; until then, afterwards,
// and in programs without the module's load-time objects (unit tests,
// fuzzers, the benchmark) it is a writer that drops every line, unless the
// program points it at a writer of its own.
HvLogger& VerifyLog();
// The limit a host configures as text ("VerifyLogLimit": decimal bytes
// from kMinLimit to kMaxLimit); kRestartSize for anything else, or none.
uint64_t LogLimitSetting(const WString* text);

// Points VerifyLog() at `writer`, or back at the dropping writer for null.
// `writer` must outlive its use; call this while no other thread logs.
void SetVerifyLog(HvLogger* writer);

}  // namespace hv

#endif  // HV_LOG_LOGGER_H_
