#include "verify/des_fast.h"

#include "verify/des_tables.h"

namespace hv {
namespace {

struct Tables {
  uint32_t sp[8][64];
  uint64_t ip[8][256];
  uint64_t fp[8][256];

  Tables() {
    for (int box = 0; box < 8; ++box) {
      for (int x = 0; x < 64; ++x) {
        int row = ((x >> 4) & 2) | (x & 1);
        int column = (x >> 1) & 15;
        uint32_t s_out = static_cast<uint32_t>(des_tables::kSBoxes[box][row][column]) << (28 - 4 * box);
        uint32_t permuted = 0;
        for (int j = 0; j < 32; ++j) {
          int from = des_tables::kPermutation[j];  // 1-based, bit 1 is the top bit
          if (s_out & (1u << (32 - from))) permuted |= 1u << (31 - j);
        }
        sp[box][x] = permuted;
      }
    }
    FillPermutation(des_tables::kIp, ip);
    FillPermutation(des_tables::kIpInverse, fp);
  }

  // table[byte][value]: the output bits that input byte `byte` holding
  // `value` contributes, so a permutation is eight lookups.
  static void FillPermutation(const uint8_t* table, uint64_t (*out)[256]) {
    for (int byte = 0; byte < 8; ++byte) {
      for (int value = 0; value < 256; ++value) {
        uint64_t input = static_cast<uint64_t>(value) << (56 - 8 * byte);
        uint64_t result = 0;
        for (int j = 0; j < 64; ++j) {
          if (input & (uint64_t{1} << (64 - table[j]))) result |= uint64_t{1} << (63 - j);
        }
        out[byte][value] = result;
      }
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

uint64_t Permute(const uint64_t (*table)[256], uint64_t x) {
  uint64_t r = 0;
  for (int byte = 0; byte < 8; ++byte) r |= table[byte][(x >> (56 - 8 * byte)) & 0xFF];
  return r;
}

uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Expansion group i is bits 4i .. 4i+5 of R (1-based, wrapping). Rotated
// right by one, R holds groups 0, 2, 4, 6 at offsets 26, 18, 10, 2; rotated
// left by three, it holds groups 1, 3, 5, 7 there.
uint32_t F(const Tables& t, uint32_t r, const std::array<uint32_t, 2>& k) {
  uint32_t even = RotateLeft(r, 31) ^ k[0];
  uint32_t odd = RotateLeft(r, 3) ^ k[1];
  return t.sp[0][(even >> 26) & 63] | t.sp[2][(even >> 18) & 63] | t.sp[4][(even >> 10) & 63] |
         t.sp[6][(even >> 2) & 63] | t.sp[1][(odd >> 26) & 63] | t.sp[3][(odd >> 18) & 63] |
         t.sp[5][(odd >> 10) & 63] | t.sp[7][(odd >> 2) & 63];
}

void Rounds(const Tables& t, const FastDesSchedule& s, DesDirection d, uint32_t* l, uint32_t* r) {
  uint32_t left = *l, right = *r;
  // Two rounds per step, so that the halves change places without a copy.
  for (int step = 0; step < 8; ++step) {
    int first = d == kDesEncipher ? 2 * step : 15 - 2 * step;
    int second = d == kDesEncipher ? first + 1 : first - 1;
    left ^= F(t, right, s[first]);
    right ^= F(t, left, s[second]);
  }
  // The halves leave exchanged, as R16 L16.
  *l = right;
  *r = left;
}

uint64_t Load(const uint8_t* in) {
  uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x = (x << 8) | in[i];
  return x;
}

void Store(uint64_t x, uint8_t* out) {
  for (int i = 7; i >= 0; --i, x >>= 8) out[i] = static_cast<uint8_t>(x);
}

}  // namespace

FastDesSchedule MakeFastSchedule(const DesSchedule& reference) {
  FastDesSchedule fast{};
  for (int round = 0; round < 16; ++round) {
    for (int g = 0; g < 8; ++g) {
      uint32_t v = 0;
      for (int b = 0; b < 6; ++b) v = (v << 1) | reference[round][g * 6 + b];
      fast[round][g & 1] |= v << (26 - 8 * (g >> 1));
    }
  }
  return fast;
}

FastDesSchedule FastDesKeySchedule(const uint8_t key[8]) {
  DesSchedule reference;
  DesKeySchedule(key, &reference);
  return MakeFastSchedule(reference);
}

void FastDesStages(const FastDesSchedule* const* schedules, const DesDirection* directions,
                   int stages, const uint8_t in[8], uint8_t out[8]) {
  const Tables& t = T();
  uint64_t x = Permute(t.ip, Load(in));
  uint32_t l = static_cast<uint32_t>(x >> 32), r = static_cast<uint32_t>(x);
  // Between stages the final and initial permutations cancel.
  for (int i = 0; i < stages; ++i) Rounds(t, *schedules[i], directions[i], &l, &r);
  Store(Permute(t.fp, (uint64_t{l} << 32) | r), out);
}

void FastDesBlock(const FastDesSchedule& schedule, const uint8_t in[8], uint8_t out[8],
                  DesDirection direction) {
  const FastDesSchedule* s[1] = {&schedule};
  FastDesStages(s, &direction, 1, in, out);
}

}  // namespace hv
