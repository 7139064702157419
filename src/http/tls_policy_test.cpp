// The verdict on every peer of the policy fixture (a PKI made for the run,
// servers at OpenSSL's security level 0), the same on every build: the
// Linux build (OpenSSL) and the Windows build (Schannel and crypt32; under
// Wine, Wine's). A row's `why` names who refuses on each; where Wine's
// libraries cannot show what a real Windows does, the row says so.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/utf.h"
#include "http/tls_policy.h"
#include "http/tls_socket.h"

namespace hv {
namespace {

std::string PeerFile(const std::string& name, bool binary = false) {
  const char* dir = std::getenv("HV_TLS_POLICY_DIR");
  std::ifstream in(std::string(dir == nullptr ? "" : dir) + "/" + name, binary ? std::ios::binary : std::ios::in);
  if (binary) return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::string text;
  in >> text;
  return text;
}

std::array<unsigned char, 32> Pin(const std::string& hex) {
  std::array<unsigned char, 32> pin{};
  for (size_t i = 0; i < 32 && 2 * i + 1 < hex.size(); ++i) {
    pin[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  }
  return pin;
}

struct Row {
  const char* peer;
  const char* host;
  const char* authority;  // its DER file; null: pinned to the peer's certificate
  bool accepted;
  TlsRefusal refusal;     // the module's own refusal, where it is the one on every build
  const char* why;
  // Where Wine's libraries cannot show what Windows does: what Wine does
  // instead, recognised by the facts it reports (see IsWineOutcome).
  const char* wine = nullptr;
};

// Wine's Schannel reports no key exchange size (dwExchStrength 0, and no
// cipher information): a finite-field group is then refused as of unknown
// size, where Windows reports its size and OpenSSL its prime. Wine's
// crypt32 verifies no RSASSA-PSS signature (TRUST_E_CERT_SIGNATURE),
// where Windows and OpenSSL do.
bool IsWineOutcome(const Row& row, const ZEvtSyncTlsSocket& socket) {
  if (row.wine == nullptr) return false;
  if (socket.tls_verdict().refusal == TlsRefusal::kNone) return socket.GetLastError() == 0x80096004u;
  return socket.tls_verdict().refusal == TlsRefusal::kWeakExchange && socket.tls_verdict().bits == 0;
}

// kNone with accepted false: the platform refuses (the handshake or the
// chain), or the policy on one build and the platform on the other.
const Row kRows[] = {
    {"good", "localhost", "ca.der", true, TlsRefusal::kNone, "RSA-2048, SHA-256, TLS 1.3 where both have it"},
    {"good", "127.0.0.1", "ca.der", true, TlsRefusal::kNone, "by address"},
    {"sni", "localhost.", "ca.der", true, TlsRefusal::kNone, "one trailing dot: neither sent nor matched"},
    {"tls12", "localhost", "ca.der", true, TlsRefusal::kNone, "TLS 1.2 with ECDHE"},
    {"dhe2048", "localhost", "ca.der", true, TlsRefusal::kNone, "DHE, ffdhe2048",
     "Wine reports no group size: refused as unknown"},
    {"dhe1024", "localhost", "ca.der", false, TlsRefusal::kNone,
     "DHE, 1024-bit group: OpenSSL's level 2; on Windows the policy"},
    {"tls11", "localhost", "ca.der", false, TlsRefusal::kNone, "TLS 1.1 at most: neither offers it"},
    {"rsa1024", "localhost", "ca.der", false, TlsRefusal::kNone,
     "RSA-1024 leaf: OpenSSL's level 2; on Windows the policy (real CryptoAPI refuses under 1024 only)"},
    {"ec256", "localhost", "ca.der", true, TlsRefusal::kNone, "ECDSA leaf on P-256"},
    {"ec224", "localhost", "ca.der", false, TlsRefusal::kNone,
     "ECDSA leaf on P-224: no client offers the curve, else the policy"},
    {"inter1024", "localhost", "ca.der", false, TlsRefusal::kNone, "RSA-1024 intermediate"},
    {"ec224inter", "localhost", "ca.der", false, TlsRefusal::kNone,
     "P-224 intermediate: OpenSSL's level 2 allows it and the policy refuses; crypt32 checks no P-224 signature"},
    {"sha1leaf", "localhost", "ca.der", false, TlsRefusal::kNone, "leaf signed with SHA-1"},
    {"md5leaf", "localhost", "ca.der", false, TlsRefusal::kNone, "leaf signed with MD5"},
    {"sha1inter", "localhost", "ca.der", false, TlsRefusal::kNone, "intermediate signed with SHA-1"},
    {"sha1root", "localhost", "sha1ca.der", true, TlsRefusal::kNone, "only the root's own signature is SHA-1"},
    {"expired", "localhost", "ca.der", false, TlsRefusal::kNone, "expired leaf"},
    {"othername", "localhost", "ca.der", false, TlsRefusal::kNone, "another name"},
    {"clientonly", "localhost", "ca.der", false, TlsRefusal::kNone, "extended key usage: client only"},
    {"leafissuer", "localhost", "ca.der", false, TlsRefusal::kNone, "issued by a certificate without CA:TRUE"},
    {"nameconstrained", "localhost", "ca.der", false, TlsRefusal::kNone,
     "intermediate permitted .example.org only"},
    {"pathlen", "localhost", "pathca.der", false, TlsRefusal::kNone, "root of path length 0 above an intermediate"},
    {"intereku", "localhost", "ca.der", false, TlsRefusal::kNone,
     "intermediate's extended key usage client only: OpenSSL; on Windows the policy (Wine's crypt32 passes it)"},
    {"ncip", "127.0.0.1", "ca.der", false, TlsRefusal::kNone,
     "address outside the intermediate's permitted 10.0.0.0/8: OpenSSL; on Windows the policy (Wine's crypt32 "
     "passes it)"},
    {"psssha1", "localhost", "ca.der", false, TlsRefusal::kNone,
     "intermediate signed RSASSA-PSS with SHA-1: OpenSSL's level 2; on Windows the policy (Wine's crypt32 "
     "refuses every PSS signature; RsassaPssIsJudgedByTheHashesOfItsParameters holds the rule)"},
    {"pss256", "localhost", "ca.der", true, TlsRefusal::kNone, "intermediate signed RSASSA-PSS with SHA-256",
     "Wine's crypt32 verifies no RSASSA-PSS signature: refused"},
    {"rsakx", "localhost", "ca.der", false, TlsRefusal::kNone,
     "RSA key transport only (AES128-GCM-SHA256): OpenSSL is not offered it; on Windows the policy"},
    {"ffdhe13", "localhost", "ca.der", false, TlsRefusal::kNone,
     "TLS 1.3 with ffdhe2048 only: neither build offers a finite-field group in TLS 1.3"},
    // Pins: the name, issuer and signature are not looked at; the key
    // minimum, the dates and the connection's minimums are.
    {"good", "localhost", nullptr, true, TlsRefusal::kNone, "pinned"},
    {"sha1leaf", "localhost", nullptr, true, TlsRefusal::kNone, "pinned: the signature is not looked at"},
    {"othername", "localhost", nullptr, true, TlsRefusal::kNone, "pinned: the name is not looked at"},
    {"rsa1024", "localhost", nullptr, false, TlsRefusal::kWeakKey, "pinned RSA-1024"},
    {"expired", "localhost", nullptr, false, TlsRefusal::kOutsideDates, "pinned, expired"},
    {"dhe1024", "localhost", nullptr, false, TlsRefusal::kNone, "pinned, 1024-bit group"},
};

TEST(TlsVerdicts, WeakKeysGroupsHashesAndPinsAreJudgedAlikeOnEveryBuild) {
  if (!platform::TlsAvailable()) GTEST_SKIP() << "no TLS on this platform build";
  ASSERT_FALSE(PeerFile("good.port").empty()) << "the policy peers did not start";
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(row.peer) + " as " + row.host + ": " + row.why);
    ASSERT_TRUE(platform::tls_testing::SetAuthority(row.authority ? PeerFile(row.authority, true) : ""));
    ZEvtSyncTlsSocket socket;
    socket.SocketTimeout = 3000;
    socket.SetDeadline(ZEvtSyncTlsSocket::Clock::now() + std::chrono::seconds(5));
    // A name with a trailing dot does not resolve here: through a tunnel
    // to the loopback address.
    std::string host = row.host;
    if (host.back() == '.') socket.SetProxy({HV_W("127.0.0.1"), static_cast<uint16_t>(std::stoi(PeerFile("connect.port")))}, 8192);
    if (row.authority == nullptr) socket.SetPins({Pin(PeerFile(std::string(row.peer) + ".sha256"))});
    bool connected = socket.OpenConnection(Utf8ToWide(row.host),
                                           static_cast<uint16_t>(std::stoi(PeerFile(std::string(row.peer) + ".port"))));
    if (IsWineOutcome(row, socket)) {
      std::printf("%s as %s: under Wine, %s\n", row.peer, row.host, row.wine);
      continue;
    }
    EXPECT_EQ(connected, row.accepted) << "LastError " << socket.GetLastError() << ", refusal "
                                       << static_cast<int>(socket.tls_verdict().refusal) << " bits "
                                       << socket.tls_verdict().bits;
    if (row.refusal != TlsRefusal::kNone) {
      EXPECT_EQ(socket.tls_verdict().refusal, row.refusal);
      EXPECT_EQ(socket.GetLastError(), TlsRefusalError(row.refusal));
    }
    socket.CloseConnection();
  }
  platform::tls_testing::SetAuthority("");
}

std::string Bytes(const char* hex) {
  std::string bytes;
  for (size_t i = 0; hex[i] != 0 && hex[i + 1] != 0; i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  }
  return bytes;
}

// An RSASSA-PSS chain signature passed whatever its hash: the rule read
// the algorithm's identifier, and PSS names its hash (and its mask's) in
// the parameters, SHA-1 when they are absent.
TEST(TlsVerdicts, RsassaPssIsJudgedByTheHashesOfItsParameters) {
  const char* const kSha256 = "300d06096086480165030402010500";
  const char* const kMgf1Sha256 = "301a06092a864886f70d010108300d06096086480165030402010500";
  const struct {
    std::string parameters;
    bool weak;
  } kCases[] = {
      {"", true},  // absent: SHA-1 and MGF1 with SHA-1
      {Bytes("3034a00f") + Bytes(kSha256) + Bytes("a11c") + Bytes(kMgf1Sha256) + Bytes("a203020120"), false},
      {Bytes("3016a00f") + Bytes(kSha256) + Bytes("a203020120"), true},  // the mask's hash: SHA-1
      {Bytes("3034a00b300906052b0e03021a0500") + Bytes("a11c") + Bytes(kMgf1Sha256), true},
      {Bytes("3034a00f") + Bytes(kSha256), true},  // truncated
  };
  int64_t now = 1800000000;
  for (const auto& c : kCases) {
    platform::TlsFacts facts;
    facts.version = 0x0304;
    facts.exchange = platform::TlsFacts::Exchange::kElliptic;
    for (int depth = 0; depth < 3; ++depth) {
      platform::TlsCertificateFacts cert;
      cert.key = platform::TlsCertificateFacts::Key::kRsa;
      cert.key_bits = 2048;
      cert.signature_oid = depth == 1 ? "1.2.840.113549.1.1.10" : "1.2.840.113549.1.1.11";
      if (depth == 1) cert.signature_parameters = c.parameters;
      cert.self_signed = depth == 2;
      cert.not_before = now - 1;
      cert.not_after = now + 1;
      facts.chain.push_back(cert);
    }
    TlsVerdict verdict = JudgeTls(facts, false, now);
    EXPECT_EQ(verdict.refusal, c.weak ? TlsRefusal::kWeakSignature : TlsRefusal::kNone) << c.parameters.size();
    EXPECT_EQ(verdict.depth, c.weak ? 1u : 0u);
  }
}

}  // namespace
}  // namespace hv
