// POSIX implementation of platform/tls.h: OpenSSL's libssl over memory
// BIOs.
#include "platform/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/tls_facts_posix.h"
#include "platform/tls_kept_posix.h"

namespace hv::platform {

namespace {

// The sessions OpenSSL hands the client (a TLS 1.2 session at the end of
// the handshake, TLS 1.3 tickets after it), collected per connection
// until it ends: kept only from a connection the caller accepted.
struct Collected {
  std::vector<SSL_SESSION*> sessions;
  ~Collected() { Clear(); }
  void Clear() {
    for (SSL_SESSION* s : sessions) SSL_SESSION_free(s);
    sessions.clear();
  }
};

int OnNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* collected = static_cast<Collected*>(SSL_get_app_data(ssl));
  if (collected == nullptr || collected->sessions.size() >= kept::kSessionsPerKey) return 0;
  collected->sessions.push_back(session);
  return 1;  // the reference is ours
}

std::atomic<uint64_t> offered_count{0};
std::atomic<uint64_t> resumed_count{0};
std::atomic<bool> refuse_encryption{false};

}  // namespace

struct TlsSession::Impl {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // peer → engine, owned by ssl
  BIO* out = nullptr;  // engine → peer, owned by ssl
  std::string pins;  // 32 bytes per accepted certificate; empty: chain and name
  std::string key;   // empty: nothing offered or kept
  uint64_t generation = 0;
  TlsFacts inherited;  // of the full handshake, when a kept session was offered
  bool offered = false;
  bool accepted = false;
  bool failed = false;
  TlsFacts accepted_facts;
  Collected collected;
  ~Impl() {
    // A TLS 1.2 resumption brings no new session: the one it resumed
    // serves again (TLS 1.3 brings new tickets, each used once).
    if (accepted && !failed && collected.sessions.empty() && SSL_session_reused(ssl) == 1 &&
        SSL_version(ssl) == TLS1_2_VERSION) {
      if (SSL_SESSION* again = SSL_get1_session(ssl)) collected.sessions.push_back(again);
    }
    if (accepted && !failed && !key.empty() && !collected.sessions.empty()) {
      // The connection ended well though the module sends no close_notify
      // of its own: without this SSL_free would mark its sessions spent.
      SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
      std::vector<kept::Session> keep;
      for (SSL_SESSION* session : collected.sessions) keep.push_back({session, accepted_facts});
      collected.sessions.clear();
      kept::Keep(key, generation, &keep);
    }
    if (ssl != nullptr) SSL_free(ssl);
    if (ctx != nullptr) SSL_CTX_free(ctx);
  }
};

namespace {

std::string test_authority;  // DER; empty: the trust store

bool IsAddressLiteral(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

uint32_t LastTlsError() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  return code != 0 ? static_cast<uint32_t>(code & 0xFFFFFFFFu) : 1;
}

void Drain(BIO* out, std::string* to_send) {
  char buffer[4096];
  for (int n; (n = BIO_read(out, buffer, sizeof buffer)) > 0;) to_send->append(buffer, static_cast<size_t>(n));
}

bool Feed(BIO* in, std::string* received) {
  if (!received->empty() &&
      BIO_write(in, received->data(), static_cast<int>(received->size())) != static_cast<int>(received->size())) {
    return false;
  }
  received->clear();
  return true;
}

// The server certificate's SHA-256 against each pin.
bool PinMatches(SSL* ssl, const std::string& pins) {
  X509* cert = SSL_get1_peer_certificate(ssl);
  if (cert == nullptr) return false;
  unsigned char digest[32];
  unsigned int length = 0;
  bool ok = X509_digest(cert, EVP_sha256(), digest, &length) == 1 && length == 32;
  bool match = false;
  for (size_t at = 0; ok && at + 32 <= pins.size(); at += 32) match |= std::memcmp(digest, pins.data() + at, 32) == 0;
  X509_free(cert);
  return match;
}

}  // namespace

