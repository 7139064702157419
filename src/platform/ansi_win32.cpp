// Windows implementation of platform/ansi.h: the active ANSI code page.
#include "platform/ansi.h"

#include <windows.h>

#include "base/utf.h"

namespace hv::platform {
namespace {

// Converts `count` UTF-16 units; false when a character has no
// representation in the code page (best-fit substitutions are refused).
bool ConvertRun(const wchar_t* text, int count, std::string* out) {
  if (count == 0) return true;
  UINT cp = GetACP();
  BOOL used_default = FALSE;
  DWORD flags = cp == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL* used = cp == CP_UTF8 ? nullptr : &used_default;
  int n = WideCharToMultiByte(cp, flags, text, count, nullptr, 0, nullptr, used);
  if (n <= 0 || used_default) return false;
  size_t at = out->size();
  out->resize(at + static_cast<size_t>(n));
  WideCharToMultiByte(cp, flags, text, count, &(*out)[at], n, nullptr, nullptr);
  return true;
}

}  // namespace

bool InitAnsi() { return true; }

bool WideToAnsi(WStringView text, std::string* out) {
  if (text.empty()) return true;
  if (ConvertRun(text.data(), static_cast<int>(text.size()), out)) return true;
  // Something did not convert: go character by character to keep the bytes
  // of everything before the first unrepresentable one.
  for (size_t i = 0; i < text.size();) {
    size_t next = i;
    NextUtf16CodePoint(text, &next);
    if (!ConvertRun(text.data() + i, static_cast<int>(next - i), out)) return false;
    i = next;
  }
  return true;
}

WString AnsiToWide(const std::string& bytes) {
  if (bytes.empty()) return WString();
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(),
                              static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return WString();
  WString result(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                      &result[0], n);
  return result;
}

}  // namespace hv::platform
