#include "log/logger.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>

#include "base/ascii.h"
#include "base/barrier.h"
#include "log/line_format.h"
#include "platform/ansi.h"
#include "platform/host_folders.h"
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

// One open line: its bytes and its state, owned by the writer and lent to
// the thread that composes it from its first piece to its end.
struct HvLogger::Line {
  std::string text;
  bool begun = false;      // a prefix was written
  bool continued = false;  // LogContinue came since the last piece
  bool bad = false;        // an unrepresentable character dropped the rest
  bool lost = false;       // a piece found no memory: the line is not written
  // The last prefix written from this line's storage: a thread's prefix
  // changes once a second at most, and a formatted print per line cost
  // more than the rest of the line together.
  platform::LocalTime prefix_time;
  uint32_t prefix_thread = 0;
  char prefix[80];
  char* prefix_end = nullptr;

  void AppendPrefix(const platform::LocalTime& t, uint32_t thread) {
    if (prefix_end == nullptr || prefix_thread != thread || !SameSecond(prefix_time, t)) {
      prefix_end = FormatLinePrefix(t, thread, prefix);
      prefix_time = t;
      prefix_thread = thread;
    }
    text.append(prefix, prefix_end);
  }
};

// A writer that runs out of memory while it is set up fails every line
// silently rather than failing the module's load.
HvLogger::HvLogger(uint64_t limit) : limit_(limit) {
  SurvivesAllocation([this] {
    // A host that names the trace's folder (a Linux package) keeps its
    // current folder; the others get the log beside their executable.
    WString named = platform::NamedHostFolder(platform::HostFolder::kLog);
    if (!named.empty()) {
      Open(named + kLogFileName);
      return;
    }
    EnterExecutableDirectory();
    Open(kLogFileName);
  });
}

HvLogger::HvLogger(const WString& path, uint64_t limit) : limit_(limit) {
  SurvivesAllocation([&] { Open(path); });
}

uint64_t LogLimitSetting(const WString* text) {
  uint64_t limit = 0;
  if (text == nullptr || !ParseStrictDecimal(*text, HvLogger::kMaxLimit, &limit) ||
      limit < HvLogger::kMinLimit) {
    return HvLogger::kRestartSize;
  }
  return limit;
}

void HvLogger::Open(const WString& path) {
  if (path.empty()) return;  // the dropping writer
  previous_name_ = PreviousGenerationName(path);
  file_open_ = file_.Open(path);
  if (!file_open_) return;
  // A file found full is started afresh at once, its lines kept as the
  // earlier generation. A file kept may end in part of a line that the
  // system cut short for an earlier writer (this process's or another's):
  // the first line written starts with a line end, as after a cut of this
  // writer's.
  file_.Rotate(previous_name_, limit_);
  fragment_left_.store(file_.EndsMidLine(true), std::memory_order_release);
  if (!platform::InitAnsi()) {
    static const char kMessage[] = "set locale error";
    Line notice;
    notice.text = std::string(kMessage) + platform::TextLineEnd();
    WriteLine(&notice);
  }
}

HvLogger::~HvLogger() {
  if (file_open_) file_.Close();
}

HvLogger::Line* HvLogger::TakeLine() {
  platform::LockHold hold(pool_lock_);
  if (free_lines_.empty()) {
    lines_.push_back(std::make_unique<Line>());
    free_lines_.reserve(lines_.size());  // returning a line never allocates
    return lines_.back().get();
  }
  Line* line = free_lines_.back();
  free_lines_.pop_back();
  return line;
}

void HvLogger::ReturnLine(Line* line) {
  // A rare long line does not keep its memory for every later one.
  if (line->text.capacity() > 4096) std::string().swap(line->text);
  line->text.clear();
  line->begun = line->continued = line->bad = line->lost = false;
  platform::LockHold hold(pool_lock_);
  free_lines_.push_back(line);
}

// This thread's open line on this writer, kept in the writer's thread slot;
// with `begin`, a new one when none is open. Null when there is none (or
// no memory for one, or no room in the slot).
HvLogger::Line* HvLogger::OpenLine(bool begin) {
  auto* line = static_cast<Line*>(open_line_.Get());
  if (line != nullptr || !begin) return line;
  if (!SurvivesAllocation([&] { line = TakeLine(); })) return nullptr;
  if (!open_line_.Set(line)) {
    ReturnLine(line);
    return nullptr;
  }
  return line;
}