TlsSession::TlsSession() : impl_(new Impl) {}
TlsSession::~TlsSession() = default;

bool TlsAvailable() { return true; }

const char* TlsTrustFileVariable() { return "SSL_CERT_FILE"; }

const char* TlsErrorText(uint32_t error) {
  if (error < 256) return X509_verify_cert_error_string(static_cast<long>(error));  // a certificate's verdict
  if (ERR_GET_LIB(error) == ERR_LIB_SSL) {
    switch (ERR_GET_REASON(error)) {
      case SSL_R_DH_KEY_TOO_SMALL:
        return "the server's Diffie-Hellman group is too weak";
      case SSL_R_UNSUPPORTED_PROTOCOL:
      case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
      case SSL_R_NO_PROTOCOLS_AVAILABLE:
      case SSL_R_VERSION_TOO_LOW:
        return "the server speaks no TLS version the module accepts (TLS 1.2 or later)";
      case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
      case SSL_R_NO_SHARED_CIPHER:
        return "the server shares no cipher or key-exchange group the module accepts (no RSA key transport; "
               "X25519, P-256 or P-384 in TLS 1.3)";
      default:
        break;
    }
  }
  return ERR_reason_error_string(error);
}

namespace {

// A context with the module's settings: TLS 1.2 or later, and with pins
// no chain check (the pin decides, after the handshake); else the trust
// store, or the test authority alone.
SSL_CTX* MakeContext(bool pinned) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) return nullptr;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Level 2 whatever the system's configuration says: RSA, DSA and
  // finite-field groups of 2048 bits at least, no SHA-1 or MD5 in
  // signatures, during the handshake; the module's policy judges the
  // rest after it (EC sizes, pinned certificates).
  SSL_CTX_set_security_level(ctx, 2);
  // What Schannel offers, so that both builds meet a server alike: no RSA
  // key transport (no forward secrecy) in TLS 1.2, and elliptic groups
  // only (a TLS 1.3 server of finite-field groups only is refused).
  if (SSL_CTX_set_cipher_list(ctx, "DEFAULT:!kRSA") != 1 ||
      SSL_CTX_set1_groups_list(ctx, "X25519:P-256:P-384") != 1) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  // A TLS 1.2 server may not start the handshake over in the middle of
  // the data (it would be a second handshake nobody bounded).
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  // The client's sessions go to OnNewSession only, never to OpenSSL's
  // own cache.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, OnNewSession);
  bool ok = true;
  if (pinned) {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  } else if (test_authority.empty()) {
    // The system's trust store, or the one SSL_CERT_FILE / SSL_CERT_DIR name.
    ok = SSL_CTX_set_default_verify_paths(ctx) == 1;
  } else {
    const unsigned char* der = reinterpret_cast<const unsigned char*>(test_authority.data());
    X509* authority = d2i_X509(nullptr, &der, static_cast<long>(test_authority.size()));
    ok = authority != nullptr && X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx), authority) == 1;
    X509_free(authority);
  }
  if (!pinned) SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  if (!ok) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  return ctx;
}

// The caller's key with what else decides a connection here: pinned or
// not, and the trust store the chain is checked against.
std::string FullKey(const std::string& key, bool pinned) {
  std::string full = key;
  full.append(pinned ? "\npinned" : "\nchain");
  for (const char* name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
    const char* value = std::getenv(name);
    full.append("\n").append(value != nullptr ? value : "");
  }
  return full.append("\n").append(test_authority);
}

}  // namespace

