#include "http/response_head.h"

#include <cstring>

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

bool ParseStatusLine(const char* begin, const char* end, int32_t* status, bool* http10) {
  *status = -1;
  if (end > begin && end[-1] == '\n') --end;
  if (end > begin && end[-1] == '\r') --end;
  auto size = static_cast<size_t>(end - begin);
  if (size < 12 || std::memcmp(begin, "HTTP/1.", 7) != 0 || (begin[7] != '0' && begin[7] != '1') ||
      begin[8] != ' ' || (size > 12 && begin[12] != ' ')) {
    return false;
  }
  int32_t value = 0;
  for (const char* p = begin + 9; p < begin + 12; ++p) {
    if (!IsDigitAscii(*p)) return false;
    value = value * 10 + (*p - '0');
  }
  if (value < 100) return false;  // RFC 9110 15: 100 to 599; below, no answer at all
  // The reason: HTAB, SP, visible and obs-text bytes; a bare CR stands
  // for SP (RFC 9112 2.2). Any other control byte is no status line.
  for (const char* p = begin + 12; p < end; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F) return false;
  }
  *status = value;
  *http10 = begin[7] == '0';
  return true;
}

size_t FindHeadEnd(const std::string& buffer, size_t from) {
  for (size_t lf = buffer.find('\n', from); lf != std::string::npos; lf = buffer.find('\n', lf + 1)) {
    if (lf + 1 < buffer.size() && buffer[lf + 1] == '\n') return lf + 2;
    if (lf + 2 < buffer.size() && buffer[lf + 1] == '\r' && buffer[lf + 2] == '\n') return lf + 3;
  }
  return std::string::npos;
}

bool IsHttpTokenChar(char c) {
  return IsAlphaAscii(c) || IsDigitAscii(c) || (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsToken(const char* begin, const char* end) {
  if (begin == end) return false;
  for (const char* p = begin; p < end; ++p) {
    if (!IsHttpTokenChar(*p)) return false;
  }
  return true;
}

}  // namespace

bool IsFieldValueText(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p) {
    if (*p == '\0' || *p == '\n') return false;
  }
  return true;
}

bool IsFieldLine(const char* begin, const char* end) {
  const char* colon = static_cast<const char*>(std::memchr(begin, ':', static_cast<size_t>(end - begin)));
  return colon != nullptr && IsToken(begin, colon) && IsFieldValueText(colon + 1, end);
}

void ParseHeaderLine(const char* begin, const char* end, const HeaderSink& sink) {
  if (!IsFieldLine(begin, end)) {
    if (sink.framing != nullptr) sink.framing->malformed_field = true;
    return;
  }
  const char* colon = static_cast<const char*>(std::memchr(begin, ':', static_cast<size_t>(end - begin)));
  const char* value = colon + 1;
  // Optional white space is SP and HTAB only: a VT, FF or CR is part of
  // the value (and makes a number such as Content-Length invalid).
  while (value < end && IsBlank(*value)) ++value;
  while (end > value && IsBlank(end[-1])) --end;
  std::string name(begin, colon);
  std::string bytes(value, end);
  for (char& c : bytes) {
    if (c == '\r') c = ' ';
  }
  if (sink.framing != nullptr) NoteFramingField(name, bytes, sink.framing);
  if (name.size() >= kMaxHeaderPart || bytes.size() >= kMaxHeaderPart) return;
  WString wide_name = platform::AnsiToWide(name);
  WString text = platform::AnsiToWide(bytes);
  if (sink.challenges != nullptr &&
      (EqualsIgnoreCase(wide_name, WStringView(HV_W("www-authenticate"))) ||
       EqualsIgnoreCase(wide_name, WStringView(HV_W("proxy-authenticate"))))) {
    sink.challenges->push_back(text);
  }
  sink.table->Add(wide_name, text);
  if (sink.on_cookie && EqualsIgnoreCase(wide_name, WStringView(HV_W("set-cookie")))) {
    sink.on_cookie(text);
  }
}

void ParseHeaderLines(const char* begin, const char* end, const HeaderSink& sink) {
  // Skip the status line: it ends at its line feed, with or without CR.
  const char* p = static_cast<const char*>(std::memchr(begin, '\n', static_cast<size_t>(end - begin)));
  if (p == nullptr) return;
  ++p;
  std::string field;  // the field being collected, folds joined
  bool open = false;
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* line_end = lf == nullptr ? end : lf;
    const char* next = lf == nullptr ? end : lf + 1;
    if (line_end > p && line_end[-1] == '\r') --line_end;
    if (open && line_end > p && IsBlank(*p)) {
      // An obsolete fold: the field goes on after one blank.
      while (!field.empty() && IsBlank(field.back())) field.pop_back();
      while (p < line_end && IsBlank(*p)) ++p;
      field.push_back(' ');
      field.append(p, line_end);
    } else {
      if (open) ParseHeaderLine(field.data(), field.data() + field.size(), sink);
      field.assign(p, line_end);
      open = line_end > p;
    }
    p = next;
  }
  if (open) ParseHeaderLine(field.data(), field.data() + field.size(), sink);
}

}  // namespace hv
