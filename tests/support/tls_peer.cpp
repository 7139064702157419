// tls-peer: hostile TLS servers for the tests (a Linux program; the
// Windows tests reach it over loopback too). Each behaviour listens on a
// port of its own on 127.0.0.1 and plays it to every connection, on a
// thread per connection, after reading the request's head:
//
//   cutbyfin   a 200 without a length, the enciphered answer of
//              kCutAnswer cut after 32 characters, then a TCP close
//              without close_notify
//   whole      the same answer whole, then close_notify (the control)
//   forged     the cut answer, then a record of random bytes (fails its
//              check), then silence
//   stall      the cut answer, then silence with the connection open
//   keyupdate  a 200 without a length, then key updates without end
//   keydrip    the same with one body byte after every 1000 key updates
//   askcert    asks for a client certificate it does not require, then
//              the answer whole and close_notify
//   renegotiate  TLS 1.2: the head, then a new handshake asked for and
//              awaited (1 s), then the answer whole and close_notify
//   weakdh     TLS 1.2 with a finite-field Diffie-Hellman key exchange
//              only, over a 1024-bit group, then the answer whole
//   tls10      TLS 1.0 only, then the answer whole
//
// Usage: tls-peer CERT KEY DIR; writes DIR/NAME.port for each behaviour
// (written to a temporary name and renamed, so a reader never sees half a
// number), and ends itself after 15 minutes at the latest.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "verify/protocol.h"

