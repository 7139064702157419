// The string-level cipher calls, which log their failures. Kept apart from
// the buffer routines so that tools can use those without the module log.
#include <cstring>
#include <memory>
#include <new>

#include "log/logger.h"
#include "platform/memory.h"
#include "verify/cipher.h"

namespace hv {
namespace {

template <typename T>
std::unique_ptr<T[]> NewArray(size_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count == 0 ? 1 : count]);
}

}  // namespace

bool Encipher(const std::string& plain, std::string* out) {
  size_t m = (plain.size() + 7) / 8 * 8;
  auto text = NewArray<char>(2 * m + 1);
  if (!text) {
    VerifyLog() << HV_W("Encipher : new char array failed!") << LogEndLine;
    return false;
  }
  size_t length = 0;
  bool encrypted = Encrypt(reinterpret_cast<const uint8_t*>(plain.data()), plain.size(), text.get(), 2 * m, &length);
  // The enciphered query is as good as the password to anyone holding the
  // module: escaped from the buffer in place, then the buffer is wiped.
  if (encrypted) *out = UrlEscape(std::string_view(text.get(), length));
  platform::Wipe("cipher text", text.get(), 2 * m + 1);
  if (!encrypted) {
    VerifyLog() << HV_W("Encipher : Encrypt function call failed!") << LogEndLine;
    return false;
  }
  return true;
}

bool Decipher(const std::string& text, std::string* out) {
  auto bytes = NewArray<uint8_t>(text.size() + 1);
  if (!bytes) {
    VerifyLog() << HV_W("Decipher : new char array failed!") << LogEndLine;
    return false;
  }
  size_t length = 0;
  if (!Decrypt(text.data(), text.size(), bytes.get(), &length)) {
    VerifyLog() << HV_W("Decipher : Decrypt function call failed!") << LogEndLine;
    return false;
  }
  const char* start = reinterpret_cast<const char*>(bytes.get());
  const void* nul = std::memchr(start, 0, length);
  out->assign(start, nul ? static_cast<const char*>(nul) - start : length);
  return true;
}

}  // namespace hv
