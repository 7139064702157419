// OpenSSL's host name checks as the sessions set them: a wildcard matches
// only as a whole leftmost label, and names come only from the subject
// alternative names, never from the subject's common name. The client
// session shakes hands with an OpenSSL server in memory, whose
// certificates (signed by the test authority) the tls fixture made.
#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/tls.h"

namespace hv::platform {
namespace {

std::string TlsPath(const std::string& name) {
  const char* dir = std::getenv("HV_TLS_DIR");
  return std::string(dir == nullptr ? "" : dir) + "/" + name;
}

void Drain(BIO* out, std::string* bytes) {
  char buffer[4096];
  for (int n; (n = BIO_read(out, buffer, sizeof buffer)) > 0;) bytes->append(buffer, static_cast<size_t>(n));
}

// The client's verdict on a server presenting `pem` as `host`.
TlsSession::Result HandshakeWith(const std::string& pem, const std::string& host) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  SSL* server = nullptr;
  TlsSession::Result result = TlsSession::Result::kFailed;
  TlsSession client;
  if (SSL_CTX_use_certificate_file(ctx, TlsPath(pem).c_str(), SSL_FILETYPE_PEM) == 1 &&
      SSL_CTX_use_PrivateKey_file(ctx, TlsPath("server.key").c_str(), SSL_FILETYPE_PEM) == 1 &&
      (server = SSL_new(ctx)) != nullptr && client.Begin(host, nullptr, 0) == 0) {
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(server, in, out);
    SSL_set_accept_state(server);
    std::string to_client, to_server;
    for (int round = 0; round < 8; ++round) {
      uint32_t error = 0;
      result = client.Handshake(&to_client, &to_server, &error);
      if (result != TlsSession::Result::kMore) break;
      BIO_write(in, to_server.data(), static_cast<int>(to_server.size()));
      to_server.clear();
      SSL_do_handshake(server);
      Drain(out, &to_client);
    }
  }
  SSL_free(server);
  SSL_CTX_free(ctx);
  return result;
}

TEST(TlsNames, PartialWildcardsAndTheCommonNameNeverMatch) {
  std::ifstream ca(TlsPath("ca.der"), std::ios::binary);
  ASSERT_TRUE(ca) << "the tls fixture did not start";
  ASSERT_TRUE(tls_testing::SetAuthority(std::string(std::istreambuf_iterator<char>(ca), std::istreambuf_iterator<char>())));
  EXPECT_EQ(HandshakeWith("valid.pem", "localhost"), TlsSession::Result::kDone);
  EXPECT_EQ(HandshakeWith("wildpartial.pem", "foo.test.example"), TlsSession::Result::kFailed);
  EXPECT_EQ(HandshakeWith("cnonly.pem", "localhost"), TlsSession::Result::kFailed);
  EXPECT_EQ(HandshakeWith("cnstar.pem", "localhost"), TlsSession::Result::kFailed);
  tls_testing::SetAuthority("");
}

}  // namespace
}  // namespace hv::platform