namespace {

const char kCutAnswer[] = "result=accepted&status=account-disabled-by-admin";
const char kHead[] = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";

bool ReadHead(SSL* ssl) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    int n = SSL_read(ssl, buffer, sizeof buffer);
    if (n <= 0) return false;
    head.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool Write(SSL* ssl, const std::string& bytes) {
  return SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

// Key updates made in batches and sent with one write each. The first
// batch is 0.8 seconds' worth, made while the client waits and then sent
// at once, so that its receive queue stays full past a 1 s deadline
// however fast it reads; `drip`: a byte of data after every 1000 updates.
// For 30 seconds, or until the client is gone.
bool SendBatch(BIO* batch, int fd) {
  char* bytes = nullptr;
  long size = BIO_get_mem_data(batch, &bytes);
  for (long at = 0; at < size;) {
    ssize_t n = send(fd, bytes + at, static_cast<size_t>(size - at), MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += n;
  }
  return BIO_reset(batch) == 1;
}

void Flood(SSL* ssl, int fd, bool drip) {
  BIO* batch = BIO_new(BIO_s_mem());
  SSL_set0_wbio(ssl, batch);  // the socket stays the read side
  auto start = std::chrono::steady_clock::now();
  auto first = start + std::chrono::milliseconds(800), end = start + std::chrono::seconds(30);
  bool sent_first = false;
  for (long i = 1;; ++i) {
    if (SSL_key_update(ssl, SSL_KEY_UPDATE_NOT_REQUESTED) != 1 || SSL_do_handshake(ssl) != 1) return;
    if (drip && i % 1000 == 0 && SSL_write(ssl, "x", 1) != 1) return;
    if (i % 256 != 0) continue;
    auto now = std::chrono::steady_clock::now();
    if (now >= end) return;
    if (!sent_first && now < first) continue;
    sent_first = true;
    if (!SendBatch(batch, fd)) return;
  }
}

// Asks for a new handshake and waits for the client's part of it (a
// client that refuses ends the connection here, with an alert).
bool Renegotiate(SSL* ssl, int fd) {
  timeval wait{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  if (SSL_renegotiate(ssl) != 1 || SSL_do_handshake(ssl) != 1) return false;
  char byte;
  while (SSL_renegotiate_pending(ssl) == 1) {
    // Refused, failed, or not answered within the second.
    if (SSL_read(ssl, &byte, 1) <= 0 && SSL_renegotiate_pending(ssl) == 1) return false;
  }
  return true;
}

void Play(const std::string& behaviour, SSL* ssl, int fd) {
  std::string answer = hv::EncipheredAnswer(kCutAnswer);
  std::string cut = answer.substr(0, 32);
  if (behaviour == "renegotiate") {
    if (Write(ssl, kHead) && Renegotiate(ssl, fd) && Write(ssl, answer)) SSL_shutdown(ssl);
  } else if (behaviour == "whole" || behaviour == "askcert" || behaviour == "weakdh" || behaviour == "tls10") {
    if (Write(ssl, kHead + answer)) SSL_shutdown(ssl);
  } else if (behaviour == "cutbyfin") {
    Write(ssl, kHead + cut);
  } else if (behaviour == "forged" || behaviour == "stall") {
    if (!Write(ssl, kHead + cut)) return;
    if (behaviour == "forged") {
      unsigned char record[5 + 64] = {0x17, 0x03, 0x03, 0x00, 0x40};
      RAND_bytes(record + 5, 64);
      if (send(fd, record, sizeof record, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof record)) return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(30));
  } else if (behaviour == "keyupdate" || behaviour == "keydrip") {
    if (!Write(ssl, kHead)) return;
    Flood(ssl, fd, behaviour == "keydrip");
  }
}

// The 1024-bit group of RFC 5114, which clients at today's security
// levels refuse.
EVP_PKEY* WeakGroup() {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr);
  EVP_PKEY* params = nullptr;
  char group[] = "dh_1024_160";
  OSSL_PARAM settings[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                           OSSL_PARAM_construct_end()};
  if (ctx == nullptr || EVP_PKEY_paramgen_init(ctx) != 1 || EVP_PKEY_CTX_set_params(ctx, settings) != 1 ||
      EVP_PKEY_paramgen(ctx, &params) != 1) {
    params = nullptr;
  }
  EVP_PKEY_CTX_free(ctx);
  return params;
}

// Offers what only an outdated server would: a weak group, or TLS 1.0.
void Outdated(const std::string& behaviour, SSL* ssl) {
  SSL_set_security_level(ssl, 0);
  if (behaviour == "weakdh") {
    SSL_set_max_proto_version(ssl, TLS1_2_VERSION);
    SSL_set_cipher_list(ssl, "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:@SECLEVEL=0");
    SSL_set0_tmp_dh_pkey(ssl, WeakGroup());
  } else if (behaviour == "tls10") {
    SSL_set_cipher_list(ssl, "DEFAULT:@SECLEVEL=0");
    SSL_set_min_proto_version(ssl, TLS1_VERSION);
    SSL_set_max_proto_version(ssl, TLS1_VERSION);
  }
}

void Serve(const std::string& behaviour, SSL_CTX* ctx, int fd) {
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd);
  if (behaviour == "askcert") SSL_set_verify(ssl, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
  if (behaviour == "renegotiate") SSL_set_max_proto_version(ssl, TLS1_2_VERSION);
  Outdated(behaviour, ssl);
  if (SSL_accept(ssl) == 1 && ReadHead(ssl)) Play(behaviour, ssl, fd);
  SSL_free(ssl);  // no close_notify unless the behaviour sent one
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

int Listen(const std::string& dir, const std::string& behaviour) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return -1;
  }
  std::string path = dir + "/" + behaviour + ".port";
  FILE* out = std::fopen((path + ".tmp").c_str(), "w");
  if (out == nullptr) return -1;
  std::fprintf(out, "%u", ntohs(addr.sin_port));
  std::fclose(out);
  return std::rename((path + ".tmp").c_str(), path.c_str()) == 0 ? fd : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tls-peer CERT KEY DIR\n");
    return 2;
  }
  alarm(900);
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr || SSL_CTX_use_certificate_chain_file(ctx, argv[1]) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, argv[2], SSL_FILETYPE_PEM) != 1) {
    ERR_print_errors_fp(stderr);
    return 1;
  }
  SSL_CTX_set_num_tickets(ctx, 0);
  // renegotiate last: its port file tells the fixture that all are up.
  for (const char* behaviour :
       {"cutbyfin", "whole", "forged", "stall", "keyupdate", "keydrip", "askcert", "weakdh", "tls10", "renegotiate"}) {
    int listener = Listen(argv[3], behaviour);
    if (listener < 0) {
      std::perror(behaviour);
      return 1;
    }
    std::thread([behaviour, ctx, listener] {
      for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd >= 0) std::thread(Serve, std::string(behaviour), ctx, fd).detach();
      }
    }).detach();
  }
  for (;;) pause();
}