uint32_t TlsSession::Begin(const std::string& host, const unsigned char* pins, size_t pin_count,
                           const std::string& resume_key) {
  Impl& s = *impl_;
  bool pinned = pin_count > 0;
  if (pinned) s.pins.assign(reinterpret_cast<const char*>(pins), 32 * pin_count);
  kept::Session offer;
  if (resume_key.empty()) {
    s.ctx = MakeContext(pinned);
  } else {
    s.key = FullKey(resume_key, pinned);
    s.ctx = kept::Take(s.key, [pinned] { return MakeContext(pinned); }, &offer, &s.generation);
  }
  if (s.ctx == nullptr) return LastTlsError();
  s.ssl = SSL_new(s.ctx);
  if (s.ssl == nullptr) {
    SSL_SESSION_free(offer.session);
    return LastTlsError();
  }
  SSL_set_app_data(s.ssl, &s.collected);
  if (offer.session != nullptr) {
    s.offered = SSL_set_session(s.ssl, offer.session) == 1;
    s.inherited = offer.facts;
    SSL_SESSION_free(offer.session);  // the connection holds its own reference
    if (s.offered) offered_count.fetch_add(1, std::memory_order_relaxed);
  }
  s.in = BIO_new(BIO_s_mem());
  s.out = BIO_new(BIO_s_mem());
  if (s.in == nullptr || s.out == nullptr) {
    BIO_free(s.in);
    BIO_free(s.out);
    return LastTlsError();
  }
  SSL_set_bio(s.ssl, s.in, s.out);
  bool address = IsAddressLiteral(host);
  if (!address && SSL_set_tlsext_host_name(s.ssl, host.c_str()) != 1) return LastTlsError();
  if (s.pins.empty()) {
    X509_VERIFY_PARAM* param = SSL_get0_param(s.ssl);
    // Names from the subject alternative names only, and a wildcard only
    // as a whole leftmost label.
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                               X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    int ok = address ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                     : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    if (ok != 1) return LastTlsError();
  }
  SSL_set_connect_state(s.ssl);
  return 0;
}

void TlsSession::Accept() {
  Impl& s = *impl_;
  s.accepted = ReadFacts(&s.accepted_facts);
}

void TlsSession::Discard() { impl_->failed = true; }

void TlsForgetSessions() { kept::Forget(); }

TlsSession::Result TlsSession::Handshake(std::string* received, std::string* to_send, uint32_t* error) {
  Impl& s = *impl_;
  s.failed = true;  // until it is known to have gone well
  if (!Feed(s.in, received)) return *error = LastTlsError(), Result::kFailed;
  int rc = SSL_do_handshake(s.ssl);
  Drain(s.out, to_send);
  if (rc == 1) {
    // A resumed session's certificate is the one the session was made
    // with: checked against the pins all the same.
    if (!s.pins.empty() && !PinMatches(s.ssl, s.pins)) {
      *error = X509_V_ERR_CERT_UNTRUSTED;
      return Result::kFailed;
    }
    if (SSL_session_reused(s.ssl) == 1) resumed_count.fetch_add(1, std::memory_order_relaxed);
    s.failed = false;
    return Result::kDone;
  }
  if (SSL_get_error(s.ssl, rc) == SSL_ERROR_WANT_READ) s.failed = false;
  int reason = SSL_get_error(s.ssl, rc);
  if (reason == SSL_ERROR_WANT_READ) return Result::kMore;
  // The certificate's verdict only when it is what refused the handshake:
  // with a pin the chain's verdict is set aside, and a handshake refused
  // for another cause (a weak Diffie-Hellman group) reports that cause.
  unsigned long first = ERR_peek_error();
  bool certificate = ERR_GET_LIB(first) == ERR_LIB_SSL && ERR_GET_REASON(first) == SSL_R_CERTIFICATE_VERIFY_FAILED;
  long verify = SSL_get_verify_result(s.ssl);
  *error = certificate && verify != X509_V_OK ? static_cast<uint32_t>(verify) : LastTlsError();
  ERR_clear_error();
  return Result::kFailed;
}

