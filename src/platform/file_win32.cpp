// Windows implementation of platform/file.h.
#include "platform/file.h"

#include <windows.h>

#include <utility>

namespace hv::platform {
namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
const intptr_t kNoHandle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);

}  // namespace

LogFile::~LogFile() { Close(); }

LogFile::LogFile(LogFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)) {}

LogFile& LogFile::operator=(LogFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

bool LogFile::Open(const WString& path, Mode mode) {
  Close();
  // FILE_APPEND_DATA without FILE_WRITE_DATA makes every write go to the
  // end of the file, whoever else writes to it.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (mode == Mode::kTruncate) {
    // Emptied through a handle of its own: a handle with write access would
    // write at its own position, and concurrent lines could overwrite each
    // other.
    HANDLE emptied = CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (emptied == INVALID_HANDLE_VALUE) return false;
    CloseHandle(emptied);
  }
  HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, share, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool LogFile::IsOpen() const { return handle_ != kNoHandle && handle_ != -1; }

size_t LogFile::Write(const char* data, size_t size) {
  if (!IsOpen() || size == 0) return 0;
  // A line is far below one request's limit; a larger block is cut to it.
  DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  DWORD written = 0;
  LockHold one_append_at_a_time(append_lock_);
  // Failed or not, `written` counts what the system took (a full disk
  // may take part of the bytes).
  WriteFile(AsHandle(handle_), data, chunk, &written, nullptr);
  return written;
}

bool LogFile::Flush() { return IsOpen(); }

bool LogFile::Close() {
  if (!IsOpen()) return true;
  HANDLE h = AsHandle(std::exchange(handle_, kNoHandle));
  return CloseHandle(h) != 0;
}

const char* TextLineEnd() { return "\r\n"; }

bool FileEndsMidLine(const WString& path) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  char last = '\n';
  if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
    OVERLAPPED at{};  // a read at an offset, on a synchronous handle
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    DWORD read = 0;
    if (!ReadFile(h, &last, 1, &read, &at) || read != 1) last = '\n';
  }
  CloseHandle(h);
  return last != '\n';
}

}  // namespace hv::platform
