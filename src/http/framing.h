// How a response's body is framed and whether its connection ends with
// it, decided in one place from the head's framing fields, in the order of
// RFC 9112 section 6.3. No I/O here: the reading loops only carry out what
// DecideFraming returns.
//
// Pure functions and plain records; thread-safe.
#ifndef HV_HTTP_FRAMING_H_
#define HV_HTTP_FRAMING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hv {

// The fields of a head that decide framing, their lists already split:
// tokens are lower-case, trimmed of blanks and tabs; empty list members
// are dropped, except in Content-Length, where an empty member is kept
// (and makes the length invalid).
struct FramingFields {
  bool http10 = false;                       // the status line says HTTP/1.0
  std::vector<std::string> connection;       // "Connection" tokens
  bool transfer_encoding = false;            // a "Transfer-Encoding" field is present
  std::vector<std::string> codings;          // its codings, in order
  std::vector<std::string> content_lengths;  // every "Content-Length" member
  int locations = 0;                         // how many "Location" fields came
  std::string location;                      // the first one's bytes, as they came
  bool malformed_field = false;              // a field line that is no field (see ParseHeaderLine)

  bool HasConnectionToken(const char* token) const;
};

// Adds one field to `fields` when its name (any case) is one of those
// above; `value` is the field's value, trimmed. A control byte (but HTAB)
// in the value of Connection, Transfer-Encoding or Content-Length marks
// the fields malformed.
void NoteFramingField(const std::string& name, const std::string& value, FramingFields* fields);

enum class BodyFraming {
  kNone,        // the response ends at its blank line
  kLength,      // exactly `length` bytes
  kChunked,     // the chunked coding, trailer section included
  kUntilClose,  // everything until the peer closes
  kInvalid,     // the framing cannot be trusted: the response fails
};

struct Framing {
  BodyFraming body = BodyFraming::kInvalid;
  uint64_t length = 0;
  bool close_after = false;  // the connection ends with this response
};

// The decision, for a response to a GET with status `status`:
//   A field line that is no field (such as a name followed by blanks
//     before its colon, or a line without a colon): the response fails.
//   A Content-Length must be one: every member digits only and all the
//     same digits (a list such as "5, 5" is one length); anything else
//     fails, whatever else the head holds.
//   1xx, 204, 304: no body (framing fields that frame nothing must still
//     be valid).
//   Transfer-Encoding present: it overrides Content-Length; chunked must
//     be the one and final coding, else the response fails. A message that
//     carries both fields closes; under HTTP/1.0 the response fails.
//   Otherwise the body runs until the peer closes.
// The connection also ends after "close" in Connection, and after an
// HTTP/1.0 response without "keep-alive".
Framing DecideFraming(int32_t status, const FramingFields& fields);

}  // namespace hv

#endif  // HV_HTTP_FRAMING_H_
