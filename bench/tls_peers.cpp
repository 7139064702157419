#include "tls_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "peers.h"

namespace hv::bench {
namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
  return out;
}

std::string CertificatePin(X509* cert) {
  unsigned char digest[32];
  unsigned int size = 0;
  return X509_digest(cert, EVP_sha256(), digest, &size) == 1 ? Hex(digest, size) : std::string();
}

}  // namespace

struct TlsEndpoint::Impl {
  SSL_CTX* ctx = nullptr;
  int listener = -1;
  uint16_t port = 0;
  std::string response, certificate_pin, curl_pin;
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;

  // A self-signed P-256 certificate for 127.0.0.1, made now.
  void MakeIdentity() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("bench"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, "IP:127.0.0.1");
    X509_add_ext(cert, san, -1);
    X509_EXTENSION_free(san);
    X509_sign(cert, key, EVP_sha256());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    certificate_pin = CertificatePin(cert);
    unsigned char* spki = nullptr;
    int size = i2d_PUBKEY(key, &spki);
    unsigned char digest[32], text[64];
    EVP_Digest(spki, static_cast<size_t>(size), digest, nullptr, EVP_sha256(), nullptr);
    int n = EVP_EncodeBlock(text, digest, 32);
    curl_pin = "sha256//" + std::string(reinterpret_cast<char*>(text), static_cast<size_t>(n));
    OPENSSL_free(spki);
    X509_free(cert);
    EVP_PKEY_free(key);
  }

  void Serve() {
    while (!stop) {
      pollfd p{listener, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) continue;
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      std::string request;
      char buffer[4096];
      bool ok = SSL_accept(ssl) == 1;
      while (ok && request.find("\r\n\r\n") == std::string::npos) {
        int n = SSL_read(ssl, buffer, sizeof buffer);
        ok = n > 0;
        if (ok) request.append(buffer, static_cast<size_t>(n));
      }
      if (ok && SSL_write(ssl, response.data(), static_cast<int>(response.size())) > 0) SSL_shutdown(ssl);
      SSL_free(ssl);
      close(fd);
    }
  }
};

TlsEndpoint::TlsEndpoint(const std::string& response) : impl_(new Impl) {
  Impl& s = *impl_;
  s.response = response;
  s.ctx = SSL_CTX_new(TLS_server_method());
  SSL_CTX_set_num_tickets(s.ctx, 2);  // OpenSSL's default, said aloud
  s.MakeIdentity();
  s.listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(s.listener, reinterpret_cast<sockaddr*>(&addr), len);
  listen(s.listener, 64);
  getsockname(s.listener, reinterpret_cast<sockaddr*>(&addr), &len);
  s.port = ntohs(addr.sin_port);
  for (int i = 0; i < 2; ++i) s.threads.emplace_back([&s] { s.Serve(); });
}

TlsEndpoint::~TlsEndpoint() {
  impl_->stop = true;
  for (auto& t : impl_->threads) t.join();
  close(impl_->listener);
  SSL_CTX_free(impl_->ctx);
}

uint16_t TlsEndpoint::port() const { return impl_->port; }
const std::string& TlsEndpoint::certificate_pin() const { return impl_->certificate_pin; }
const std::string& TlsEndpoint::curl_pin() const { return impl_->curl_pin; }

CURLSH* SharedTlsSessions() {
  static std::mutex locks[CURL_LOCK_DATA_LAST];
  static CURLSH* share = [] {
    CURLSH* made = curl_share_init();
    curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(made, CURLSHOPT_LOCKFUNC, +[](CURL*, curl_lock_data data, curl_lock_access, void*) {
      locks[data].lock();
    });
    curl_share_setopt(made, CURLSHOPT_UNLOCKFUNC, +[](CURL*, curl_lock_data data, void*) { locks[data].unlock(); });
    return made;
  }();
  return share;
}

bool CurlVerifyTls(uint16_t port, const std::string& curl_pin, const std::string& user,
                   const std::string& password, std::string* answer, CURLSH* share) {
  auto pinned = [&curl_pin, share](CURL* curl) {
    if (share != nullptr) curl_easy_setopt(curl, CURLOPT_SHARE, share);
    // The pin decides, as with the module: no chain to a trusted root.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, curl_pin.c_str());
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2);
  };
  return CurlVerifyAt("https://127.0.0.1:" + std::to_string(port), user, password, pinned, answer);
}

namespace {

SSL_CTX* ClientContext() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  return ctx;
}

// The resuming client's context and the sessions its exchanges received.
struct Resumption {
  SSL_CTX* ctx = ClientContext();
  std::mutex lock;
  std::vector<SSL_SESSION*> sessions;

  SSL_SESSION* Take() {
    std::lock_guard<std::mutex> hold(lock);
    if (sessions.empty()) return nullptr;
    SSL_SESSION* session = sessions.back();
    sessions.pop_back();
    return session;
  }
  void Keep(SSL_SESSION* session) {
    std::lock_guard<std::mutex> hold(lock);
    if (sessions.size() < 4) {
      sessions.push_back(session);
    } else {
      SSL_SESSION_free(session);
    }
  }
};

Resumption& SharedResumption() {
  static Resumption resumption;
  return resumption;
}

}  // namespace

bool TlsSocketExchange(uint16_t port, const std::string& certificate_pin, const std::string& request,
                       std::string* response, bool resume) {
  int fd = ConnectLoopback(port);
  if (fd < 0) return false;
  SSL_CTX* ctx = resume ? SharedResumption().ctx : ClientContext();
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd);
  if (resume) {
    SSL_SESSION* offer = SharedResumption().Take();
    if (offer != nullptr) SSL_set_session(ssl, offer);
    SSL_SESSION_free(offer);
  }
  bool ok = SSL_connect(ssl) == 1;
  if (ok) {
    X509* cert = SSL_get1_peer_certificate(ssl);
    ok = cert != nullptr && CertificatePin(cert) == certificate_pin;
    X509_free(cert);
  }
  ok = ok && SSL_write(ssl, request.data(), static_cast<int>(request.size())) == static_cast<int>(request.size());
  char buffer[4096];
  int n = 0;
  while (ok && (n = SSL_read(ssl, buffer, sizeof buffer)) > 0) response->append(buffer, static_cast<size_t>(n));
  ok = ok && SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN;
  // Its close_notify answered: a session of a connection freed without it
  // is no longer offered.
  if (ok) SSL_shutdown(ssl);
  if (ok && resume) {
    SSL_SESSION* received = SSL_get1_session(ssl);
    if (received != nullptr && SSL_SESSION_is_resumable(received) == 1) {
      SharedResumption().Keep(received);
    } else {
      SSL_SESSION_free(received);
    }
  }
  SSL_free(ssl);
  if (!resume) SSL_CTX_free(ctx);
  close(fd);
  return ok;
}

}  // namespace hv::bench
