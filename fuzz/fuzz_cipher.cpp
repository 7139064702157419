// Text through Base64Decode, Decrypt and Decipher; and bytes through
// Encipher then Decipher, which must give the input back ('@' fill and
// everything after a NUL aside).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "verify/base64.h"
#include "verify/cipher.h"

namespace {

std::string Unescape(const std::string& escaped) {
  std::string out;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '%' && i + 2 < escaped.size() + 1) {
      out.push_back(static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(escaped[i]);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> out(size + 1);
  size_t n = 0;
  hv::Base64Decode(input.data(), size, out.data(), size, &n);
  hv::Decrypt(input.data(), size, out.data(), &n);
  std::string plain;
  hv::Decipher(input, &plain);

  std::string cipher_text, back;
  if (!hv::Encipher(input, &cipher_text)) __builtin_trap();
  size_t first = input.find_first_not_of('@');
  std::string expected = first == std::string::npos ? "" : input.substr(first);
  bool deciphered = hv::Decipher(Unescape(cipher_text), &back);
  if (deciphered != !expected.empty()) __builtin_trap();
  if (deciphered && back != expected.substr(0, expected.find('\0'))) __builtin_trap();
  return 0;
}
