#include "log/logger.h"

#include <charconv>
#include <cstdio>

#include "base/barrier.h"
#include "platform/ansi.h"
#include "platform/path.h"
#include "platform/system.h"

namespace hv {
namespace {

const WChar kLogFileName[] = HV_W("verifylog.txt");

// Makes the directory of the host executable the current directory, so that
// the log lands beside the host whatever directory it was started from.
void EnterExecutableDirectory() {
  WString dir = platform::ExecutableDirectory();
  if (dir.empty()) return;
  dir.pop_back();  // the separator; a root keeps its own, as before
  platform::SetCurrentDir(dir.empty() ? WString(1, platform::PathSeparator()) : dir);
}

// Writes `value` with at least `width` digits, zero-filled, at `at`, and
// returns the end.
char* WritePadded(unsigned long long value, int width, char* at) {
  char digits[24];
  auto r = std::to_chars(digits, digits + sizeof digits, value);
  for (int n = static_cast<int>(r.ptr - digits); n < width; ++n) *at++ = '0';
  for (const char* d = digits; d < r.ptr; ++d) *at++ = *d;
  return at;
}

bool SameTime(const platform::LocalTime& a, const platform::LocalTime& b) {
  return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day &&
         a.month == b.month && a.year == b.year;
}

// "yyyy-mm-dd hh:mm:ss|tttttttt| ". A thread's prefix changes once a second
// at most, so each thread keeps its last one; a formatted print per line
// cost more than the rest of the line together.
void AppendPrefix(const platform::LocalTime& t, uint32_t thread, std::string* out) {
  struct Cached {
    platform::LocalTime time;
    uint32_t thread = 0;
    char text[80];
    char* end = nullptr;
  };
  thread_local Cached cached;
  if (cached.end == nullptr || cached.thread != thread || !SameTime(cached.time, t)) {
    char* at = WritePadded(static_cast<unsigned>(t.year), 1, cached.text);
    *at++ = '-';
    at = WritePadded(static_cast<unsigned>(t.month), 2, at);
    *at++ = '-';
    at = WritePadded(static_cast<unsigned>(t.day), 2, at);
    *at++ = ' ';
    at = WritePadded(static_cast<unsigned>(t.hour), 2, at);
    *at++ = ':';
    at = WritePadded(static_cast<unsigned>(t.minute), 2, at);
    *at++ = ':';
    at = WritePadded(static_cast<unsigned>(t.second), 2, at);
    *at++ = '|';
    at = WritePadded(thread, 8, at);
    *at++ = '|';
    *at++ = ' ';
    cached.time = t;
    cached.thread = thread;
    cached.end = at;
  }
  out->append(cached.text, cached.end);
}

std::atomic<HvLogger*> g_target{nullptr};

}  // namespace

HvLogger& VerifyLog() {
  HvLogger* target = g_target.load(std::memory_order_acquire);
  if (target != nullptr) return *target;
  // Opens nothing (an empty path): every line fails silently.
  static HvLogger dropping{WString()};
  return dropping;
}

void SetVerifyLog(HvLogger* writer) { g_target.store(writer, std::memory_order_release); }

// A writer that runs out of memory while it is set up fails every line
// silently rather than failing the module's load.
HvLogger::HvLogger() {
  if (!SurvivesAllocation([this] {
        EnterExecutableDirectory();
        Open(kLogFileName);
      })) {
    state_ = kFail;
  }
}

HvLogger::HvLogger(const WString& path) {
  if (!SurvivesAllocation([&] { Open(path); })) state_ = kFail;
}

void HvLogger::Open(const WString& path) {
  uint64_t size = 0;
  if (!platform::FileSize(path, &size)) size = 0;
  auto mode = size < kRestartSize ? platform::LogFile::Mode::kAppend
                                  : platform::LogFile::Mode::kTruncate;
  state_ = file_.Open(path, mode) ? kGood : kFail;
  if (!platform::InitAnsi() && state_ == kGood) {
    static const char kMessage[] = "set locale error";
    std::string text = std::string(kMessage) + platform::TextLineEnd();
    file_.Write(text.data(), text.size());
  }
}

HvLogger::~HvLogger() {
  if (state_ == kGood) file_.Close();
}

bool HvLogger::HoldsLock() const {
  return owner_.load(std::memory_order_acquire) == platform::CurrentThreadId();
}

void HvLogger::Lock() {
  if (HoldsLock()) return;  // a second line start keeps the count balanced
  line_mutex_.lock();
  owner_.store(platform::CurrentThreadId(), std::memory_order_release);
}

void HvLogger::Unlock() {
  if (!HoldsLock()) return;
  owner_.store(0, std::memory_order_release);
  line_mutex_.unlock();
}

// Runs before every append. Returns false when nothing may be written.
bool HvLogger::LineStart() {
  if (continuation_.load(std::memory_order_acquire)) {
    if (HoldsLock()) return state_ == kGood;
    // Another thread's line is being continued: let it end before reading
    // the time, so that this line's time is not earlier than that line's.
    std::lock_guard<std::mutex> wait_for_line_end(line_mutex_);
  }
  // The error state is read under the lock in this implementation; only the
  // lock holder changes it.
  platform::LocalTime t = platform::Now();
  Lock();
  if (state_ != kGood) {
    // Nothing can be written; hold no lock for a line that never began.
    if (!line_begun_) Unlock();
    return false;
  }
  line_begun_ = true;  // the lock is held until LogEndLine, written or not
  if (!SurvivesAllocation([&] { AppendPrefix(t, platform::CurrentThreadId(), &line_); })) {
    line_lost_ = true;
    state_ |= kBad;
    return false;
  }
  return true;
}

void HvLogger::EndLine() {
  continuation_.store(false, std::memory_order_release);
  if (!HoldsLock()) return;  // the line never began: nothing to write
  if (line_begun_ && !line_lost_ &&
      SurvivesAllocation([this] { line_.append(platform::TextLineEnd()); })) {
    // A line that lost its tail to an unrepresentable character still ends
    // here, so that the next line starts on a line of its own. A line that
    // lost a piece for want of memory is not written at all: the file holds
    // whole lines only.
    if (!file_.Write(line_.data(), line_.size()) || !file_.Flush()) {
      state_ |= kBad;
    }
  }
  line_.clear();
  line_begun_ = false;
  line_lost_ = false;
  state_ = kGood;
  Unlock();
}

void HvLogger::WriteLastError() {
  uint32_t code = platform::LastSystemError();
  bool held = HoldsLock();
  if (!held) Lock();
  if (state_ == kGood) {
    char text[16];
    int n = std::snprintf(text, sizeof text, "[%lu]", static_cast<unsigned long>(code));
    if (held && line_begun_) {
      if (!SurvivesAllocation([&] { line_.append(text, static_cast<size_t>(n)); })) {
        line_lost_ = true;
        state_ |= kBad;
      }
    } else if (!file_.Write(text, static_cast<size_t>(n))) {
      state_ |= kBad;
    }
  }
  if (!held) Unlock();
}

void HvLogger::Control(int32_t code) {
  switch (code) {
    case LogContinue:
      continuation_.store(true, std::memory_order_release);
      break;
    case LogLastError:
      WriteLastError();
      break;
    case LogEndLine:
      EndLine();
      break;
    default:
      break;
  }
}

// Appends one piece to the open line. A piece that cannot be stored for
// want of memory loses the whole line (and drops the rest of it, as an
// error state does); the line lock is still released at its end.
template <class Piece>
void HvLogger::AppendPiece(Piece&& piece) {
  if (LineStart() && !SurvivesAllocation(piece)) {
    line_lost_ = true;
    state_ |= kBad;
  }
  continuation_.store(false, std::memory_order_release);
}

void HvLogger::AppendNumber(long long value) {
  AppendPiece([&] {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, value);
    line_.append(digits, r.ptr);
  });
}

void HvLogger::AppendNumber(unsigned long long value) {
  AppendPiece([&] {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, value);
    line_.append(digits, r.ptr);
  });
}

void HvLogger::AppendText(WStringView text) {
  AppendPiece([&] {
    if (!platform::WideToAnsi(text, &line_)) state_ |= kBad;
  });
}

HvLogger& HvLogger::Append(long value) { AppendNumber(static_cast<long long>(value)); return *this; }
HvLogger& HvLogger::Append(unsigned long value) { AppendNumber(static_cast<unsigned long long>(value)); return *this; }
HvLogger& HvLogger::Append(int value) { AppendNumber(static_cast<long long>(value)); return *this; }
HvLogger& HvLogger::Append(unsigned int value) { AppendNumber(static_cast<unsigned long long>(value)); return *this; }
HvLogger& HvLogger::Append(WChar c) { AppendText(WStringView(&c, 1)); return *this; }
HvLogger& HvLogger::Append(const WString& text) { AppendText(text); return *this; }
HvLogger& HvLogger::Append(const WChar* text) {
  AppendText(text != nullptr ? WStringView(text) : WStringView());
  return *this;
}

}  // namespace hv
