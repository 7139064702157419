// OpenSSL's host name checks as the sessions set them: a wildcard matches
// only as a whole leftmost label, and names come only from the subject
// alternative names, never from the subject's common name; and the kept
// sessions: offered once to the same key, kept only from a connection
// accepted and ended well, and a resumed one held to its pin. The client
// session shakes hands with an OpenSSL server in memory, whose
// certificates (signed by the test authority) the tls fixture made.
#include <openssl/evp.h>
#include <openssl/pem.h>
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

// A server in memory presenting valid.pem, at most `version`; its tickets
// are good for every connection to it.
struct MemoryServer {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  explicit MemoryServer(int version) {
    SSL_CTX_set_max_proto_version(ctx, version);
    SSL_CTX_use_certificate_file(ctx, TlsPath("valid.pem").c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, TlsPath("server.key").c_str(), SSL_FILETYPE_PEM);
  }
  ~MemoryServer() { SSL_CTX_free(ctx); }
};

std::string Sha256OfCertificate(const std::string& pem) {
  FILE* file = std::fopen(TlsPath(pem).c_str(), "r");
  X509* cert = file != nullptr ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
  if (file != nullptr) std::fclose(file);
  unsigned char digest[32];
  unsigned int size = 0;
  bool ok = cert != nullptr && X509_digest(cert, EVP_sha256(), digest, &size) == 1 && size == 32;
  X509_free(cert);
  return ok ? std::string(reinterpret_cast<char*>(digest), 32) : std::string();
}

struct Connection {
  TlsSession::Result result = TlsSession::Result::kFailed;
  bool resumed = false;       // as the library reports it
  bool chain_facts = false;   // ReadFacts told the certificate's facts
};

// One connection to `server` with `pin` under `key`: the handshake, one
// record of data (after the TLS 1.3 tickets), then accepted when it
// passed, and `discard`ed when asked.
Connection ConnectOnce(MemoryServer& server, const std::string& pin, const std::string& key, bool discard = false) {
  Connection c;
  SSL* peer = SSL_new(server.ctx);
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  SSL_set_bio(peer, in, out);
  SSL_set_accept_state(peer);
  TlsSession client;
  std::string to_client, to_server;
  if (client.Begin("127.0.0.1", reinterpret_cast<const unsigned char*>(pin.data()), 1, key) != 0) return c;
  for (int round = 0; round < 8; ++round) {
    uint32_t error = 0;
    c.result = client.Handshake(&to_client, &to_server, &error);
    if (c.result != TlsSession::Result::kMore) break;
    BIO_write(in, to_server.data(), static_cast<int>(to_server.size()));
    to_server.clear();
    SSL_do_handshake(peer);
    Drain(out, &to_client);
  }
  if (c.result == TlsSession::Result::kDone) {
    BIO_write(in, to_server.data(), static_cast<int>(to_server.size()));
    SSL_do_handshake(peer);
    SSL_write(peer, "x", 1);
    Drain(out, &to_client);
    std::string plain, answer;
    uint32_t error = 0;
    if (client.Open(&to_client, &plain, &answer, &error) != TlsSession::Result::kDone) {
      c.result = TlsSession::Result::kFailed;
    }
    TlsFacts facts;
    c.chain_facts = client.ReadFacts(&facts) && facts.chain.size() == 1 && facts.chain[0].not_after > 0;
    c.resumed = facts.resumed;
    if (c.result == TlsSession::Result::kDone) client.Accept();
    if (discard) client.Discard();
  }
  SSL_free(peer);
  return c;
}

TEST(TlsResumption, OnlyTheSameKeyResumesAndTheResumedSessionMeetsThePin) {
  ASSERT_TRUE(std::ifstream(TlsPath("valid.pem"))) << "the tls fixture did not start";
  std::string pin = Sha256OfCertificate("valid.pem");
  std::string other_pin = Sha256OfCertificate("expired.pem");
  ASSERT_EQ(pin.size(), 32u);
  ASSERT_EQ(other_pin.size(), 32u);
  using R = TlsSession::Result;
  for (int version : {TLS1_3_VERSION, TLS1_2_VERSION}) {
    SCOPED_TRACE(version);
    MemoryServer server(version);
    TlsForgetSessions();
    // A second connection resumes, told the facts of the first one's chain.
    Connection first = ConnectOnce(server, pin, "a");
    Connection second = ConnectOnce(server, pin, "a");
    EXPECT_EQ(first.result, R::kDone);
    EXPECT_FALSE(first.resumed);
    EXPECT_EQ(second.result, R::kDone);
    EXPECT_TRUE(second.resumed);
    EXPECT_TRUE(second.chain_facts);
    // Another key is offered nothing.
    EXPECT_FALSE(ConnectOnce(server, pin, "b").resumed);
    // A session offered under the same key to a caller whose pin the
    // session's certificate does not meet is refused, and it keeps none.
    tls_testing::ResumeCounts before = tls_testing::Resumes();
    EXPECT_EQ(ConnectOnce(server, other_pin, "a").result, R::kFailed);
    EXPECT_EQ(tls_testing::Resumes().offered, before.offered + 1);
    EXPECT_EQ(tls_testing::Resumes().kept, before.kept - 1);
    // Nothing is kept from a connection discarded after its handshake, nor
    // after everything was forgotten.
    EXPECT_TRUE(ConnectOnce(server, pin, "c", true).result == R::kDone);
    EXPECT_FALSE(ConnectOnce(server, pin, "c").resumed);
    EXPECT_GT(tls_testing::Resumes().kept, 0u);
    TlsForgetSessions();
    EXPECT_EQ(tls_testing::Resumes().kept, 0u);
    EXPECT_FALSE(ConnectOnce(server, pin, "a").resumed);
  }
}

}  // namespace
}  // namespace hv::platform