TlsSession::Result TlsSession::Seal(const char* data, size_t size, std::string* to_send, uint32_t* error) {
  Impl& s = *impl_;
  if (refuse_encryption.load(std::memory_order_relaxed)) return s.failed = true, *error = 1, Result::kFailed;
  while (size > 0) {
    int chunk = size > 16384 ? 16384 : static_cast<int>(size);
    int rc = SSL_write(s.ssl, data, chunk);
    if (rc <= 0) return s.failed = true, *error = LastTlsError(), Result::kFailed;
    data += rc;
    size -= static_cast<size_t>(rc);
  }
  Drain(s.out, to_send);
  return Result::kDone;
}

TlsSession::Result TlsSession::Open(std::string* received, std::string* plain, std::string* to_send,
                                    uint32_t* error) {
  Impl& s = *impl_;
  if (!Feed(s.in, received)) return s.failed = true, *error = LastTlsError(), Result::kFailed;
  size_t before = plain->size();
  char buffer[16384];
  for (;;) {
    int rc = SSL_read(s.ssl, buffer, sizeof buffer);
    if (rc > 0) {
      plain->append(buffer, static_cast<size_t>(rc));
      continue;
    }
    Drain(s.out, to_send);
    int reason = SSL_get_error(s.ssl, rc);
    if (reason == SSL_ERROR_WANT_READ) return plain->size() > before ? Result::kDone : Result::kMore;
    if (reason == SSL_ERROR_ZERO_RETURN) return plain->size() > before ? Result::kDone : Result::kClosed;
    s.failed = true;
    *error = LastTlsError();
    return Result::kFailed;
  }
}

bool TlsSession::ReadFacts(TlsFacts* facts) const {
  const Impl& s = *impl_;
  *facts = TlsFacts{};
  facts->resumed = SSL_session_reused(s.ssl) == 1;
  if (facts->resumed) {
    // No certificate came (the session's is the one the pin checks), nor,
    // in TLS 1.2, a key exchange: those of the full handshake.
    facts->exchange = s.inherited.exchange;
    facts->exchange_bits = s.inherited.exchange_bits;
    facts->chain = s.inherited.chain;
  }
  facts->version = static_cast<uint16_t>(SSL_version(s.ssl));
  EVP_PKEY* exchange = nullptr;
  if (SSL_get_peer_tmp_key(s.ssl, &exchange) == 1 && exchange != nullptr) {
    int type = EVP_PKEY_get_base_id(exchange);
    facts->exchange = type == EVP_PKEY_DH ? TlsFacts::Exchange::kFiniteField : TlsFacts::Exchange::kElliptic;
    facts->exchange_bits = static_cast<uint32_t>(EVP_PKEY_get_bits(exchange));  // X25519: 253
    if (type != EVP_PKEY_DH && type != EVP_PKEY_EC && type != EVP_PKEY_X25519 && type != EVP_PKEY_X448) {
      facts->exchange = TlsFacts::Exchange::kUnknown;
    }
    EVP_PKEY_free(exchange);
  } else if (SSL_version(s.ssl) == TLS1_2_VERSION && !facts->resumed) {
    facts->exchange = TlsFacts::Exchange::kKeyTransport;  // RSA key transport: no group
  }
  if (facts->resumed) {
    // The chain as the full handshake built it.
  } else if (s.pins.empty()) {
    STACK_OF(X509)* chain = SSL_get0_verified_chain(s.ssl);
    for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) {
      facts->chain.push_back(CertificateFacts(sk_X509_value(chain, i)));
    }
  } else if (X509* leaf = SSL_get0_peer_certificate(s.ssl)) {
    facts->chain.push_back(CertificateFacts(leaf));
  }
  return !facts->chain.empty();
}

namespace tls_testing {

bool SetAuthority(const std::string& der) {
  test_authority = der;
  return true;
}

bool LastChainBuildWasLocal() { return true; }

void RefuseEncryption(bool refuse) { refuse_encryption.store(refuse, std::memory_order_relaxed); }

ResumeCounts Resumes() {
  return {offered_count.load(std::memory_order_relaxed), resumed_count.load(std::memory_order_relaxed), kept::Count()};
}

}  // namespace tls_testing
}  // namespace hv::platform
