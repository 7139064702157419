// The client sessions the OpenSSL build keeps for resumption (see
// platform/tls.h): per key, the SSL_CTX its connections share and a few
// sessions, each with the facts of the full handshake that made it; a few
// keys, each for a few minutes (so that a changed trust store is read
// again), the least recently used dropped first. A session is handed out
// once: TLS 1.3 tickets are single-use.
//
// Internal to tls_posix.cpp. Thread-safe: one lock. Ownership: Take hands
// out references the caller frees (SSL_CTX_free, SSL_SESSION_free); Keep
// takes the references it is given. Dropping frees them, and OpenSSL
// wipes a session's secrets as it frees it.
#ifndef HV_PLATFORM_TLS_KEPT_POSIX_H_
#define HV_PLATFORM_TLS_KEPT_POSIX_H_

#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/tls.h"

namespace hv::platform::kept {

constexpr size_t kKeys = 4;
constexpr size_t kSessionsPerKey = 4;
constexpr int kMaxAgeSeconds = 300;

struct Session {
  SSL_SESSION* session = nullptr;
  TlsFacts facts;  // of the full handshake that made it
};

// The context for `key` (made by `make` when none is kept; null when that
// fails) and, when one is kept, a session (else session->session stays
// null). *generation: to give Keep back.
SSL_CTX* Take(const std::string& key, const std::function<SSL_CTX*()>& make, Session* session,
              uint64_t* generation);
// Keeps `sessions` under `key` unless everything was forgotten since the
// Take that gave `generation`; frees what it does not keep. Clears
// `sessions`.
void Keep(const std::string& key, uint64_t generation, std::vector<Session>* sessions);
// Drops every key.
void Forget();
// The sessions kept now.
size_t Count();

}  // namespace hv::platform::kept

#endif  // HV_PLATFORM_TLS_KEPT_POSIX_H_
