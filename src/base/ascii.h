// ASCII-only character classes and case folding, independent of any locale
// (protocol text compares this way whatever the host's locale says).
#ifndef HV_BASE_ASCII_H_
#define HV_BASE_ASCII_H_

#include "platform/wide.h"

namespace hv {

template <typename Char>
constexpr Char ToLowerAscii(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Char>
constexpr bool IsDigitAscii(Char c) { return c >= '0' && c <= '9'; }

template <typename Char>
constexpr bool IsAlphaAscii(Char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The six C white-space characters: blank, \t, \n, \v, \f, \r.
template <typename Char>
constexpr bool IsSpaceAscii(Char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Any two strings of one character type (strings, views) compare.
template <typename StringA, typename StringB>
bool EqualsIgnoreCase(const StringA& a, const StringB& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

template <typename String>
String TrimAscii(const String& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsSpaceAscii(text[begin])) ++begin;
  while (end > begin && IsSpaceAscii(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Signed decimal as strtol reads it: leading white space, an optional sign,
// digits up to the first other character; no digits read as 0. The
// magnitude saturates far beyond 32 bits, so callers clamp to their range.
template <typename String>
long long ParseLeadingDecimal(const String& text) {
  size_t i = 0;
  while (i < text.size() && IsSpaceAscii(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && IsDigitAscii(text[i]); ++i) {
    if (value < (1LL << 40)) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// Case-insensitive ordering, for maps keyed by protocol names.
// Transparent: a map keyed by strings is searched with a view, no copy.
struct LessIgnoreCase {
  using is_transparent = void;

  template <typename StringA, typename StringB>
  bool operator()(const StringA& a, const StringB& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      auto x = ToLowerAscii(a[i]), y = ToLowerAscii(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

}  // namespace hv

#endif  // HV_BASE_ASCII_H_
