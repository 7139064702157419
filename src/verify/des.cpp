#include "verify/des.h"

#include <cstring>

namespace hv {
namespace {

// Tables of FIPS 46-3; positions count from 1.
const uint8_t kIp[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
const uint8_t kIpInverse[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
const uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
const uint8_t kPermutation[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
const uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
const uint8_t kPc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
const uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
const uint8_t kSBoxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

void BytesToBits(const uint8_t* bytes, size_t count, uint8_t* bits) {
  for (size_t i = 0; i < count * 8; ++i) {
    bits[i] = (bytes[i / 8] >> (7 - i % 8)) & 1;
  }
}

void BitsToBytes(const uint8_t* bits, size_t count, uint8_t* bytes) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = 0;
    for (size_t k = 0; k < 8; ++k) b = static_cast<uint8_t>((b << 1) | bits[i * 8 + k]);
    bytes[i] = b;
  }
}

void Permute(const uint8_t* in, const uint8_t* table, size_t count, uint8_t* out) {
  for (size_t i = 0; i < count; ++i) out[i] = in[table[i] - 1];
}

void RotateLeft(uint8_t* half, int shift) {
  uint8_t tmp[28];
  for (int i = 0; i < 28; ++i) tmp[i] = half[(i + shift) % 28];
  std::memcpy(half, tmp, 28);
}

// f(R, K): expansion, key addition, S-boxes, permutation P.
void CipherFunction(const uint8_t* r, const uint8_t* subkey, uint8_t* result) {
  uint8_t expanded[48];
  Permute(r, kExpansion, 48, expanded);
  for (int i = 0; i < 48; ++i) expanded[i] ^= subkey[i];
  uint8_t substituted[32];
  for (int box = 0; box < 8; ++box) {
    const uint8_t* g = expanded + box * 6;
    int row = (g[0] << 1) | g[5];
    int column = (g[1] << 3) | (g[2] << 2) | (g[3] << 1) | g[4];
    int value = kSBoxes[box][row][column];
    for (int k = 0; k < 4; ++k) substituted[box * 4 + k] = (value >> (3 - k)) & 1;
  }
  Permute(substituted, kPermutation, 32, result);
}

}  // namespace

void DesKeySchedule(const uint8_t key[8], DesSchedule* schedule) {
  uint8_t key_bits[64];
  BytesToBits(key, 8, key_bits);
  uint8_t cd[56];
  Permute(key_bits, kPc1, 56, cd);
  for (int round = 0; round < 16; ++round) {
    RotateLeft(cd, kShifts[round]);
    RotateLeft(cd + 28, kShifts[round]);
    Permute(cd, kPc2, 48, (*schedule)[round].data());
  }
}

void DesBlock(const DesSchedule& schedule, const uint8_t in[8], uint8_t out[8],
              DesDirection direction) {
  uint8_t bits[64];
  BytesToBits(in, 8, bits);
  uint8_t lr[64];
  Permute(bits, kIp, 64, lr);
  uint8_t* l = lr;
  uint8_t* r = lr + 32;
  for (int round = 0; round < 16; ++round) {
    int k = direction == kDesEncipher ? round : 15 - round;
    uint8_t f[32];
    CipherFunction(r, schedule[k].data(), f);
    for (int i = 0; i < 32; ++i) {
      uint8_t kept = r[i];
      r[i] = l[i] ^ f[i];
      l[i] = kept;
    }
  }
  uint8_t rl[64];
  std::memcpy(rl, r, 32);
  std::memcpy(rl + 32, l, 32);
  Permute(rl, kIpInverse, 64, bits);
  BitsToBytes(bits, 8, out);
}

bool TripleDesBuffer(const uint8_t* in, size_t count, DesDirection direction,
                     const uint8_t* key, size_t key_length, uint8_t* out,
                     size_t capacity) {
  if (in == nullptr || key == nullptr || out == nullptr) return false;
  if (count % 8 != 0 || key_length % 8 != 0 || capacity < count) return false;
  size_t keys = key_length / 8 > 3 ? 3 : key_length / 8;
  if (keys == 0) return false;
  DesSchedule schedules[3];
  for (size_t j = 0; j < keys; ++j) DesKeySchedule(key + 8 * j, &schedules[j]);

  DesDirection reverse = direction == kDesEncipher ? kDesDecipher : kDesEncipher;
  for (size_t at = 0; at < count; at += 8) {
    uint8_t block[8];
    std::memcpy(block, in + at, 8);
    if (keys == 1) {
      DesBlock(schedules[0], block, block, direction);
    } else if (keys == 2) {
      DesBlock(schedules[0], block, block, direction);
      DesBlock(schedules[1], block, block, reverse);
      DesBlock(schedules[0], block, block, direction);
    } else if (direction == kDesEncipher) {
      DesBlock(schedules[0], block, block, kDesEncipher);
      DesBlock(schedules[1], block, block, kDesDecipher);
      DesBlock(schedules[2], block, block, kDesEncipher);
    } else {
      DesBlock(schedules[2], block, block, kDesDecipher);
      DesBlock(schedules[1], block, block, kDesEncipher);
      DesBlock(schedules[0], block, block, kDesDecipher);
    }
    std::memcpy(out + at, block, 8);
  }
  return true;
}

}  // namespace hv
