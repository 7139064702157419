// The endpoint's accounts file: one account per line, the user name, a tab,
// and "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and hash in hexadecimal).
// Passwords are never stored in plain text.
#ifndef HV_TOOLS_VERIFY_ENDPOINT_ACCOUNTS_H_
#define HV_TOOLS_VERIFY_ENDPOINT_ACCOUNTS_H_

#include <map>
#include <string>

namespace hv::endpoint {

class Accounts {
 public:
  // Reads `path`. Returns false (with `*error` set) when it cannot be read
  // or holds a malformed line.
  bool Load(const std::string& path, std::string* error);
  // True when `user` exists and `password` matches its hash.
  bool Check(const std::string& user, const std::string& password) const;

 private:
  std::map<std::string, std::string> records_;  // user -> hash record
};

// A new hash record for `password` with a random salt.
std::string HashPassword(const std::string& password, int iterations);

// Appends or replaces the account `user` in the file `path`.
bool StoreAccount(const std::string& path, const std::string& user, const std::string& record,
                  std::string* error);

}  // namespace hv::endpoint

#endif  // HV_TOOLS_VERIFY_ENDPOINT_ACCOUNTS_H_
