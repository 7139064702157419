// What a user who did not take the module would write, for comparison:
// the same cipher with OpenSSL, and the same exchange with libcurl or with
// a plain blocking socket.
#ifndef HV_BENCH_PEERS_H_
#define HV_BENCH_PEERS_H_

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <string>

namespace hv::bench {

// '@' fill, des-ede3-ecb, EVP_EncodeBlock, then the same escaping.
std::string OpenSslEncipher(const std::string& plain);
// EVP_DecodeBlock (blanks and line breaks removed), des-ede3-ecb, '@' strip.
bool OpenSslDecipher(const std::string& text, std::string* plain);

// One verification with a new libcurl easy handle: GET, body into memory,
// the answer deciphered with OpenSSL.
bool CurlVerify(uint16_t port, const std::string& user, const std::string& password,
                std::string* answer);
// The same against `origin` ("http://127.0.0.1:PORT" or "https://..."),
// with `configure` (when set) adding its options to the handle first.
bool CurlVerifyAt(const std::string& origin, const std::string& user, const std::string& password,
                  const std::function<void(CURL*)>& configure, std::string* answer);

// A blocking TCP connection to 127.0.0.1:`port` without Nagle's delay;
// -1 when it fails.
int ConnectLoopback(uint16_t port);

// The floor: connect, write `request`, read until the peer closes, close.
bool PlainSocketExchange(uint16_t port, const std::string& request, std::string* response);

// The log's share of the floor: a file opened for appending, and six lines
// of about 60 bytes written to it one write each, as a verification's log
// must write them.
class AppendedLines {
 public:
  explicit AppendedLines(const std::string& path);
  ~AppendedLines();
  AppendedLines(const AppendedLines&) = delete;
  AppendedLines& operator=(const AppendedLines&) = delete;
  bool WriteSix();

 private:
  int fd_;
};

}  // namespace hv::bench

#endif  // HV_BENCH_PEERS_H_
