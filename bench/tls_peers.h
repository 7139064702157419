// The TLS side of the benchmarks: a loopback OpenSSL endpoint with a
// certificate made at start-up (issuing TLS 1.3 tickets, as OpenSSL's
// servers do by default), and what a user who did not take the module
// would write to verify over it: libcurl (a fresh handle each time, the
// same certificate pinned; alone, or sharing one TLS session cache between
// the handles) and, as the floor of a full handshake, a plain OpenSSL
// client doing the same exchange and the same pin check (alone, or resuming
// the sessions of its earlier exchanges as the module does: the floor of a
// resumed handshake).
#ifndef HV_BENCH_TLS_PEERS_H_
#define HV_BENCH_TLS_PEERS_H_

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>

namespace hv::bench {

// Answers every request with `response` and close_notify, on two threads.
class TlsEndpoint {
 public:
  explicit TlsEndpoint(const std::string& response);
  ~TlsEndpoint();
  TlsEndpoint(const TlsEndpoint&) = delete;
  TlsEndpoint& operator=(const TlsEndpoint&) = delete;
  uint16_t port() const;
  // The certificate's SHA-256 (of its DER) in hexadecimal: the module's pin.
  const std::string& certificate_pin() const;
  // Its public key's SHA-256 as libcurl pins it ("sha256//" and Base64).
  const std::string& curl_pin() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// `share`: null, or a share handle the handle takes its TLS sessions from
// (SharedTlsSessions()).
bool CurlVerifyTls(uint16_t port, const std::string& curl_pin, const std::string& user,
                   const std::string& password, std::string* answer, CURLSH* share = nullptr);

// One libcurl share handle for TLS sessions, locked for any thread, for the
// life of the process.
CURLSH* SharedTlsSessions();

// Connect, handshake, compare the certificate's SHA-256 with the pin
// (hexadecimal), write `request`, read until the peer's close_notify.
// `resume`: one context for every exchange, each offering a session an
// earlier one received (each session offered once, as TLS 1.3 tickets are
// meant to be), as the module does.
bool TlsSocketExchange(uint16_t port, const std::string& certificate_pin, const std::string& request,
                       std::string* response, bool resume = false);

}  // namespace hv::bench

#endif  // HV_BENCH_TLS_PEERS_H_
