#include "accounts.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "base/ascii.h"

namespace hv::endpoint {
namespace {

constexpr char kScheme[] = "pbkdf2-sha256";
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;

std::string ToHex(const unsigned char* data, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < n; ++i) {
    hex.push_back(kDigits[data[i] >> 4]);
    hex.push_back(kDigits[data[i] & 15]);
  }
  return hex;
}

bool FromHex(const std::string& hex, std::vector<unsigned char>* out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return true;
}

bool Derive(const std::string& password, const std::vector<unsigned char>& salt, int iterations,
            unsigned char* hash) {
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                           static_cast<int>(salt.size()), iterations, EVP_sha256(),
                           static_cast<int>(kHashBytes), hash) == 1;
}

struct Record {
  int iterations = 0;
  std::vector<unsigned char> salt, hash;
};

bool ParseRecord(const std::string& text, Record* record) {
  std::istringstream in(text);
  std::string scheme, iterations, salt, hash;
  if (!std::getline(in, scheme, '$') || scheme != kScheme || !std::getline(in, iterations, '$') ||
      !std::getline(in, salt, '$') || !std::getline(in, hash)) {
    return false;
  }
  return ParseStrictDecimal(iterations, std::numeric_limits<int>::max(), &record->iterations) &&
         record->iterations > 0 && FromHex(salt, &record->salt) && FromHex(hash, &record->hash) &&
         record->hash.size() == kHashBytes;
}

}  // namespace

bool Accounts::Load(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the accounts file " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty()) continue;
    size_t tab = line.find('\t');
    Record record;
    if (tab == std::string::npos || !ParseRecord(line.substr(tab + 1), &record)) {
      *error = path + ":" + std::to_string(number) + ": malformed account line";
      return false;
    }
    records_[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return true;
}

bool Accounts::Check(const std::string& user, const std::string& password) const {
  auto it = records_.find(user);
  Record record;
  if (it == records_.end() || !ParseRecord(it->second, &record)) return false;
  unsigned char hash[kHashBytes];
  if (!Derive(password, record.salt, record.iterations, hash)) return false;
  return CRYPTO_memcmp(hash, record.hash.data(), kHashBytes) == 0;
}

std::string HashPassword(const std::string& password, int iterations) {
  std::vector<unsigned char> salt(kSaltBytes);
  unsigned char hash[kHashBytes];
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1 ||
      !Derive(password, salt, iterations, hash)) {
    return "";
  }
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" +
         ToHex(salt.data(), salt.size()) + "$" + ToHex(hash, kHashBytes);
}

bool StoreAccount(const std::string& path, const std::string& user, const std::string& record,
                  std::string* error) {
  std::vector<std::string> lines;
  {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.substr(0, line.find('\t')) != user) lines.push_back(line);
    }
  }
  lines.push_back(user + "\t" + record);
  std::ofstream out(path, std::ios::trunc);
  for (const std::string& line : lines) out << line << "\n";
  if (!out) {
    *error = "cannot write the accounts file " + path;
    return false;
  }
  return true;
}

}  // namespace hv::endpoint
