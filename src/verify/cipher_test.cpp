// The verification cipher end to end: fill, Triple DES, Base64, escaping,
// and the failure lines the wrappers write.
#include "verify/cipher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/log_capture.h"
#include "verify/base64.h"
#include "verify/des.h"

namespace hv {
namespace {

using ::testing::ElementsAre;

// The Base64 text an endpoint would send for `plain`, enciphered as is
// (the caller supplies any '@' fill and a multiple of 8 bytes).
std::string EndpointAnswer(const std::string& plain) {
  std::vector<uint8_t> cipher(plain.size());
  EXPECT_TRUE(TripleDesBuffer(reinterpret_cast<const uint8_t*>(plain.data()), plain.size(),
                              kDesEncipher, reinterpret_cast<const uint8_t*>(VerifyCipherKey),
                              kVerifyCipherKeyLength, cipher.data(), cipher.size()));
  std::vector<char> text(2 * plain.size() + 8);
  size_t n = 0;
  EXPECT_TRUE(Base64Encode(cipher.data(), cipher.size(), text.data(), text.size(), &n));
  return std::string(text.data(), n);
}

std::string Unescape(const std::string& escaped) {
  std::string out;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '%') {
      out.push_back(static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(escaped[i]);
    }
  }
  return out;
}

TEST(Encipher, FifteenByteQueryGetsOneFillByteAndEscapedPadding) {
  std::string text;
  ASSERT_TRUE(Encipher("UserName=a&Pass", &text));
  std::string base64 = Unescape(text);
  EXPECT_EQ(base64.size(), 24u);
  EXPECT_EQ(text.substr(text.size() - 6), "%3D%3D");
  EXPECT_EQ(base64, EndpointAnswer("@UserName=a&Pass"));
}

TEST(Encipher, MultipleOfEightGetsNoFill) {
  std::string text;
  ASSERT_TRUE(Encipher("0123456789abcdef", &text));
  EXPECT_EQ(Unescape(text), EndpointAnswer("0123456789abcdef"));
}

TEST(Encipher, EmptyInputGivesEmptyText) {
  std::string text = "untouched";
  ASSERT_TRUE(Encipher("", &text));
  EXPECT_EQ(text, "");
}

TEST(Decipher, RoundTripsEveryLengthUpTo64) {
  std::string plain;
  for (int n = 1; n <= 64; ++n) {
    plain.push_back(static_cast<char>('A' + n % 26));
    std::string text, back;
    ASSERT_TRUE(Encipher(plain, &text));
    ASSERT_TRUE(Decipher(Unescape(text), &back)) << n;
    EXPECT_EQ(back, plain);
  }
}

TEST(Decipher, StripsFillAndStopsAtNul) {
  std::string out;
  ASSERT_TRUE(Decipher(EndpointAnswer("@@@abcde"), &out));
  EXPECT_EQ(out, "abcde");
  ASSERT_TRUE(Decipher(EndpointAnswer(std::string("@@@ab\0xy", 8)), &out));
  EXPECT_EQ(out, "ab");
  ASSERT_TRUE(Decipher(EndpointAnswer("@@@@@@ok"), &out));
  EXPECT_EQ(out, "ok");
}

TEST(Decipher, IgnoresLineBreaksAndBlanksInTheBody) {
  std::string answer = EndpointAnswer("@@@@@@ok@@@@@@ok");
  std::string broken = answer.substr(0, 5) + "\r\n" + answer.substr(5, 7) + " " + answer.substr(12);
  std::string a, b;
  ASSERT_TRUE(Decipher(answer, &a));
  ASSERT_TRUE(Decipher(broken, &b));
  EXPECT_EQ(a, b);
}

TEST(Decipher, UndecipherableBodiesFailWithTheDecryptLine) {
  const std::string bodies[] = {"", "Zm9v", EndpointAnswer("@@@@@@@@"), "!"};
  for (const std::string& body : bodies) {
    testing::LogCapture log;
    std::string out = "untouched";
    EXPECT_FALSE(Decipher(body, &out)) << body;
    EXPECT_EQ(out, "untouched");
    EXPECT_THAT(log.Messages(), ElementsAre("Decipher : Decrypt function call failed!"));
  }
}

TEST(Encrypt, RefusesTooSmallCapacity) {
  const uint8_t in[9] = {};
  char out[32];
  size_t n = 0;
  EXPECT_FALSE(Encrypt(in, 9, out, 31, &n));
  EXPECT_TRUE(Encrypt(in, 9, out, 32, &n));
  EXPECT_EQ(n, 24u);
}

TEST(UrlEscape, EscapesAllButLettersAndDigits) {
  EXPECT_EQ(UrlEscape("a+b/c="), "a%2Bb%2Fc%3D");
  EXPECT_EQ(UrlEscape(" \t\n\v\f\r"), "++++++");
  EXPECT_EQ(UrlEscape("Az09-_.~"), "Az09%2D%5F%2E%7E");
  EXPECT_EQ(UrlEscape("\x80\xff"), "%80%FF");
  EXPECT_EQ(UrlEscape(std::string("\0", 1)), "%00");
}

}  // namespace
}  // namespace hv
