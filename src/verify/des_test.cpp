// DES and Triple DES against published known-answer vectors.
#include "verify/des.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "verify/des_fast.h"

namespace hv {
namespace {

std::vector<uint8_t> Hex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  std::string hex;
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    hex += digits;
  }
  return hex;
}

std::vector<uint8_t> Transform(const std::string& key, const std::string& data,
                         DesDirection direction) {
  std::vector<uint8_t> k = Hex(key), in = Hex(data), out(in.size());
  EXPECT_TRUE(TripleDesBuffer(in.data(), in.size(), direction, k.data(), k.size(),
                              out.data(), out.size()));
  return out;
}

struct KnownAnswer {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Single-DES vectors from the classic worked example and the NBS/NIST
// validation sets, and the three-key TDEA example of NIST SP 800-67.
const KnownAnswer kVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123",
     "5468652071756663" "6B2062726F776E20" "666F78206A756D70",
     "A826FD8CE53B855F" "CCE21C8112256FE6" "68D5C05DD9B6B900"},
};

TEST(DesKnownAnswer, EnciphersAndDeciphersPublishedVectors) {
  for (const auto& v : kVectors) {
    SCOPED_TRACE(v.key);
    EXPECT_EQ(Transform(v.key, v.plain, kDesEncipher), Hex(v.cipher));
    EXPECT_EQ(Transform(v.key, v.cipher, kDesDecipher), Hex(v.plain));
  }
}

TEST(TripleDesBuffer, KeyLengthSelectsTheVariant) {
  const std::string k1 = "0123456789ABCDEF", k2 = "23456789ABCDEF01";
  const std::string plain = "5468652071756663";
  // Two keys: K1, K2 reversed, K1 — the same as three keys K1 K2 K1.
  EXPECT_EQ(Transform(k1 + k2, plain, kDesEncipher), Transform(k1 + k2 + k1, plain, kDesEncipher));
  EXPECT_EQ(Transform(k1 + k2, ToHex(Transform(k1 + k2, plain, kDesEncipher)), kDesDecipher), Hex(plain));
  // Three equal keys collapse to single DES; a fourth key takes no part.
  EXPECT_EQ(Transform(k1 + k1 + k1, plain, kDesEncipher), Transform(k1, plain, kDesEncipher));
  EXPECT_EQ(Transform(k1 + k2 + k1 + k2, plain, kDesEncipher), Transform(k1 + k2 + k1, plain, kDesEncipher));
}

TEST(TripleDesBuffer, RefusesMalformedArguments) {
  uint8_t key[24] = {1, 2, 3};
  uint8_t in[16] = {}, out[16] = {};
  EXPECT_FALSE(TripleDesBuffer(in, 16, kDesEncipher, key, 4, out, 16));
  EXPECT_FALSE(TripleDesBuffer(in, 16, kDesEncipher, key, 0, out, 16));
  EXPECT_FALSE(TripleDesBuffer(in, 15, kDesEncipher, key, 24, out, 16));
  EXPECT_FALSE(TripleDesBuffer(in, 16, kDesEncipher, key, 24, out, 15));
  EXPECT_FALSE(TripleDesBuffer(nullptr, 16, kDesEncipher, key, 24, out, 16));
  EXPECT_FALSE(TripleDesBuffer(in, 16, kDesEncipher, nullptr, 24, out, 16));
  EXPECT_FALSE(TripleDesBuffer(in, 16, kDesEncipher, key, 24, nullptr, 16));
  EXPECT_TRUE(TripleDesBuffer(in, 0, kDesEncipher, key, 24, out, 0));
}

TEST(TripleDesBuffer, InPlaceTransformGivesTheSameResult) {
  std::vector<uint8_t> key = Hex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
  std::vector<uint8_t> data = Hex("5468652071756663" "6B2062726F776E20");
  std::vector<uint8_t> copy(data.size());
  ASSERT_TRUE(TripleDesBuffer(data.data(), data.size(), kDesEncipher, key.data(), 24,
                              copy.data(), copy.size()));
  ASSERT_TRUE(TripleDesBuffer(data.data(), data.size(), kDesEncipher, key.data(), 24,
                              data.data(), data.size()));
  EXPECT_EQ(data, copy);
}

}  // namespace
}  // namespace hv

namespace hv {
namespace {

// The table-driven path must give what the bit-array reference gives.
TEST(FastDes, MatchesTheReferenceOnRandomKeysAndBlocks) {
  std::mt19937 rng(46);
  for (int i = 0; i < 300; ++i) {
    uint8_t key[24], block[8], reference[8], fast[8];
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : block) b = static_cast<uint8_t>(rng());
    for (DesDirection d : {kDesEncipher, kDesDecipher}) {
      DesSchedule schedule;
      DesKeySchedule(key, &schedule);
      DesBlock(schedule, block, reference, d);
      FastDesBlock(MakeFastSchedule(schedule), block, fast, d);
      ASSERT_EQ(std::memcmp(reference, fast, 8), 0);
    }
    // Three-key Triple DES through the buffer routine against three
    // reference blocks.
    DesSchedule k1, k2, k3;
    DesKeySchedule(key, &k1);
    DesKeySchedule(key + 8, &k2);
    DesKeySchedule(key + 16, &k3);
    DesBlock(k1, block, reference, kDesEncipher);
    DesBlock(k2, reference, reference, kDesDecipher);
    DesBlock(k3, reference, reference, kDesEncipher);
    ASSERT_TRUE(TripleDesBuffer(block, 8, kDesEncipher, key, 24, fast, 8));
    ASSERT_EQ(std::memcmp(reference, fast, 8), 0);
  }
}

}  // namespace
}  // namespace hv
