// DES and Triple DES (FIPS 46-3), ECB, as the verification cipher uses them.
//
// The routines keep a block and a key schedule as bit arrays, one bit per
// byte, in the standard's order (element 0 is the most significant bit of
// the first byte). Pure functions; thread-safe; no logging.
#ifndef HV_VERIFY_DES_H_
#define HV_VERIFY_DES_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace hv {

enum DesDirection : int { kDesEncipher = 0, kDesDecipher = 1 };

// 16 subkeys of 48 bits each, one bit per byte.
using DesSchedule = std::array<std::array<uint8_t, 48>, 16>;

// Builds the key schedule of the 8 key bytes.
void DesKeySchedule(const uint8_t key[8], DesSchedule* schedule);

// Transforms one 8-byte block. `in` and `out` may be the same bytes.
void DesBlock(const DesSchedule& schedule, const uint8_t in[8], uint8_t out[8],
              DesDirection direction);

// Transforms `count` bytes (a multiple of 8) block by block, ECB. The key
// length must be a multiple of 8: one key gives DES, two give K1-K2-K1, three
// or more give three-key Triple DES on the first 24 bytes. Returns false
// without output when a pointer is null, the count or key length is not a
// multiple of 8, the key is empty, or `capacity` is below `count`.
bool TripleDesBuffer(const uint8_t* in, size_t count, DesDirection direction,
                     const uint8_t* key, size_t key_length, uint8_t* out,
                     size_t capacity);

}  // namespace hv

#endif  // HV_VERIFY_DES_H_
