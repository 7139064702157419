#include "http/framing.h"

#include <algorithm>
#include <limits>

#include "base/ascii.h"

namespace hv {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Splits a comma-separated list into trimmed members, empty ones included.
std::vector<std::string> SplitList(const std::string& value) {
  std::vector<std::string> members;
  size_t at = 0;
  for (;;) {
    size_t comma = value.find(',', at);
    members.push_back(TrimBlanks(value.substr(at, comma == std::string::npos ? comma : comma - at)));
    if (comma == std::string::npos) return members;
    at = comma + 1;
  }
}

void AppendTokens(const std::string& value, std::vector<std::string>* tokens) {
  for (std::string& member : SplitList(value)) {
    if (member.empty()) continue;
    for (char& c : member) c = ToLowerAscii(c);
    tokens->push_back(std::move(member));
  }
}

// All members digits only and the same digits ("5, 05" is no one length);
// false otherwise.
bool ContentLength(const std::vector<std::string>& members, uint64_t* length) {
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  for (const std::string& member : members) {
    if (member != members.front() || !ParseStrictDecimal<uint64_t>(member, kMax, length)) return false;
  }
  return true;
}

}  // namespace

bool FramingFields::HasConnectionToken(const char* token) const {
  return std::find(connection.begin(), connection.end(), token) != connection.end();
}

void NoteFramingField(const std::string& name, const std::string& value, FramingFields* fields) {
  bool framing = EqualsIgnoreCase(name, std::string("connection")) ||
                 EqualsIgnoreCase(name, std::string("transfer-encoding")) ||
                 EqualsIgnoreCase(name, std::string("content-length"));
  // A control byte kept in a value (RFC 9110 5.5) is never safe in one of
  // these: "close\x01" would be some other token, and the connection kept.
  if (framing && std::any_of(value.begin(), value.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7F;
      })) {
    fields->malformed_field = true;
  }
  if (EqualsIgnoreCase(name, std::string("connection"))) {
    AppendTokens(value, &fields->connection);
  } else if (EqualsIgnoreCase(name, std::string("transfer-encoding"))) {
    fields->transfer_encoding = true;
    AppendTokens(value, &fields->codings);
  } else if (EqualsIgnoreCase(name, std::string("content-length"))) {
    for (std::string& member : SplitList(value)) fields->content_lengths.push_back(std::move(member));
  } else if (EqualsIgnoreCase(name, std::string("location"))) {
    if (fields->locations++ == 0) fields->location = value;
  }
}

Framing DecideFraming(int32_t status, const FramingFields& fields) {
  Framing f;
  f.close_after = fields.HasConnectionToken("close") ||
                  (fields.http10 && !fields.HasConnectionToken("keep-alive"));
  if (fields.malformed_field) {
    // RFC 9112 5.1, 9110 5.1: such a line must be refused. Dropping it
    // would frame the message differently from a proxy that repairs it (a
    // "Transfer-Encoding :" or "Transfer-Encoding\0:" it honours and we
    // would ignore).
    f.close_after = true;
    return f;
  }
  uint64_t length = 0;
  bool length_valid = fields.content_lengths.empty() || ContentLength(fields.content_lengths, &length);
  // HTTP/1.0 has no transfer codings: such a message's framing is faulty
  // (it may come through a 1.0 hop that did not understand it).
  bool chunked_only = fields.codings.size() == 1 && fields.codings[0] == "chunked" && !fields.http10;
  bool coding_valid = !fields.transfer_encoding || chunked_only;
  if ((status >= 100 && status < 200) || status == 204 || status == 304) {
    // No body whatever the fields say; but framing fields that frame
    // nothing make a faulty message all the same.
    f.body = length_valid && coding_valid ? BodyFraming::kNone : BodyFraming::kInvalid;
    return f;
  }
  if (fields.transfer_encoding) {
    // It overrides a Content-Length, which must still be one (RFC 9112
    // 6.3), and such a message closes its connection.
    if (!fields.content_lengths.empty()) f.close_after = true;
    f.body = coding_valid && length_valid ? BodyFraming::kChunked : BodyFraming::kInvalid;
    return f;
  }
  if (!fields.content_lengths.empty()) {
    f.length = length;
    f.body = length_valid ? BodyFraming::kLength : BodyFraming::kInvalid;
    return f;
  }
  f.body = BodyFraming::kUntilClose;
  f.close_after = true;
  return f;
}

}  // namespace hv
