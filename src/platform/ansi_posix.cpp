// POSIX implementation of platform/ansi.h: the user-default locale's
// multibyte encoding, through the locale object only (never setlocale, so
// the host's global locale state is left alone).
#include "platform/ansi.h"

#include <cwchar>
#include <locale>

namespace hv::platform {
namespace {

struct AnsiLocale {
  std::locale locale;
  bool user_default = false;

  AnsiLocale() {
    try {
      locale = std::locale("");
      user_default = true;
    } catch (const std::exception&) {
      locale = std::locale::classic();
    }
  }
};

const AnsiLocale& Ansi() {
  static const AnsiLocale instance;
  return instance;
}

using Codecvt = std::codecvt<wchar_t, char, std::mbstate_t>;

// Decodes one code point from UTF-16 at `i`; lone surrogates stay as they
// are, and the encoder then refuses them.
char32_t NextCodePoint(const WString& text, size_t* i) {
  char32_t c = text[(*i)++];
  if (c >= 0xD800 && c <= 0xDBFF && *i < text.size()) {
    char32_t low = text[*i];
    if (low >= 0xDC00 && low <= 0xDFFF) {
      ++*i;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return c;
}

}  // namespace

bool InitAnsi() { return Ansi().user_default; }

bool WideToAnsi(const WString& text, std::string* out) {
  const Codecvt& cvt = std::use_facet<Codecvt>(Ansi().locale);
  std::mbstate_t state{};
  char bytes[16];
  for (size_t i = 0; i < text.size();) {
    wchar_t wc = static_cast<wchar_t>(NextCodePoint(text, &i));
    const wchar_t* from_next = nullptr;
    char* to_next = nullptr;
    auto r = cvt.out(state, &wc, &wc + 1, from_next, bytes, bytes + sizeof bytes,
                     to_next);
    if (r != Codecvt::ok || from_next != &wc + 1) return false;
    out->append(bytes, static_cast<size_t>(to_next - bytes));
  }
  return true;
}

WString AnsiToWide(const std::string& bytes) {
  const Codecvt& cvt = std::use_facet<Codecvt>(Ansi().locale);
  std::mbstate_t state{};
  WString result;
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    wchar_t wc = 0;
    const char* from_next = nullptr;
    wchar_t* to_next = nullptr;
    auto r = cvt.in(state, p, end, from_next, &wc, &wc + 1, to_next);
    if ((r == Codecvt::ok || r == Codecvt::partial) && to_next == &wc + 1) {
      char32_t c = static_cast<char32_t>(wc);
      if (c >= 0x10000 && c <= 0x10FFFF) {
        c -= 0x10000;
        result.push_back(static_cast<WChar>(0xD800 + (c >> 10)));
        result.push_back(static_cast<WChar>(0xDC00 + (c & 0x3FF)));
      } else if (c > 0x10FFFF) {
        result.push_back(0xFFFD);
      } else {
        result.push_back(static_cast<WChar>(c));
      }
      p = from_next;
    } else {
      result.push_back(0xFFFD);
      state = std::mbstate_t{};
      ++p;
    }
  }
  return result;
}

}  // namespace hv::platform
