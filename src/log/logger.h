// HvLogger: the module's diagnostic log writer, and VerifyLog(), the one
// writer that module code logs to (the module's g_verifyLog, writing
// "verifylog.txt", once the module has loaded).
//
// A line is one append, then for each further piece LogContinue and that
// piece's append, then LogEndLine:
//   VerifyLog() << HV_W("SendVerifyUrl : Navigate status is ") << LogContinue
//               << status << LogEndLine;
// The writer puts "yyyy-mm-dd hh:mm:ss|tttttttt| " before each line and
// writes the whole line to the file at its end.
//
// Thread-safety: any thread may log. The first append of a line takes the
// line lock and LogEndLine releases it, so lines of different threads never
// mix; all pieces of one line must come from the thread that began it.
//
// Errors: nothing here throws or reports an error; a line that runs out of
// memory is dropped whole. A file that cannot be opened makes every line fail silently; a
// character that the ANSI encoding cannot represent drops the rest of its
// line, and the next line is written normally.
#ifndef HV_LOG_LOGGER_H_
#define HV_LOG_LOGGER_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/wide.h"
#include "platform/file.h"

namespace hv {

enum LogControl : int32_t {
  LogContinue = 0,   // the next append continues the open line
  LogLastError = 1,  // writes "[" last system error "]", no line start
  LogEndLine = 2,    // ends the line, writes and flushes it
};

class HvLogger {
 public:
  // The module's writer: makes the host executable's directory the
  // process's current directory, then opens "verifylog.txt" there.
  HvLogger();
  // A writer of `path`, leaving the current directory alone (for tools and
  // tests). The 64 KiB rule applies to it the same way.
  explicit HvLogger(const WString& path);
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

  HvLogger& operator<<(LogControl code) { Control(code); return *this; }
  template <typename T>
  HvLogger& operator<<(const T& value) { return Append(value); }

  // A file at or above this size when the writer starts is emptied first.
  static constexpr uint64_t kRestartSize = 65536;

 private:
  // The stream's error state, as a standard stream keeps it.
  enum State : unsigned { kGood = 0, kFail = 1, kBad = 2 };

  void Open(const WString& path);
  bool LineStart();
  void EndLine();
  void WriteLastError();
  void AppendNumber(long long value);
  void AppendNumber(unsigned long long value);
  void AppendText(WStringView text);
  template <class Piece>
  void AppendPiece(Piece&& piece);
  bool HoldsLock() const;
  void Lock();
  void Unlock();

  platform::LogFile file_;
  std::atomic<bool> continuation_{false};
  std::mutex line_mutex_;
  std::atomic<uint32_t> owner_{0};  // thread holding the line, 0 when none
  unsigned state_ = kGood;          // guarded by the line lock
  bool line_begun_ = false;         // a prefix was written for the open line
  bool line_lost_ = false;          // a piece of the open line found no memory
  std::string line_;                // bytes of the open line
};

// The writer that module code logs to. The module points it at its
// load-time writer g_verifyLog and back at unload; until then, afterwards,
// and in programs without the module's load-time objects (unit tests,
// fuzzers, the benchmark) it is a writer that drops every line, unless the
// program points it at a writer of its own.
HvLogger& VerifyLog();
// Points VerifyLog() at `writer`, or back at the dropping writer for null.
// `writer` must outlive its use; call this while no other thread logs.
void SetVerifyLog(HvLogger* writer);

}  // namespace hv

#endif  // HV_LOG_LOGGER_H_
