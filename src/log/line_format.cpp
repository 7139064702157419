#include "log/line_format.h"

#include <charconv>

namespace hv {
namespace {

// Writes `value` with at least `width` digits, zero-filled, at `at`, and
// returns the end.
char* WritePadded(unsigned long long value, int width, char* at) {
  char digits[24];
  auto r = std::to_chars(digits, digits + sizeof digits, value);
  for (int n = static_cast<int>(r.ptr - digits); n < width; ++n) *at++ = '0';
  for (const char* d = digits; d < r.ptr; ++d) *at++ = *d;
  return at;
}

}  // namespace

char* FormatLinePrefix(const platform::LocalTime& t, uint32_t thread, char* text) {
  char* at = WritePadded(static_cast<unsigned>(t.year), 1, text);
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
  return at;
}

bool SameSecond(const platform::LocalTime& a, const platform::LocalTime& b) {
  return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day &&
         a.month == b.month && a.year == b.year;
}

int64_t SecondKey(const platform::LocalTime& t) {
  return ((((int64_t{t.year} * 13 + t.month) * 32 + t.day) * 24 + t.hour) * 60 + t.minute) * 60 +
         t.second;
}

WString PreviousGenerationName(const WString& path) {
  size_t cut = path.find_last_of(HV_W("/\\"));
  WString name = cut == WString::npos ? path : path.substr(cut + 1);
  size_t dot = name.rfind(HV_W('.'));
  if (dot == WString::npos || dot == 0) return name + HV_W(".1");
  return name.substr(0, dot) + HV_W(".1") + name.substr(dot);
}

}  // namespace hv
