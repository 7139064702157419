// POSIX implementation of platform/ansi.h: the user-default locale's
// multibyte encoding, through the locale object only (never setlocale, so
// the host's global locale state is left alone).
#include "platform/ansi.h"

#include <algorithm>
#include <cwchar>
#include <locale>

#include "base/utf.h"

namespace hv::platform {
namespace {

using Codecvt = std::codecvt<wchar_t, char, std::mbstate_t>;

struct AnsiLocale {
  std::locale locale;
  bool user_default = false;
  // The encoding writes U+0001..U+007F as the same single bytes, so text of
  // those characters alone needs no call to the facet (nearly every line).
  bool ascii_identity = false;

  AnsiLocale() {
    try {
      locale = std::locale("");
      user_default = true;
    } catch (const std::exception&) {
      locale = std::locale::classic();
    }
    ascii_identity = MapsAsciiToItself();
  }

  bool MapsAsciiToItself() const {
    const Codecvt& cvt = std::use_facet<Codecvt>(locale);
    wchar_t wide[127];
    for (int c = 1; c < 128; ++c) wide[c - 1] = static_cast<wchar_t>(c);
    char bytes[127 * 8];
    std::mbstate_t state{};
    const wchar_t* from_next = nullptr;
    char* to_next = nullptr;
    if (cvt.out(state, wide, wide + 127, from_next, bytes, bytes + sizeof bytes, to_next) !=
            Codecvt::ok ||
        to_next != bytes + 127) {
      return false;
    }
    for (int c = 1; c < 128; ++c) {
      if (static_cast<unsigned char>(bytes[c - 1]) != c) return false;
    }
    wchar_t back[127];
    const char* in_next = nullptr;
    wchar_t* back_next = nullptr;
    state = std::mbstate_t{};
    return cvt.in(state, bytes, bytes + 127, in_next, back, back + 127, back_next) == Codecvt::ok &&
           back_next == back + 127 && std::equal(back, back + 127, wide);
  }
};

const AnsiLocale& Ansi() {
  static const AnsiLocale instance;
  return instance;
}

}  // namespace

bool InitAnsi() { return Ansi().user_default; }

bool WideToAnsi(WStringView text, std::string* out) {
  if (text.empty()) return true;
  if (Ansi().ascii_identity &&
      std::all_of(text.begin(), text.end(), [](WChar c) { return c > 0 && c < 0x80; })) {
    size_t at = out->size();
    out->resize(at + text.size());
    std::copy(text.begin(), text.end(), out->begin() + static_cast<std::ptrdiff_t>(at));
    return true;
  }
  // One call to the facet for the whole text: a call per character costs
  // a locale switch each, which dominated every log line.
  std::wstring points;
  points.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    points.push_back(static_cast<wchar_t>(NextUtf16CodePoint(text, &i)));
  }
  const Codecvt& cvt = std::use_facet<Codecvt>(Ansi().locale);
  std::mbstate_t state{};
  size_t at = out->size();
  size_t room = points.size() * static_cast<size_t>(std::max(cvt.max_length(), 1)) + 16;
  out->resize(at + room);
  const wchar_t* from_next = nullptr;
  char* to_next = nullptr;
  char* to = &(*out)[at];
  auto r = cvt.out(state, points.data(), points.data() + points.size(), from_next, to, to + room,
                   to_next);
  // On failure the facet stops before the first character it cannot
  // encode, and the bytes before it are kept.
  out->resize(at + static_cast<size_t>(to_next - to));
  return r == Codecvt::ok && from_next == points.data() + points.size();
}

WString AnsiToWide(const std::string& bytes) {
  if (Ansi().ascii_identity && std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return c > 0 && static_cast<unsigned char>(c) < 0x80;
      })) {
    return WString(bytes.begin(), bytes.end());
  }
  const Codecvt& cvt = std::use_facet<Codecvt>(Ansi().locale);
  std::mbstate_t state{};
  WString result;
  result.reserve(bytes.size());
  // Every character takes at least one byte, so one wide unit per byte is
  // always room enough for a whole run.
  std::wstring points(bytes.size(), L'\0');
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    const char* from_next = p;
    wchar_t* to_next = &points[0];
    cvt.in(state, p, end, from_next, &points[0], &points[0] + points.size(), to_next);
    for (const wchar_t* w = points.data(); w < to_next; ++w) {
      AppendUtf16(static_cast<char32_t>(*w), &result);
    }
    p = from_next;
    if (p < end) {
      // A byte that does not decode, or an incomplete sequence at the end:
      // one replacement character for the byte, then go on after it.
      result.push_back(0xFFFD);
      state = std::mbstate_t{};
      ++p;
    }
  }
  return result;
}

}  // namespace hv::platform