// Runs before every append; returns the line to append to, or null when
// nothing may be written.
HvLogger::Line* HvLogger::LineStart() {
  if (!file_open_) return nullptr;
  Line* line = OpenLine(true);
  if (line == nullptr || line->bad || line->lost) return nullptr;
  if (line->continued && line->begun) return line;
  // Without LogContinue a piece starts with a prefix of its own, even
  // inside an open line.
  platform::LocalTime t = platform::Now();
  if (!SurvivesAllocation([&] { line->AppendPrefix(t, platform::CurrentThreadId()); })) {
    line->lost = true;
    return nullptr;
  }
  line->begun = true;
  return line;
}

void HvLogger::EndLine() {
  Line* line = OpenLine(false);
  if (line == nullptr) return;  // the line never began: nothing to write
  // A line that lost its tail to an unrepresentable character still ends
  // here, so that the next line starts on a line of its own. A line that
  // lost a piece for want of memory is not written at all: the file holds
  // whole lines only. One append per line: nothing to flush afterwards.
  if (line->begun && !line->lost &&
      SurvivesAllocation([line] { line->text.append(platform::TextLineEnd()); })) {
    WriteLine(line);
  }
  open_line_.Set(nullptr);  // clearing a value already stored needs no room
  ReturnLine(line);
}

// Appends `size` bytes within the limit. A file found full is started
// afresh (or followed, when another process or an operator got there
// first) and `*again` asks the caller to try the bytes once more, in the
// new file. A try after which no renewal of any thread moved to a new file
// is a stall; after two (a folder or a link in the way, a file that may not
// be renamed), the bytes are dropped and counted rather than written past
// the limit, and renewal is tried again in the next second only: a dropped
// line costs no more than a written one.
platform::LogFile::Appended HvLogger::AppendBytes(const char* data, size_t size, int64_t second,
                                                  int* stalls, bool* again) {
  const uint64_t renewals = renewals_.load(std::memory_order_acquire);
  auto appended = file_.Append(data, size, limit_);
  *again = false;
  if (!appended.full) return appended;
  if (*stalls >= 2 || renew_failed_at_.load(std::memory_order_relaxed) == second) {
    renew_failed_at_.store(second, std::memory_order_relaxed);
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return appended;
  }
  Renew(true);
  if (renewals_.load(std::memory_order_acquire) == renewals) ++*stalls;
  *again = true;
  return appended;
}

// Runs one renewal at a time: a rotation of a full file, or following the
// file at the path. A different file may end in part of a line.
void HvLogger::Renew(bool rotate) {
  platform::LockHold one_at_a_time(renew_lock_);
  if (rotate ? file_.Rotate(previous_name_, limit_) : file_.Follow()) {
    renewals_.fetch_add(1, std::memory_order_release);
    fragment_left_.store(file_.EndsMidLine(true), std::memory_order_release);
  }
}

// About once a second (the first line of each second of the line prefixes,
// which are read anyway): an operator may have renamed, removed or emptied
// the file, and the process's file-size limit may have changed.
void HvLogger::FollowOnceASecond(int64_t now) {
  int64_t seen = followed_at_.load(std::memory_order_relaxed);
  if (seen == now || !followed_at_.compare_exchange_strong(seen, now, std::memory_order_relaxed)) {
    return;
  }
  Renew(false);
}

// After a line written whole: lines dropped since the file could last be
// written are told, once, in a line of their own.
void HvLogger::TellDropped() {
  const uint64_t dropped = dropped_.exchange(0, std::memory_order_relaxed);
  if (dropped == 0) return;
  char text[224];
  char* at = FormatLinePrefix(platform::Now(), platform::CurrentThreadId(), text);
  at += std::snprintf(at, 150, "HvLogger : %llu lines dropped: the log could not be written or started afresh",
                      static_cast<unsigned long long>(dropped));
  std::strcpy(at, platform::TextLineEnd());
  const size_t size = std::strlen(text);
  const size_t written = file_.Append(text, size, limit_).written;
  if (written != size) {
    dropped_.fetch_add(dropped, std::memory_order_relaxed);
    // Cut short itself: the next line mends it, as after any cut line.
    if (written > 0) fragment_left_.store(true, std::memory_order_release);
  }
}

