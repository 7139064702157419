// The verification cipher: how the account query travels in the request URL
// and how the endpoint's answer body is turned back into plain bytes.
//
// Request:  UTF-8 query, '@'-filled on the left to a multiple of 8 bytes,
//           three-key Triple DES (ECB) under VerifyCipherKey, Base64, then
//           URL-escaped.
// Answer:   Base64 (not escaped), deciphered with the same key, stripped of
//           every leading '@'.
//
// Encipher and Decipher log their own failures to VerifyLog(); the buffer
// routines below them only return false. All functions are thread-safe.
#ifndef HV_VERIFY_CIPHER_H_
#define HV_VERIFY_CIPHER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hv {

// 32 key characters; the first 24 key the three DES stages.
extern const char VerifyCipherKey[33];
constexpr size_t kVerifyCipherKeyLength = 32;

// Plain bytes in, escaped Base64 text out. On failure `out` is unchanged.
bool Encipher(const std::string& plain, std::string* out);

// Base64 text in, plain bytes (up to the first NUL) out. On failure `out`
// is unchanged.
bool Decipher(const std::string& text, std::string* out);

// Fills, enciphers and Base64-encodes `n` bytes into `out` (capacity at
// least 2 * m, m being n rounded up to a multiple of 8). No NUL is written.
bool Encrypt(const uint8_t* in, size_t n, char* out, size_t capacity,
             size_t* out_length);

// Decodes and deciphers `n` characters into `out` (room for n bytes) and
// strips the leading '@' fill. Fails for undecodable text, a decoded length
// of 0 or not a multiple of 8, and an answer of nothing but '@'.
bool Decrypt(const char* in, size_t n, uint8_t* out, size_t* out_length);

// ASCII letters and digits stay, the six C white-space bytes become '+',
// every other byte becomes '%' and two upper-case hexadecimal digits.
// The result is built in one buffer that is never grown (it may be wiped).
std::string UrlEscape(std::string_view bytes);

}  // namespace hv

#endif  // HV_VERIFY_CIPHER_H_
