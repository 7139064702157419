// Windows implementation of platform/system.h.
#include "platform/system.h"

#include <windows.h>

#include <vector>

namespace hv::platform {

LocalTime Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  return t;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

uint32_t LastSystemError() { return GetLastError(); }

WChar PathSeparator() { return L'\\'; }

bool SetCurrentDir(const WString& dir) {
  return SetCurrentDirectoryW(dir.c_str()) != 0;
}

bool FileSize(const WString& path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return false;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

// The process's own environment block (not the C runtime's copy), so that
// the module and the host see one environment whatever runtime each uses.
bool GetEnvironmentValue(const char* name, char* value, size_t capacity) {
  if (capacity == 0 || capacity > 0x7FFFFFFF) return false;
  DWORD length = GetEnvironmentVariableA(name, value, static_cast<DWORD>(capacity));
  return length > 0 && length < capacity;
}

bool SetEnvironmentValue(const char* name, const char* value) {
  return SetEnvironmentVariableA(name, value) != 0;
}

bool LimitFileSize(uint64_t) { return false; }

}  // namespace hv::platform
