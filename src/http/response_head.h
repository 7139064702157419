// The head of an HTTP response: status line and header fields, parsed from
// bytes that the caller has already received (no I/O here).
//
// Pure functions and a plain table; a HeaderTable is used by one thread.
#ifndef HV_HTTP_RESPONSE_HEAD_H_
#define HV_HTTP_RESPONSE_HEAD_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/wide.h"
#include "http/framing.h"

namespace hv {

// Header fields by name, names compared case-insensitively. A repeated
// field joins its values with "," (no blank).
class HeaderTable {
 public:
  void Add(const WString& name, const WString& value);
  // Null when the field is absent.
  const WString* Find(WStringView name) const;
  void Clear() { fields_.clear(); }
  size_t size() const { return fields_.size(); }

 private:
  std::map<WString, WString, LessIgnoreCase> fields_;
};

// A name or value of this many bytes or more drops its header line.
constexpr size_t kMaxHeaderPart = 1024;

// Reads the status line at [begin, end) (its line feed, and a CR before
// it, excluded or not): "HTTP/1.0" or "HTTP/1.1", one blank, exactly three
// digits (a status of 100 or more), then the line's end or a blank and the reason (no control byte
// in it but HTAB and a bare CR). Any other line,
// other versions included, is false with `*status` -1; `*http10` tells
// the version.
bool ParseStatusLine(const char* begin, const char* end, int32_t* status, bool* http10);

// Where the head that starts `buffer` ends: the length up to and with its
// first empty line, whether the lines end in CR LF or a bare LF; npos when
// no empty line has come yet. The search starts at `from` (a previous
// search's end of the buffer, less two bytes, may be given).
size_t FindHeadEnd(const std::string& buffer, size_t from);

// What happens to each header line, beyond entering it into the table.
struct HeaderSink {
  HeaderTable* table = nullptr;
  std::vector<WString>* challenges = nullptr;            // www-/proxy-authenticate
  std::function<void(const WString&)> on_cookie;         // set-cookie
  FramingFields* framing = nullptr;                      // the fields that frame the body
};

// Parses one header field (its line or lines, without the final line end)
// into the sink. A field is `token ":" OWS value OWS` (RFC 9110 5.1, RFC
// 9112 5): a line without a colon, a name that is not a token (empty, with
// a blank, a control byte, a separator) or followed by blanks before its
// colon, and a value holding a NUL is no field, and marks the sink's
// framing as malformed (the response fails; dropped instead, a proxy that
// reads the line otherwise would frame the body otherwise). The value is
// trimmed of blanks and tabs at both ends (no other byte is white space
// there); a CR left in it (a bare CR, RFC 9112 2.2) becomes a blank, and
// other control bytes are kept (RFC 9110 5.5). Framing fields are noted
// whatever their length; a name or value over the part limit is then left
// out of the table.
void ParseHeaderLine(const char* begin, const char* end, const HeaderSink& sink);

// A tchar of RFC 9110 5.6.2, the bytes of a token.
bool IsHttpTokenChar(char c);

// True when [begin, end) is one field line by the rule above (the trailer
// section is held to it too).
bool IsFieldLine(const char* begin, const char* end);
// True when [begin, end) may stand in a field value: no NUL, no LF.
bool IsFieldValueText(const char* begin, const char* end);

// Parses the lines after the status line (which ends at its line feed) of a
// header block [begin, end). A line ends at LF, a CR before it dropped; a
// line that begins with a blank or tab continues the field before it (an
// obsolete fold), joined by one blank. Empty lines end nothing but a field.
void ParseHeaderLines(const char* begin, const char* end, const HeaderSink& sink);

}  // namespace hv

#endif  // HV_HTTP_RESPONSE_HEAD_H_
