#include "verify/des.h"

#include <atomic>
#include <cstring>

#include "verify/des_fast.h"
#include "verify/des_tables.h"

namespace hv {
namespace {

using namespace des_tables;

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

namespace {

// The schedules of the module's key, built once for the process: the
// module always uses the same key. The first caller fills the entry and
// publishes it; a caller that finds it being filled, or holding another
// key, builds its own schedules on its stack. (No thread_local: on Windows
// its first use on a thread allocates, and aborts when that fails.)
struct ScheduleCache {
  std::atomic<int> state{0};  // 0 empty, 1 being filled, 2 ready
  uint8_t key[24] = {};
  size_t keys = 0;
  FastDesSchedule schedules[3];
};
ScheduleCache g_cache;

const FastDesSchedule* CachedSchedules(const uint8_t* key, size_t keys, FastDesSchedule* own) {
  int state = g_cache.state.load(std::memory_order_acquire);
  if (state == 2 && g_cache.keys == keys && std::memcmp(g_cache.key, key, 8 * keys) == 0) {
    return g_cache.schedules;
  }
  for (size_t j = 0; j < keys; ++j) own[j] = FastDesKeySchedule(key + 8 * j);
  if (state == 0 && g_cache.state.compare_exchange_strong(state, 1, std::memory_order_acquire)) {
    for (size_t j = 0; j < keys; ++j) g_cache.schedules[j] = own[j];
    std::memcpy(g_cache.key, key, 8 * keys);
    g_cache.keys = keys;
    g_cache.state.store(2, std::memory_order_release);
  }
  return own;
}

}  // namespace

bool TripleDesBuffer(const uint8_t* in, size_t count, DesDirection direction,
                     const uint8_t* key, size_t key_length, uint8_t* out,
                     size_t capacity) {
  if (in == nullptr || key == nullptr || out == nullptr) return false;
  if (count % 8 != 0 || key_length % 8 != 0 || capacity < count) return false;
  size_t keys = key_length / 8 > 3 ? 3 : key_length / 8;
  if (keys == 0) return false;
  FastDesSchedule own[3];
  const FastDesSchedule* s = CachedSchedules(key, keys, own);

  DesDirection reverse = direction == kDesEncipher ? kDesDecipher : kDesEncipher;
  const FastDesSchedule* order[3];
  DesDirection directions[3];
  int stages;
  if (keys == 1) {
    order[0] = &s[0];
    directions[0] = direction;
    stages = 1;
  } else if (keys == 2) {
    order[0] = &s[0], order[1] = &s[1], order[2] = &s[0];
    directions[0] = direction, directions[1] = reverse, directions[2] = direction;
    stages = 3;
  } else if (direction == kDesEncipher) {
    order[0] = &s[0], order[1] = &s[1], order[2] = &s[2];
    directions[0] = kDesEncipher, directions[1] = kDesDecipher, directions[2] = kDesEncipher;
    stages = 3;
  } else {
    order[0] = &s[2], order[1] = &s[1], order[2] = &s[0];
    directions[0] = kDesDecipher, directions[1] = kDesEncipher, directions[2] = kDesDecipher;
    stages = 3;
  }
  for (size_t at = 0; at < count; at += 8) {
    uint8_t block[8];
    std::memcpy(block, in + at, 8);  // read before the output is written
    FastDesStages(order, directions, stages, block, out + at);
  }
  return true;
}

}  // namespace hv
