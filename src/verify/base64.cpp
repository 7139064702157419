#include "verify/base64.h"

#include <array>

namespace hv {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr uint8_t kPadValue = 64;
constexpr uint8_t kInvalidValue = 65;

// Alphabet characters map to 0..63, '=' to 64, every other byte to 65.
constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> table{};
  for (auto& v : table) v = kInvalidValue;
  for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
  table['='] = kPadValue;
  return table;
}

constexpr std::array<uint8_t, 256> kDecodeTable = MakeDecodeTable();

}  // namespace

bool Base64Encode(const uint8_t* in, size_t n, char* out, size_t capacity,
                  size_t* out_length) {
  if (in == nullptr || out == nullptr) return false;
  size_t needed = 4 * ((n + 2) / 3);
  if (capacity < needed) return false;
  size_t o = 0;
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  if (n - i == 1) {
    uint32_t v = uint32_t{in[i]} << 16;
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = '=';
    out[o++] = '=';
  } else if (n - i == 2) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8);
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = '=';
  }
  if (o < capacity) out[o] = '\0';
  *out_length = o;
  return true;
}

bool Base64Decode(const char* in, size_t n, uint8_t* out, size_t capacity,
                  size_t* out_length) {
  if (in == nullptr || out == nullptr) return false;
  if (capacity < 3 * ((n + 3) / 4)) return false;
  size_t o = 0;
  uint8_t group[4];
  int filled = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = in[i];
    if (c == '\r' || c == '\n' || c == ' ') continue;
    group[filled++] = kDecodeTable[static_cast<uint8_t>(c)];
    if (filled < 4) continue;
    filled = 0;
    unsigned x1 = group[0], x2 = group[1], x3 = group[2], x4 = group[3];
    if (o >= capacity) return false;
    out[o++] = static_cast<uint8_t>(x1 * 4 + (x2 / 16) % 4);
    if (x3 != kPadValue) {
      if (o >= capacity) return false;
      out[o++] = static_cast<uint8_t>(x2 * 16 + (x3 / 4) % 16);
      if (x4 != kPadValue) {
        if (o >= capacity) return false;
        out[o++] = static_cast<uint8_t>(x3 * 64 + x4 % 64);
      }
    }
  }
  if (o < capacity) out[o] = 0;
  *out_length = o;
  return true;
}

}  // namespace hv
