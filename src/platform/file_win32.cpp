// Windows implementation of platform/file.h.
#include "platform/file.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <utility>

namespace hv::platform {
namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
const intptr_t kNoHandle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// FILE_APPEND_DATA without FILE_WRITE_DATA makes every write go to the end
// of the file, whoever else writes to it; reading is there for the byte
// lock, which a handle needs read or write access for. A reparse point (a
// symbolic link, a junction) is opened as itself and refused, and so is
// anything but a regular disk file (a pipe, a device).
HANDLE OpenForAppend(const WString& path) {
  HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE, kShareAll,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// How long an append waits for the byte lock, polling, before it writes
// without it.
constexpr ULONGLONG kTurnWaitMs = 100;
// After such a wait, how long appends only take a lock that is free at once.
constexpr ULONGLONG kTurnSkipMs = 1000;

// The cross-process turn of every writer of the file: an exclusive lock on
// one byte far beyond any data, so that it never stands in a reader's way.
// Released with the handle too, should its holder end. The lock is polled
// (LOCKFILE_FAIL_IMMEDIATELY, 1 ms apart) for kTurnWaitMs at most; its
// holder may be a process that never lets go, and a line is better written
// without it than a host thread held. After a wait that timed out, the
// turn is taken for kTurnSkipMs only when it is free at once (tick counts
// in `*skipped_until`), by appends and renewals alike: a holder that never
// lets go costs each second one wait, not one per try.
class FileTurn {
 public:
  FileTurn(HANDLE h, std::atomic<uint64_t>* skipped_until) : h_(h) {
    at_.Offset = 0xFFFFFFFEu;
    at_.OffsetHigh = 0x7FFFFFFFu;
    const ULONGLONG start = GetTickCount64();
    const bool skipping = start < skipped_until->load(std::memory_order_relaxed);
    for (;;) {
      held_ = LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at_) != 0;
      if (held_ || skipping) return;
      if (GetTickCount64() - start >= kTurnWaitMs) {
        skipped_until->store(GetTickCount64() + kTurnSkipMs, std::memory_order_relaxed);
        return;
      }
      Sleep(1);
    }
  }
  ~FileTurn() {
    if (held_) UnlockFileEx(h_, 0, 1, 0, &at_);
  }
  FileTurn(const FileTurn&) = delete;
  FileTurn& operator=(const FileTurn&) = delete;

  bool held() const { return held_; }

 private:
  HANDLE h_;
  OVERLAPPED at_{};
  bool held_ = false;
};

uint64_t SizeOf(HANDLE h) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(h, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

// True when `path` names the file open as `h` (same volume, same index).
bool IsSameFile(const WString& path, HANDLE h) {
  HANDLE other = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  bool same = GetFileInformationByHandle(h, &a) && GetFileInformationByHandle(other, &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
              a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(other);
  return same;
}

// `name` in the directory of `path`.
WString Beside(const WString& path, const WString& name) {
  size_t cut = path.find_last_of(HV_W("\\/"));
  return cut == WString::npos ? name : path.substr(0, cut + 1) + name;
}

// Renames the full file at `path` to `previous`, the earlier generation.
// A file that is open anywhere cannot be replaced, even by a handle that
// shares its deletion: another process that logged before the last renewal
// keeps the earlier generation open until its next line. That file is then
// first moved aside to a name of its own and deleted once the rename is
// done; it goes when its last handle closes (until then a deleted file
// keeps its name, so the name is never reused). When the full file may not
// be moved (a viewer opened it without sharing its deletion), the earlier
// generation is put back: it is never lost for nothing. A folder at
// `previous` is left where it is.
bool MoveToEarlierGeneration(const WString& path, const WString& previous) {
  if (MoveFileExW(path.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  static std::atomic<uint32_t> asides{0};
  const std::string tag = "." + std::to_string(GetCurrentProcessId()) + "-" +
                          std::to_string(asides.fetch_add(1, std::memory_order_relaxed)) + ".renewing";
  const WString aside = previous + WString(tag.begin(), tag.end());
  const DWORD attributes = GetFileAttributesW(previous.c_str());
  const bool set_aside = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                         MoveFileExW(previous.c_str(), aside.c_str(), 0);
  if (!MoveFileExW(path.c_str(), previous.c_str(), 0)) {
    if (set_aside) MoveFileExW(aside.c_str(), previous.c_str(), 0);
    return false;
  }
  if (set_aside) {
    SetFileAttributesW(aside.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only file would stay
    DeleteFileW(aside.c_str());
  }
  return true;
}

}  // namespace

LogFile::~LogFile() { Close(); }

// The path is made absolute, so that a later change of the process's
// current directory does not move the log.
bool LogFile::Open(const WString& path) {
  Close();
  WChar full[1024];
  DWORD n = GetFullPathNameW(path.c_str(), 1024, full, nullptr);
  path_ = n > 0 && n < 1024 ? WString(full, n) : path;
  HANDLE h = OpenForAppend(path_);
  if (h == INVALID_HANDLE_VALUE) return false;
  size_.store(SizeOf(h));
  handle_.store(reinterpret_cast<intptr_t>(h));
  return true;
}

bool LogFile::IsOpen() const {
  intptr_t h = handle_.load(std::memory_order_relaxed);
  return h != kNoHandle && h != -1;
}

LogFile::Appended LogFile::Append(const char* data, size_t size, uint64_t limit) {
  Appended result;
  if (!IsOpen() || size == 0) return result;
  // A line is far below one request's limit; a larger block is cut to it.
  DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  LockHold one_append_at_a_time(append_lock_);
  HANDLE h = AsHandle(handle_.load());
  FileTurn turn(h, &lock_skipped_until_);
  const uint64_t before = SizeOf(h);
  if (before >= limit) {
    size_.store(before);
    result.full = true;
    return result;
  }
  DWORD written = 0;
  // Failed or not, `written` counts what the system took (a full disk
  // may take part of the bytes).
  WriteFile(h, data, chunk, &written, nullptr);
  size_.store(before + written);
  result.written = written;
  return result;
}

bool LogFile::Rotate(const WString& previous_name, uint64_t limit) {
  return Reopen(&previous_name, limit);
}

bool LogFile::Follow() { return Reopen(nullptr, ~uint64_t{0}); }

// Appends wait meanwhile, so that the handle can be exchanged.
bool LogFile::Reopen(const WString* previous_name, uint64_t limit) {
  LockHold no_append_meanwhile(append_lock_);
  if (!IsOpen()) return false;
  HANDLE old = AsHandle(handle_.load());
  HANDLE fresh = INVALID_HANDLE_VALUE;
  {
    FileTurn turn(old, &lock_skipped_until_);
    const bool same = IsSameFile(path_, old);
    const uint64_t size = SizeOf(old);
    size_.store(size);
    if (same && (previous_name == nullptr || size < limit)) return false;
    // Without the turn, another process may be renewing the file at this
    // moment: what is at the path by the time of the rename may be its new
    // file, and renaming that over the earlier generation would lose the
    // full one. The renewal waits for the turn (lines are dropped, counted,
    // meanwhile) rather than risk it.
    if (same && (!turn.held() || !MoveToEarlierGeneration(path_, Beside(path_, *previous_name)))) {
      return false;
    }
    fresh = OpenForAppend(path_);
    if (fresh == INVALID_HANDLE_VALUE) return false;
  }
  size_.store(SizeOf(fresh));
  handle_.store(reinterpret_cast<intptr_t>(fresh));
  CloseHandle(old);
  return true;
}

bool LogFile::Close() {
  const intptr_t h = handle_.exchange(kNoHandle);
  if (h == kNoHandle || h == -1) return true;
  return CloseHandle(AsHandle(h)) != 0;
}

const char* TextLineEnd() { return "\r\n"; }

bool LogFile::EndsMidLine(bool settle) {
  if (path_.empty()) return false;
  HANDLE h = CreateFileW(path_.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // A cut stays; an append under way ends within microseconds.
  char last = '\n';
  for (int look = 0; look < (settle ? 3 : 1); ++look) {
    if (look > 0) Sleep(1);
    LARGE_INTEGER size{};
    last = '\n';
    if (!GetFileSizeEx(h, &size) || size.QuadPart == 0) break;
    OVERLAPPED at{};  // a read at an offset, on a synchronous handle
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    DWORD read = 0;
    if (!ReadFile(h, &last, 1, &read, &at) || read != 1) last = '\n';
    if (last == '\n') break;
  }
  CloseHandle(h);
  return last != '\n';
}

}  // namespace hv::platform
