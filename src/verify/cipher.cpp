#include "verify/cipher.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/memory.h"
#include "verify/base64.h"
#include "verify/des.h"

namespace hv {

const char VerifyCipherKey[33] = "5e0c19a7d2f44b8e9a63c1f07b2d58e6";

namespace {

template <typename T>
std::unique_ptr<T[]> NewArray(size_t count) {
  // At least one element, so that an empty buffer still has an address.
  return std::unique_ptr<T[]>(new (std::nothrow) T[count == 0 ? 1 : count]);
}

const uint8_t* KeyBytes() { return reinterpret_cast<const uint8_t*>(VerifyCipherKey); }

size_t RoundUpToBlock(size_t n) { return (n + 7) / 8 * 8; }

}  // namespace

bool Encrypt(const uint8_t* in, size_t n, char* out, size_t capacity,
             size_t* out_length) {
  size_t m = RoundUpToBlock(n);
  if (capacity < 2 * m) return false;
  auto work = NewArray<uint8_t>(m);
  if (!work) return false;
  std::memset(work.get(), '@', m);
  if (n > 0) std::memcpy(work.get() + (m - n), in, n);
  auto* cipher = reinterpret_cast<uint8_t*>(out);
  bool enciphered = TripleDesBuffer(work.get(), m, kDesEncipher, KeyBytes(),
                                    kVerifyCipherKeyLength, cipher, capacity);
  platform::Wipe("cipher work", work.get(), m);  // the plain query, filled
  if (!enciphered) return false;
  auto text = NewArray<char>(2 * m);
  if (!text) return false;
  size_t length = 0;
  bool encoded = Base64Encode(cipher, m, text.get(), 2 * m, &length);
  if (encoded) std::memcpy(out, text.get(), length);
  platform::Wipe("cipher text", text.get(), 2 * m);  // the enciphered query
  if (!encoded) return false;
  *out_length = length;
  return true;
}

bool Decrypt(const char* in, size_t n, uint8_t* out, size_t* out_length) {
  auto work = NewArray<uint8_t>(n);
  if (!work) return false;
  size_t d = 0;
  if (!Base64Decode(in, n, work.get(), n, &d)) return false;
  if (d % 8 != 0) return false;
  if (!TripleDesBuffer(work.get(), d, kDesDecipher, KeyBytes(),
                       kVerifyCipherKeyLength, out, d)) {
    return false;
  }
  if (d == 0) return false;
  size_t fill = 0;
  while (fill < d && out[fill] == '@') ++fill;
  if (fill == d) return false;
  std::memmove(out, out + fill, d - fill);
  *out_length = d - fill;
  return true;
}

std::string UrlEscape(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (alnum) {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ' || (c >= 0x09 && c <= 0x0D)) {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

}  // namespace hv
