// ASCII-only character classes and case folding, independent of any locale
// (protocol text compares this way whatever the host's locale says).
#ifndef HV_BASE_ASCII_H_
#define HV_BASE_ASCII_H_

#include <cstddef>
#include <limits>
#include <type_traits>

#include "base/wide.h"

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

template <typename Char>
constexpr int HexDigitValue(Char c) {
  return c >= '0' && c <= '9'   ? static_cast<int>(c - '0')
         : c >= 'a' && c <= 'f' ? static_cast<int>(c - 'a' + 10)
         : c >= 'A' && c <= 'F' ? static_cast<int>(c - 'A' + 10)
                                : -1;
}

// The integer readers. Every decimal number the module, its tools and its
// tests read goes through ReadDigits.

// Reads the decimal digits at text[*at], moving *at past them. The value
// stops growing at `cap` (any larger number reads as `cap`). Returns the
// count of digits read.
template <typename String>
size_t ReadDigits(const String& text, size_t* at, unsigned long long cap,
                  unsigned long long* value) {
  size_t start = *at;
  unsigned long long v = 0;
  for (; *at < text.size() && IsDigitAscii(text[*at]); ++*at) {
    auto digit = static_cast<unsigned long long>(text[*at] - '0');
    // digit > cap first: cap - digit would wrap for caps below 9.
    v = digit > cap || v > (cap - digit) / 10 ? cap : v * 10 + digit;
  }
  *value = v;
  return *at - start;
}

// Signed decimal as strtol reads it: leading white space, an optional sign,
// digits up to the first other character; no digits read as 0. Values
// beyond Int's range saturate at its limits.
template <typename Int, typename String>
Int ParseSaturatingDecimal(const String& text) {
  static_assert(std::is_signed<Int>::value, "a signed result");
  size_t i = 0;
  while (i < text.size() && IsSpaceAscii(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  auto max = static_cast<unsigned long long>(std::numeric_limits<Int>::max());
  unsigned long long magnitude = 0;
  ReadDigits(text, &i, max + (negative ? 1 : 0), &magnitude);
  if (!negative) return static_cast<Int>(magnitude);
  return magnitude > max ? std::numeric_limits<Int>::min() : static_cast<Int>(-static_cast<Int>(magnitude));
}

// The whole of `text` as an unsigned decimal number from 0 to `max`: at
// least one digit, nothing else (no blank, no sign). False otherwise.
template <typename Int, typename String>
bool ParseStrictDecimal(const String& text, Int max, Int* value) {
  size_t i = 0;
  unsigned long long v = 0;
  auto cap = static_cast<unsigned long long>(max);
  if (ReadDigits(text, &i, cap + 1 > cap ? cap + 1 : cap, &v) == 0 || i != text.size() || v > cap) {
    return false;
  }
  *value = static_cast<Int>(v);
  return true;
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
