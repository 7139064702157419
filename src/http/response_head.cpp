#include "http/response_head.h"

#include <cstring>
#include <limits>

#include "platform/ansi.h"

namespace hv {

void HeaderTable::Add(const WString& name, const WString& value) {
  auto it = fields_.find(name);
  if (it == fields_.end()) {
    fields_.emplace(name, value);
  } else {
    it->second += HV_W(",") + value;
  }
}

const WString* HeaderTable::Find(WStringView name) const {
  auto it = fields_.find(name);
  return it == fields_.end() ? nullptr : &it->second;
}

bool ParseStatusLine(const char* begin, const char* end, int32_t* status) {
  *status = -1;
  const char* p = begin;
  while (p < end && !IsSpaceAscii(*p)) ++p;
  while (p < end && IsSpaceAscii(*p) && *p != '\n') ++p;
  if (p >= end || !IsDigitAscii(*p)) return false;
  int64_t value = 0;
  bool overflow = false;
  for (; p < end && IsDigitAscii(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > std::numeric_limits<int32_t>::max()) {
      overflow = true;
      value = std::numeric_limits<int32_t>::max();
    }
  }
  *status = static_cast<int32_t>(value);
  return !overflow;
}

void ParseHeaderLine(const char* begin, const char* end, const HeaderSink& sink) {
  const char* colon = static_cast<const char*>(std::memchr(begin, ':', static_cast<size_t>(end - begin)));
  if (colon == nullptr) return;
  const char* value = colon + 1;
  while (value < end && IsSpaceAscii(*value)) ++value;
  if (static_cast<size_t>(colon - begin) >= kMaxHeaderPart ||
      static_cast<size_t>(end - value) >= kMaxHeaderPart) {
    return;
  }
  WString name = platform::AnsiToWide(std::string(begin, colon));
  WString text = platform::AnsiToWide(std::string(value, end));
  if (sink.challenges != nullptr &&
      (EqualsIgnoreCase(name, WStringView(HV_W("www-authenticate"))) ||
       EqualsIgnoreCase(name, WStringView(HV_W("proxy-authenticate"))))) {
    sink.challenges->push_back(text);
  }
  sink.table->Add(name, text);
  if (sink.on_cookie && EqualsIgnoreCase(name, WStringView(HV_W("set-cookie")))) sink.on_cookie(text);
}

void ParseHeaderLines(const char* begin, const char* end, const HeaderSink& sink) {
  // Skip the status line: it ends at its line feed, with or without CR.
  const char* p = static_cast<const char*>(std::memchr(begin, '\n', static_cast<size_t>(end - begin)));
  if (p == nullptr) return;
  ++p;
  const char* line = p;
  while (p + 1 < end) {
    if (p[0] != '\r' || p[1] != '\n') {
      ++p;
      continue;
    }
    if (p == line) break;  // the blank line
    // Any white space after the CR LF continues the line, unless it is the
    // blank line's own CR LF.
    bool folded = p + 2 < end && IsSpaceAscii(p[2]) &&
                  !(p + 3 < end && p[2] == '\r' && p[3] == '\n');
    if (folded) {
      p += 2;
      continue;
    }
    ParseHeaderLine(line, p, sink);
    p += 2;
    line = p;
  }
}

int64_t ParseDecimal(const WString& text) { return ParseSaturatingDecimal<int64_t>(text); }

}  // namespace hv