// Appends the line with one write. When the system took only part of an
// earlier line (a full disk, a quota, a file-size limit), that fragment
// has no line end: the next line written begins with one, so that it
// starts on a line of its own, and the fragment stands alone. The system
// cuts the lines of other processes sharing the file too: after it took
// nothing of a line here, the file's last byte is read before each line
// until one gets through whole. (A fragment's own writer still ends it,
// without looking: it may write to the earlier generation by now. An
// empty line may follow a fragment ended twice.)
void HvLogger::WriteLine(Line* line) {
  const int64_t second = SecondKey(line->prefix_end != nullptr ? line->prefix_time : platform::Now());
  if (line->prefix_end != nullptr) FollowOnceASecond(second);
  for (int stalls = 0;;) {
    bool mend = fragment_left_.load(std::memory_order_acquire) ||
                (others_may_have_cut_.load(std::memory_order_relaxed) && file_.EndsMidLine(false));
    if (mend && !SurvivesAllocation([line] { line->text.insert(0, platform::TextLineEnd()); })) {
      return;  // no memory for the line end: the line is dropped whole
    }
    const size_t size = line->text.size();
    // The first `closing` bytes end the earlier fragment.
    const size_t closing = mend ? std::strlen(platform::TextLineEnd()) : 0;
    bool again = false;
    const auto appended = AppendBytes(line->text.data(), size, second, &stalls, &again);
    const size_t written = appended.written;
    if (again) {
      line->text.erase(0, closing);  // the new file decides its own mend
      continue;
    }
    // Nothing of the line itself was written (a full disk, a quota): it is
    // told as dropped once a line gets through. A full file's drop is
    // counted where it is decided.
    if (!appended.full && written <= closing) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      others_may_have_cut_.store(true, std::memory_order_relaxed);
    }
    if (written < closing) return;  // the fragment is still open
    bool cut = written > closing && written < size;
    if (cut || mend) fragment_left_.store(cut, std::memory_order_release);
    if (written == size) others_may_have_cut_.store(false, std::memory_order_relaxed);
    if (written == size && dropped_.load(std::memory_order_relaxed) != 0) TellDropped();
    return;
  }
}

// The common case, a chain that ended its line, costs one slot read. Only
// a line still open asks whether an exception is unwinding the chain (the
// runtime's per-thread exception state, which the thread then has anyway).
void HvLogger::EndChain() noexcept {
  Line* line = OpenLine(false);
  if (line == nullptr || std::uncaught_exceptions() == 0) return;
  open_line_.Set(nullptr);
  ReturnLine(line);
}

void HvLogger::WriteLastError() {
  uint32_t code = platform::LastSystemError();
  if (!file_open_) return;
  char text[16];
  int n = std::snprintf(text, sizeof text, "[%lu]", static_cast<unsigned long>(code));
  Line* line = OpenLine(false);
  if (line == nullptr || !line->begun) {
    const int64_t second = SecondKey(platform::Now());
    int stalls = 0;
    for (bool again = true; again;) AppendBytes(text, static_cast<size_t>(n), second, &stalls, &again);
  } else if (!line->bad && !line->lost &&
             !SurvivesAllocation([&] { line->text.append(text, static_cast<size_t>(n)); })) {
    line->lost = true;
  }
}

void HvLogger::Control(int32_t code) {
  switch (code) {
    case LogContinue: {
      Line* line = OpenLine(false);
      if (line != nullptr) line->continued = true;
      break;
    }
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
// want of memory loses the whole line; its end still frees it.
template <class Piece>
void HvLogger::AppendPiece(Piece&& piece) {
  Line* line = LineStart();
  if (line == nullptr) return;
  if (!SurvivesAllocation([&] { piece(line); })) line->lost = true;
  line->continued = false;
}

void HvLogger::AppendNumber(long long value) {
  AppendPiece([&](Line* line) {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, value);
    line->text.append(digits, r.ptr);
  });
}

void HvLogger::AppendNumber(unsigned long long value) {
  AppendPiece([&](Line* line) {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, value);
    line->text.append(digits, r.ptr);
  });
}

void HvLogger::AppendText(WStringView text) {
  AppendPiece([&](Line* line) {
    if (!platform::WideToAnsi(text, &line->text)) line->bad = true;
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
