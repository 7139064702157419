// The cipher against OpenSSL, an implementation nobody here wrote:
// des-ede3-ecb and Base64 on random inputs of every length from 0 to 100.
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "verify/base64.h"
#include "verify/cipher.h"
#include "verify/des.h"

namespace hv {
namespace {

std::vector<uint8_t> OpenSslTripleDes(const std::vector<uint8_t>& key,
                                      const std::vector<uint8_t>& in, bool encipher) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<uint8_t> out(in.size() + 16);
  int n = 0, tail = 0;
  EVP_CipherInit_ex(ctx, EVP_des_ede3_ecb(), nullptr, key.data(), nullptr, encipher ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + tail));
  return out;
}

std::string OpenSslBase64(const std::vector<uint8_t>& in) {
  std::vector<unsigned char> out(4 * ((in.size() + 2) / 3) + 1);
  int n = EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(in.size()));
  return std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(n));
}

std::vector<uint8_t> RandomBytes(std::mt19937* rng, size_t n) {
  std::vector<uint8_t> bytes(n);
  bytes.reserve(1);  // a real buffer even when empty: null means "missing"
  for (auto& b : bytes) b = static_cast<uint8_t>((*rng)());
  return bytes;
}

TEST(CipherOracle, TripleDesMatchesOpenSslOnRandomKeysAndData) {
  std::mt19937 rng(20261209);
  for (size_t blocks = 0; blocks <= 12; ++blocks) {
    std::vector<uint8_t> key = RandomBytes(&rng, 24);
    std::vector<uint8_t> data = RandomBytes(&rng, blocks * 8);
    std::vector<uint8_t> ours(data.size());
    ours.reserve(1);
    ASSERT_TRUE(TripleDesBuffer(data.data(), data.size(), kDesEncipher, key.data(), 24,
                                ours.data(), ours.size()));
    EXPECT_EQ(ours, OpenSslTripleDes(key, data, true));
    ASSERT_TRUE(TripleDesBuffer(ours.data(), ours.size(), kDesDecipher, key.data(), 24,
                                ours.data(), ours.size()));
    EXPECT_EQ(ours, data);
  }
}

TEST(CipherOracle, Base64MatchesOpenSslForEveryLengthUpTo100) {
  std::mt19937 rng(7);
  for (size_t n = 0; n <= 100; ++n) {
    std::vector<uint8_t> data = RandomBytes(&rng, n);
    std::vector<char> ours(4 * ((n + 2) / 3) + 1);
    size_t len = 0;
    ASSERT_TRUE(Base64Encode(data.data(), n, ours.data(), ours.size(), &len));
    EXPECT_EQ(std::string(ours.data(), len), OpenSslBase64(data));
  }
}

TEST(CipherOracle, EncipherEqualsOpenSslPipelineForEveryLengthUpTo100) {
  std::mt19937 rng(11);
  std::vector<uint8_t> key(VerifyCipherKey, VerifyCipherKey + 24);
  for (size_t n = 0; n <= 100; ++n) {
    std::vector<uint8_t> plain = RandomBytes(&rng, n);
    std::vector<uint8_t> filled((8 - n % 8) % 8, '@');
    filled.insert(filled.end(), plain.begin(), plain.end());
    std::string expected = UrlEscape(OpenSslBase64(OpenSslTripleDes(key, filled, true)));
    std::string text;
    ASSERT_TRUE(Encipher(std::string(plain.begin(), plain.end()), &text));
    EXPECT_EQ(text, expected) << n;
  }
}

}  // namespace
}  // namespace hv
