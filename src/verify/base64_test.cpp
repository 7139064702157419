// Base64 against RFC 4648, and the decoder's permissive rules that
// endpoints rely on.
#include "verify/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hv {
namespace {

std::string Encode(const std::string& bytes) {
  std::vector<char> out(4 * ((bytes.size() + 2) / 3) + 1);
  size_t n = 0;
  EXPECT_TRUE(Base64Encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                           out.data(), out.size(), &n));
  return std::string(out.data(), n);
}

// Decodes with the capacity the cipher uses (the text's own length).
bool Decode(const std::string& text, std::string* bytes) {
  std::vector<uint8_t> out(text.size() + 1);
  size_t n = 0;
  if (!Base64Decode(text.data(), text.size(), out.data(), text.size(), &n)) return false;
  bytes->assign(reinterpret_cast<const char*>(out.data()), n);
  return true;
}

TEST(Base64, Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(Encode(plain), encoded);
    std::string decoded;
    ASSERT_TRUE(Decode(encoded, &decoded)) << encoded;
    EXPECT_EQ(decoded, plain);
  }
}

TEST(Base64, EncodeRefusesTooSmallCapacityAndTerminatesWhenRoom) {
  const uint8_t in[4] = {1, 2, 3, 4};
  char out[9];
  size_t n = 0;
  EXPECT_FALSE(Base64Encode(in, 4, out, 7, &n));
  ASSERT_TRUE(Base64Encode(in, 4, out, 8, &n));
  EXPECT_EQ(n, 8u);
  out[8] = 'x';
  ASSERT_TRUE(Base64Encode(in, 4, out, 9, &n));
  EXPECT_EQ(out[8], '\0');
}

TEST(Base64, DecoderSkipsLineBreaksAndBlanksAnywhere) {
  std::string plain;
  ASSERT_TRUE(Decode("Zm9v\r\nYm Fy\n", &plain));
  EXPECT_EQ(plain, "foobar");
}

TEST(Base64, DecoderCapacityRuleRejectsLengthsOneTwoAndFive) {
  std::string out;
  EXPECT_FALSE(Decode("Z", &out));
  EXPECT_FALSE(Decode("Zm", &out));
  EXPECT_FALSE(Decode("Zm9vY", &out));
  EXPECT_TRUE(Decode("Zm9", &out));  // an incomplete group is dropped
  EXPECT_EQ(out, "");
}

TEST(Base64, DecoderUsesValue65ForBytesOutsideTheAlphabet) {
  // '*' is 65: x1*4 + (x2/16)%4 with x1 = 65, x2 = 'A' (0) gives 260 % 256.
  std::string out;
  ASSERT_TRUE(Decode("*AAA", &out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(static_cast<uint8_t>(out[0]), 4);
  // 0x80 and above map to 65 as well.
  ASSERT_TRUE(Decode("\xC3" "AAA", &out));
  EXPECT_EQ(static_cast<uint8_t>(out[0]), 4);
}

TEST(Base64, DecoderContinuesAfterPaddedGroups) {
  std::string out;
  ASSERT_TRUE(Decode("Zg==Zg==", &out));
  EXPECT_EQ(out, "ff");
  // '=' in the third place ends that group's output without looking at x4.
  ASSERT_TRUE(Decode("Zm=v", &out));
  EXPECT_EQ(out, "f");
}

TEST(Base64, DecoderCapacityMustCoverThreeBytesPerGroup) {
  uint8_t out[3];
  size_t n = 0;
  EXPECT_FALSE(Base64Decode("Zm9vYmFy", 8, out, 3, &n));  // capacity rule
  EXPECT_TRUE(Base64Decode("Zm9v", 4, out, 3, &n));
  EXPECT_EQ(n, 3u);
}

}  // namespace
}  // namespace hv
