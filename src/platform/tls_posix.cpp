// POSIX implementation of platform/tls.h: OpenSSL's libssl over memory
// BIOs.
#include "platform/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>

namespace hv::platform {

struct TlsSession::Impl {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // peer → engine, owned by ssl
  BIO* out = nullptr;  // engine → peer, owned by ssl
  std::string pins;  // 32 bytes per accepted certificate; empty: chain and name
  ~Impl() {
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

// Seconds since 1970 of a certificate date (0 when it does not read).
int64_t Seconds(const ASN1_TIME* time) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return 0;
  return static_cast<int64_t>(timegm(&parts));
}

// An extension's value as encoded; empty when the certificate has none.
std::string Extension(X509* cert, int nid, bool* critical = nullptr) {
  int at = X509_get_ext_by_NID(cert, nid, -1);
  X509_EXTENSION* extension = at >= 0 ? X509_get_ext(cert, at) : nullptr;
  const ASN1_OCTET_STRING* value = extension != nullptr ? X509_EXTENSION_get_data(extension) : nullptr;
  if (value == nullptr) return std::string();
  if (critical != nullptr) *critical = X509_EXTENSION_get_critical(extension) == 1;
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                     static_cast<size_t>(ASN1_STRING_length(value)));
}

// A signature algorithm's parameters as encoded (a SEQUENCE's value holds
// its whole encoding); empty when absent or of another type.
std::string SignatureParameters(const X509_ALGOR* algorithm) {
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(nullptr, &type, &value, algorithm);
  if (type != V_ASN1_SEQUENCE || value == nullptr) return std::string();
  const auto* sequence = static_cast<const ASN1_STRING*>(value);
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(sequence)),
                     static_cast<size_t>(ASN1_STRING_length(sequence)));
}

TlsCertificateFacts CertificateFacts(X509* cert) {
  TlsCertificateFacts facts;
  EVP_PKEY* key = X509_get0_pubkey(cert);
  int type = key != nullptr ? EVP_PKEY_get_base_id(key) : EVP_PKEY_NONE;
  facts.key = type == EVP_PKEY_RSA || type == EVP_PKEY_RSA_PSS ? TlsCertificateFacts::Key::kRsa
              : type == EVP_PKEY_DSA                           ? TlsCertificateFacts::Key::kDsa
              : type == EVP_PKEY_EC                            ? TlsCertificateFacts::Key::kEc
                                                               : TlsCertificateFacts::Key::kOther;
  facts.key_bits = key != nullptr ? static_cast<uint32_t>(EVP_PKEY_get_bits(key)) : 0;
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(nullptr, &algorithm, cert);
  const ASN1_OBJECT* oid = nullptr;
  if (algorithm != nullptr) X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  char text[128];
  if (oid != nullptr && OBJ_obj2txt(text, sizeof text, oid, 1) > 0) facts.signature_oid = text;
  if (algorithm != nullptr) facts.signature_parameters = SignatureParameters(algorithm);
  facts.extended_key_usage = Extension(cert, NID_ext_key_usage);
  facts.alt_names = Extension(cert, NID_subject_alt_name);
  facts.name_constraints = Extension(cert, NID_name_constraints, &facts.name_constraints_critical);
  facts.self_signed = X509_self_signed(cert, 0) == 1;
  facts.not_before = Seconds(X509_get0_notBefore(cert));
  facts.not_after = Seconds(X509_get0_notAfter(cert));
  return facts;
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

uint32_t TlsSession::Begin(const std::string& host, const unsigned char* pins, size_t pin_count) {
  Impl& s = *impl_;
  s.ctx = SSL_CTX_new(TLS_client_method());
  if (s.ctx == nullptr) return LastTlsError();
  SSL_CTX_set_min_proto_version(s.ctx, TLS1_2_VERSION);
  // Level 2 whatever the system's configuration says: RSA, DSA and
  // finite-field groups of 2048 bits at least, no SHA-1 or MD5 in
  // signatures, during the handshake; the module's policy judges the
  // rest after it (EC sizes, pinned certificates).
  SSL_CTX_set_security_level(s.ctx, 2);
  // What Schannel offers, so that both builds meet a server alike: no RSA
  // key transport (no forward secrecy) in TLS 1.2, and elliptic groups
  // only (a TLS 1.3 server of finite-field groups only is refused).
  if (SSL_CTX_set_cipher_list(s.ctx, "DEFAULT:!kRSA") != 1 ||
      SSL_CTX_set1_groups_list(s.ctx, "X25519:P-256:P-384") != 1) {
    return LastTlsError();
  }
  // A TLS 1.2 server may not start the handshake over in the middle of
  // the data (it would be a second handshake nobody bounded).
  SSL_CTX_set_options(s.ctx, SSL_OP_NO_RENEGOTIATION);
  if (pin_count > 0) {
    s.pins.assign(reinterpret_cast<const char*>(pins), 32 * pin_count);
    SSL_CTX_set_verify(s.ctx, SSL_VERIFY_NONE, nullptr);  // the pin decides, after the handshake
  } else {
    // The system's trust store, or the one SSL_CERT_FILE / SSL_CERT_DIR name.
    if (test_authority.empty() && SSL_CTX_set_default_verify_paths(s.ctx) != 1) return LastTlsError();
    if (!test_authority.empty()) {
      const unsigned char* der = reinterpret_cast<const unsigned char*>(test_authority.data());
      X509* authority = d2i_X509(nullptr, &der, static_cast<long>(test_authority.size()));
      bool added = authority != nullptr && X509_STORE_add_cert(SSL_CTX_get_cert_store(s.ctx), authority) == 1;
      X509_free(authority);
      if (!added) return LastTlsError();
    }
    SSL_CTX_set_verify(s.ctx, SSL_VERIFY_PEER, nullptr);
  }
  s.ssl = SSL_new(s.ctx);
  if (s.ssl == nullptr) return LastTlsError();
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

TlsSession::Result TlsSession::Handshake(std::string* received, std::string* to_send, uint32_t* error) {
  Impl& s = *impl_;
  if (!Feed(s.in, received)) return *error = LastTlsError(), Result::kFailed;
  int rc = SSL_do_handshake(s.ssl);
  Drain(s.out, to_send);
  if (rc == 1) {
    if (!s.pins.empty() && !PinMatches(s.ssl, s.pins)) {
      *error = X509_V_ERR_CERT_UNTRUSTED;
      return Result::kFailed;
    }
    return Result::kDone;
  }
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
  while (size > 0) {
    int chunk = size > 16384 ? 16384 : static_cast<int>(size);
    int rc = SSL_write(s.ssl, data, chunk);
    if (rc <= 0) return *error = LastTlsError(), Result::kFailed;
    data += rc;
    size -= static_cast<size_t>(rc);
  }
  Drain(s.out, to_send);
  return Result::kDone;
}

TlsSession::Result TlsSession::Open(std::string* received, std::string* plain, std::string* to_send,
                                    uint32_t* error) {
  Impl& s = *impl_;
  if (!Feed(s.in, received)) return *error = LastTlsError(), Result::kFailed;
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
    *error = LastTlsError();
    return Result::kFailed;
  }
}

bool TlsSession::ReadFacts(TlsFacts* facts) const {
  const Impl& s = *impl_;
  *facts = TlsFacts{};
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
  } else if (SSL_version(s.ssl) == TLS1_2_VERSION) {
    facts->exchange = TlsFacts::Exchange::kKeyTransport;  // RSA key transport: no group
  }
  if (s.pins.empty()) {
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

}  // namespace tls_testing
}  // namespace hv::platform
