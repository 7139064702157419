// Base64 (RFC 4648 section 4 alphabet) as the verification cipher uses it.
//
// The decoder is deliberately permissive, because endpoints in the field
// rely on it: carriage returns, line feeds and blanks are skipped anywhere;
// a byte outside the alphabet decodes as the value 65, whose low bits enter
// the output; '=' ends a group's output but not the text; bytes of an
// incomplete last group are dropped. Pure functions; thread-safe.
#ifndef HV_VERIFY_BASE64_H_
#define HV_VERIFY_BASE64_H_

#include <cstddef>
#include <cstdint>

namespace hv {

// Encodes `n` bytes into `out`. Fails when a pointer is null or `capacity`
// is below 4 * ((n + 2) / 3). Writes a NUL after the text when it fits.
bool Base64Encode(const uint8_t* in, size_t n, char* out, size_t capacity,
                  size_t* out_length);

// Decodes `n` characters into `out`. Fails when a pointer is null, when
// `capacity` is below 3 * ((n + 3) / 4), or when the output would overflow.
// Writes a NUL after the bytes when it fits.
bool Base64Decode(const char* in, size_t n, uint8_t* out, size_t capacity,
                  size_t* out_length);

}  // namespace hv

#endif  // HV_VERIFY_BASE64_H_
