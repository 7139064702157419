#include "tests/support/endpoint_answer.h"

#include <vector>

#include "verify/cipher.h"

namespace hv::testing {

std::string EncipheredAnswer(const std::string& text) {
  size_t m = (text.size() + 7) / 8 * 8;
  std::vector<char> out(2 * m + 1);
  size_t n = 0;
  if (!Encrypt(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out.data(),
               2 * m, &n)) {
    return "";
  }
  return std::string(out.data(), n);
}

std::string QueryOfRequest(const std::string& request) {
  size_t c = request.find("?c=");
  size_t end = request.find(' ', c);
  if (c == std::string::npos || end == std::string::npos) return "<undecipherable>";
  std::string escaped = request.substr(c + 3, end - c - 3), text;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '%' && i + 2 < escaped.size()) {
      text.push_back(static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      text.push_back(escaped[i]);
    }
  }
  std::vector<uint8_t> plain(text.size() + 1);
  size_t n = 0;
  if (!Decrypt(text.data(), text.size(), plain.data(), &n)) return "<undecipherable>";
  return std::string(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace hv::testing
