#include "verify/protocol.h"

#include <vector>

#include "base/ascii.h"
#include "base/utf.h"
#include "verify/cipher.h"

namespace hv {

const char kVerifyPath[] = "/interface/newauth/index.php";
const char kVerifyQueryStart[] = "?c=";
const char kAnswerAccepted[] = "result=accepted";
const char kAnswerRejected[] = "result=rejected";

namespace {

const char kUserKey[] = "UserName=";
const char kPasswordKey[] = "&PassWord=";

// The escaped cipher text back to Base64 ("%XX" to its byte).
std::string Unescape(const std::string& escaped) {
  std::string text;
  for (size_t i = 0; i < escaped.size(); ++i) {
    int high = i + 2 < escaped.size() ? HexDigitValue(escaped[i + 1]) : -1;
    int low = i + 2 < escaped.size() ? HexDigitValue(escaped[i + 2]) : -1;
    if (escaped[i] == '%' && high >= 0 && low >= 0) {
      text.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      text.push_back(escaped[i]);
    }
  }
  return text;
}

}  // namespace

// Built in one buffer, never grown, so that wiping it wipes every copy.
WString VerifyQuery(const WString& user, const WString& password) {
  const WString user_key = Utf8ToWide(kUserKey), password_key = Utf8ToWide(kPasswordKey);
  WString query;
  query.reserve(user_key.size() + user.size() + password_key.size() + password.size());
  query.append(user_key).append(user).append(password_key).append(password);
  return query;
}

std::string VerifyQuery(const std::string& user, const std::string& password) {
  return kUserKey + user + kPasswordKey + password;
}

bool SplitVerifyQuery(const std::string& query, std::string* user, std::string* password) {
  const std::string user_key = kUserKey, password_key = kPasswordKey;
  if (query.compare(0, user_key.size(), user_key) != 0) return false;
  size_t at = query.find(password_key, user_key.size());
  if (at == std::string::npos) return false;
  *user = query.substr(user_key.size(), at - user_key.size());
  *password = query.substr(at + password_key.size());
  return true;
}

// Built in one buffer, never grown, so that wiping it wipes every copy of
// the cipher text it carries.
WString VerifyUrl(bool tls, WStringView host, const std::string& cipher_text) {
  const WString scheme = tls ? HV_W("https://") : HV_W("http://");
  const WString path = Utf8ToWide(kVerifyPath), query_start = Utf8ToWide(kVerifyQueryStart);
  WString url;
  url.reserve(scheme.size() + host.size() + path.size() + query_start.size() + cipher_text.size());
  url.append(scheme).append(host).append(path).append(query_start);
  // One character at a time: appending the narrow range would build a
  // wide temporary of it first.
  for (char c : cipher_text) url.push_back(static_cast<WChar>(static_cast<unsigned char>(c)));
  return url;
}

std::string VerifyTarget(const std::string& query) {
  std::string cipher_text;
  if (!Encipher(query, &cipher_text)) return "";
  return kVerifyPath + std::string(kVerifyQueryStart) + cipher_text;
}

std::string EncipheredAnswer(const std::string& text) {
  size_t m = (text.size() + 7) / 8 * 8;
  std::vector<char> out(2 * m + 1);
  size_t n = 0;
  if (!Encrypt(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out.data(), 2 * m, &n)) {
    return "";
  }
  return std::string(out.data(), n);
}

std::string QueryOfRequest(const std::string& request) {
  size_t c = request.find(kVerifyQueryStart);
  if (c == std::string::npos) return "<undecipherable>";
  c += std::char_traits<char>::length(kVerifyQueryStart);
  size_t end = request.find(' ', c);
  // Deciphered without the module's logging: a test's log stays its own.
  std::string text = Unescape(request.substr(c, end == std::string::npos ? end : end - c));
  std::vector<uint8_t> plain(text.size() + 1);
  size_t n = 0;
  if (!Decrypt(text.data(), text.size(), plain.data(), &n)) return "<undecipherable>";
  return std::string(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace hv
