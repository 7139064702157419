// StartVerify over TLS against the reference endpoint serving test
// certificates (the tls fixture): accepted with the pin and with a trusted
// chain, and every failure ending in ResultType 3 within the deadline.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "base/utf.h"
#include "platform/tls.h"
#include "tests/support/fixtures.h"
#include "tests/support/script_server.h"
#include "tests/support/verify_run.h"
#include "verify/protocol.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

std::string TlsFile(const std::string& name) {
  const char* dir = std::getenv("HV_TLS_DIR");
  std::ifstream in(std::string(dir == nullptr ? "" : dir) + "/" + name);
  std::string text;
  in >> text;
  return text;
}

WString Https(const std::string& host, const std::string& peer) {
  return Utf8ToWide("https://" + host + ":" + TlsFile(peer + ".port"));
}

using Outcome = testing::VerifyOutcome;

// A service object as a host keeps one: several verifications each.
struct Service {
  HvVerifyImpl object;
  Service(const WString& endpoint, const std::string& pin) : object(endpoint, Utf8ToWide(pin)) {
    object.set_wait_limit_ms(2000);
  }
  Outcome Verify() { return testing::VerifyOnce(object, HV_W("right-pw"), HV_W("3")); }
};

Outcome Verify(const WString& endpoint, const std::string& pin, const WString& password = HV_W("right-pw"),
               const WString& seconds = HV_W("3")) {
  HvVerifyImpl service(endpoint, Utf8ToWide(pin));
  service.set_wait_limit_ms(2000);
  return testing::VerifyOnce(service, password, seconds);
}

class TlsEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!platform::TlsAvailable()) GTEST_SKIP() << "no TLS on this platform build";
    ASSERT_FALSE(TlsFile("valid.port").empty()) << "the tls fixture did not start";
  }
};

TEST_F(TlsEndpoint, PinnedCertificateVerifiesAccounts) {
  Outcome right = Verify(Https("127.0.0.1", "valid"), TlsFile("valid.sha256"));
  EXPECT_EQ(right.result.ResultType, VERIFY_RESULT_OK);
  EXPECT_EQ(right.result.ResultValue, Utf8ToWide(kAnswerAccepted));
  Outcome wrong = Verify(Https("127.0.0.1", "valid"), TlsFile("valid.sha256"), HV_W("nope"));
  EXPECT_EQ(wrong.result.ResultValue, Utf8ToWide(kAnswerRejected));
  // The pin decides whoever signed: a self-signed server with its own pin.
  Outcome self = Verify(Https("127.0.0.1", "selfsigned"), TlsFile("selfsigned.sha256"));
  EXPECT_EQ(self.result.ResultType, VERIFY_RESULT_OK);
}

// A pin does not make an expired certificate good again: refused, and the
// log says why.
TEST_F(TlsEndpoint, AnExpiredPinnedCertificateIsRefusedAndTheLogSaysWhy) {
  Outcome o = Verify(Https("127.0.0.1", "expired"), TlsFile("expired.sha256"));
  EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_SEND_FAILED);
  EXPECT_THAT(o.log, ::testing::Contains(
                         "SendVerifyUrl : TLS policy refused the server: the server's certificate is expired or not "
                         "yet valid"));
}

// The navigate-failed line with a LastError other than 0.
bool FailedWithAnError(const std::vector<std::string>& log) {
  const std::string line = "SendVerifyUrl : CAtlHttpClient Navigate is failed! Navigate GetLastError is ";
  for (const std::string& m : log) {
    if (m.rfind(line, 0) == 0 && m.size() > line.size() && m.substr(line.size()) != "0") return true;
  }
  return false;
}

std::string TlsBytes(const std::string& name) {
  const char* dir = std::getenv("HV_TLS_DIR");
  std::ifstream in(std::string(dir == nullptr ? "" : dir) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Without a pin the chain must end at a trusted authority: the test's own,
// as the one root of a chain engine of its own (the platform's trust store
// is left alone), accepts valid servers by address and by name and
// refuses a wrong name, a name or a bare wildcard only in the common name,
// an expired certificate, another authority and a missing intermediate;
// the trust store proper knows none of them.
TEST_F(TlsEndpoint, TrustedChainAcceptsValidServersOnly) {
  ASSERT_TRUE(platform::tls_testing::SetAuthority(TlsBytes("ca.der")));
  EXPECT_EQ(Verify(Https("127.0.0.1", "valid"), "").result.ResultType, VERIFY_RESULT_OK);
  EXPECT_EQ(Verify(Https("localhost", "valid"), "").result.ResultType, VERIFY_RESULT_OK);
  EXPECT_TRUE(platform::tls_testing::LastChainBuildWasLocal());
  struct Case { const char* host; const char* peer; } refused[] = {
      {"localhost", "othername"}, {"127.0.0.1", "othername"}, {"127.0.0.1", "expired"},
      {"localhost", "expired"},   {"localhost", "selfsigned"}, {"localhost", "aia"},
      {"localhost", "cnonly"},    {"localhost", "cnstar"}};
  for (const Case& c : refused) {
    Outcome o = Verify(Https(c.host, c.peer), "");
    EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_SEND_FAILED) << c.host << " " << c.peer;
    EXPECT_TRUE(FailedWithAnError(o.log)) << c.host << " " << c.peer;
  }
  ASSERT_TRUE(platform::tls_testing::SetAuthority(""));
  for (const char* host : {"127.0.0.1", "localhost"}) {
    EXPECT_EQ(Verify(Https(host, "valid"), "").result.ResultType, VERIFY_RESULT_SEND_FAILED) << host;
  }
}

// Within the process a second verification to the same endpoint resumes
// the first one's TLS session; one with a changed pin setting is offered
// none. Schannel keeps its sessions behind the credentials handle, which
// the module reuses (offered); whether it resumes is Schannel's: Wine's
// does not (it makes a full handshake every time), so there only the reuse
// is checked.
TEST_F(TlsEndpoint, ASecondVerificationResumesAndAChangedPinDoesNot) {
  bool openssl = platform::TlsTrustFileVariable() != nullptr;
  WString endpoint = Https("127.0.0.1", "valid");
  std::string pin = TlsFile("valid.sha256");
  platform::TlsForgetSessions();
  platform::tls_testing::ResumeCounts start = platform::tls_testing::Resumes();
  {
    Service service(endpoint, pin);
    EXPECT_EQ(service.Verify().result.ResultType, VERIFY_RESULT_OK);
    platform::tls_testing::ResumeCounts first = platform::tls_testing::Resumes();
    EXPECT_EQ(first.offered, start.offered);
    Outcome second = service.Verify();
    EXPECT_EQ(second.result.ResultType, VERIFY_RESULT_OK);
    EXPECT_EQ(second.result.ResultValue, Utf8ToWide(kAnswerAccepted));
    platform::tls_testing::ResumeCounts resumed = platform::tls_testing::Resumes();
    EXPECT_EQ(resumed.offered, first.offered + 1);
    if (openssl) {
      EXPECT_EQ(resumed.resumed, first.resumed + 1);
    }
    // The same certificate accepted under another pin setting (a second,
    // unused pin), while the first setting's sessions are kept: a full
    // handshake.
    EXPECT_GT(resumed.kept, 0u);
    Service changed(endpoint, pin + "," + std::string(64, '0'));
    EXPECT_EQ(changed.Verify().result.ResultType, VERIFY_RESULT_OK);
    EXPECT_EQ(platform::tls_testing::Resumes().offered, resumed.offered);
    EXPECT_EQ(platform::tls_testing::Resumes().resumed, resumed.resumed);
  }
  // The host released its objects (as before it unloads the module, which
  // on Windows stays mapped): nothing of the sessions is kept. They were
  // kept until the process ended.
  EXPECT_EQ(platform::tls_testing::Resumes().kept, 0u);
}

// A connection that passed TLS but whose verification failed above it (an
// answer cut by close_notify in its body, a redirect that is refused)
// keeps no session: the next verification to that endpoint offers none.
// The HTTP client closed such a connection as it closes a good one, and
// the session was kept and offered.
TEST_F(TlsEndpoint, AVerificationThatFailedAboveTlsKeepsNoSession) {
  for (const char* peer : {"midbody", "redirect"}) {
    platform::TlsForgetSessions();
    const WString endpoint = Https("127.0.0.1", peer);
    const std::string pin = TlsFile(std::string(peer) + ".sha256");
    Service service(endpoint, pin);
    EXPECT_EQ(service.Verify().result.ResultType, VERIFY_RESULT_SEND_FAILED) << peer;
    const platform::tls_testing::ResumeCounts first = platform::tls_testing::Resumes();
    EXPECT_EQ(service.Verify().result.ResultType, VERIFY_RESULT_SEND_FAILED) << peer;
    EXPECT_EQ(platform::tls_testing::Resumes().offered, first.offered) << peer;
  }
}

// A certificate may name addresses to fetch its issuer from; one that
// takes the connection and never answers holds the verification no longer
// than its deadline: the chain is built from the local stores only.
TEST_F(TlsEndpoint, AnIssuerAddressInTheCertificateIsNeverFetched) {
  ASSERT_TRUE(platform::tls_testing::SetAuthority(TlsBytes("ca.der")));
  for (const char* authority : {"test", "trust store"}) {
    Outcome o = Verify(Https("localhost", "aia"), "", HV_W("right-pw"), HV_W("2"));
    EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_SEND_FAILED) << authority;
    EXPECT_LT(o.spent, std::chrono::milliseconds(2800)) << authority;
    EXPECT_TRUE(platform::tls_testing::LastChainBuildWasLocal());
    platform::tls_testing::SetAuthority("");
  }
}

TEST_F(TlsEndpoint, EveryFailureEndsInTheSendStageWithinTheDeadline) {
  std::string other_pin(64, '0');
  // `cause`: the words logged, where they are the module's own (the
  // refused redirect once logged error 0).
  struct Case { const char* what; WString endpoint; std::string pin; const char* cause = ""; } cases[] = {
      {"pin does not match", Https("127.0.0.1", "valid"), other_pin},
      {"expired, pinned to another", Https("127.0.0.1", "expired"), TlsFile("valid.sha256")},
      {"redirect down to plain http", Https("127.0.0.1", "redirect"), TlsFile("valid.sha256"),
       "SendVerifyUrl : Navigate failed: a redirect to another scheme is refused"},
      {"an alert in the middle of the body", Https("127.0.0.1", "midbody"), TlsFile("midbody.sha256")},
      {"plain HTTP on the TLS port",
       Utf8ToWide("https://127.0.0.1:" + testing::FixturePort("HV_VERIFY_ENDPOINT_DIR")), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = Verify(c.endpoint, c.pin);
    EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_SEND_FAILED);
    EXPECT_LT(o.spent, std::chrono::seconds(4));
    bool stage_line = false;
    for (const std::string& line : o.log) {
      stage_line |= line.rfind("SendVerifyUrl : CAtlHttpClient Navigate is failed! Navigate GetLastError is ", 0) == 0 ||
                    line.rfind("SendVerifyUrl : Navigate status is 302", 0) == 0;
      EXPECT_EQ(line.find("right-pw"), std::string::npos);
    }
    EXPECT_TRUE(stage_line);
    EXPECT_TRUE(o.Logged(c.cause)) << ::testing::PrintToString(o.log);
    EXPECT_FALSE(o.Logged("Navigate GetLastError is 0")) << ::testing::PrintToString(o.log);
  }
}

// A handshake refused for an outdated server is logged with its TLS cause:
// with a pin, OpenSSL's builds once reported the chain's unrelated verdict
// (20) for a weak Diffie-Hellman group, and a TLS 1.0 server read as a
// closed connection (10057). Where the platform takes the group (Schannel
// under Wine), the verification may pass; it never logs error 0.
TEST_F(TlsEndpoint, ARefusedHandshakeIsLoggedWithItsTlsCause) {
  bool openssl = platform::TlsTrustFileVariable() != nullptr;
  struct Case {
    const char* peer;
    const char* cause;
  } cases[] = {
      {"weakdh", "SendVerifyUrl : Navigate failed: the server's Diffie-Hellman group is too weak!"},
      {"tls10", "SendVerifyUrl : Navigate failed: the server speaks no TLS version the module accepts"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.peer);
    Outcome o = Verify(Https("127.0.0.1", c.peer), TlsFile("valid.sha256"));
    EXPECT_FALSE(o.Logged("Navigate GetLastError is 0")) << ::testing::PrintToString(o.log);
    if (!openssl) continue;
    EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_SEND_FAILED);
    EXPECT_TRUE(o.Logged(c.cause)) << ::testing::PrintToString(o.log);
    EXPECT_FALSE(o.Logged("GetLastError is 20")) << ::testing::PrintToString(o.log);
    EXPECT_FALSE(o.Logged("GetLastError is 10057")) << ::testing::PrintToString(o.log);
  }
}

// Over TLS only close_notify ends an answer without a length: anyone on
// the path can close the connection, forge a record or hold the rest back,
// and the answer so cut ("result=accepted&status=a") must never pass for
// the whole one.
TEST_F(TlsEndpoint, AnAnswerCutOnThePathFailsTheExchange) {
  std::string pin = TlsFile("valid.sha256");
  Outcome whole = Verify(Https("127.0.0.1", "whole"), pin);
  EXPECT_EQ(whole.result.ResultType, VERIFY_RESULT_OK) << ::testing::PrintToString(whole.log);
  EXPECT_EQ(whole.result.ResultValue, HV_W("result=accepted&status=account-disabled-by-admin"));
  for (const char* peer : {"cutbyfin", "forged", "stall"}) {
    SCOPED_TRACE(peer);
    Outcome o = Verify(Https("127.0.0.1", peer), pin);
    EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_SEND_FAILED);
    EXPECT_TRUE(o.result.ResultValue.empty());
    EXPECT_TRUE(FailedWithAnError(o.log));
    EXPECT_LT(o.spent, std::chrono::seconds(4));
  }
}

// A peer sending key updates without end, with or without a byte of data
// now and then, holds a verification with a 1 s deadline no longer than
// that (with room for a busy machine).
TEST_F(TlsEndpoint, KeyUpdateFloodEndsWithinTheDeadline) {
  std::string pin = TlsFile("valid.sha256");
  for (const char* peer : {"keyupdate", "keydrip"}) {
    SCOPED_TRACE(peer);
    Outcome o = Verify(Https("127.0.0.1", peer), pin, HV_W("right-pw"), HV_W("1"));
    EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_SEND_FAILED);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(o.spent).count(), 1800);
  }
}

// A server may ask for a client certificate it does not require: the
// verification goes on without one. A TLS 1.2 server that asks for a new
// handshake in the middle of its answer is refused.
TEST_F(TlsEndpoint, OptionalClientCertificateIsAnsweredAndRenegotiationRefused) {
  std::string pin = TlsFile("valid.sha256");
  Outcome asked = Verify(Https("127.0.0.1", "askcert"), pin);
  EXPECT_EQ(asked.result.ResultType, VERIFY_RESULT_OK) << ::testing::PrintToString(asked.log);
  Outcome renegotiated = Verify(Https("127.0.0.1", "renegotiate"), pin);
  EXPECT_EQ(renegotiated.result.ResultType, VERIFY_RESULT_SEND_FAILED);
  EXPECT_TRUE(FailedWithAnError(renegotiated.log));
  EXPECT_LT(renegotiated.spent, std::chrono::seconds(4));
}

// A peer that takes the connection and never answers the handshake holds
// the verification no longer than the time-out option allows.
TEST(TlsHandshake, SilentPeerEndsWithinTheDeadline) {
  if (!platform::TlsAvailable()) GTEST_SKIP() << "no TLS on this platform build";
  testing::ScriptServer silent({{testing::Step::Hold()}});
  std::string pin(64, 'a');
  auto start = std::chrono::steady_clock::now();
  Outcome o = Verify(Utf8ToWide("https://127.0.0.1:" + std::to_string(silent.port())), pin);
  EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_SEND_FAILED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST(TlsSettings, MalformedSettingsSendNothing) {
  struct Case { const char* endpoint; const char* pin; const char* line; } cases[] = {
      {"https://", "", "EncryptVerifyUrl : endpoint setting VerifyHost is invalid!"},
      {"https://host/path", "", "EncryptVerifyUrl : endpoint setting VerifyHost is invalid!"},
      {"ftp://host", "", "EncryptVerifyUrl : endpoint setting VerifyHost is invalid!"},
      {"https://127.0.0.1:1", "abc", "EncryptVerifyUrl : endpoint setting VerifyCertSha256 is invalid!"},
      {"https://127.0.0.1:1", "zz00000000000000000000000000000000000000000000000000000000000000",
       "EncryptVerifyUrl : endpoint setting VerifyCertSha256 is invalid!"},
  };
  for (const Case& c : cases) {
    Outcome o = Verify(Utf8ToWide(c.endpoint), c.pin);
    EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_ENCRYPT_FAILED) << c.endpoint;
    EXPECT_THAT(o.log, ::testing::Contains(c.line)) << c.endpoint;
  }
}

// A pin means TLS was meant: with a plain endpoint (no scheme, or http://)
// the verification is refused before anything goes out, rather than
// sending the credentials in the clear.
TEST(TlsSettings, PinWithAPlainEndpointIsRefusedAndSendsNothing) {
  testing::ScriptServer listener({{testing::Step::Hold()}});
  std::string port = std::to_string(listener.port());
  for (const std::string& endpoint : {"127.0.0.1:" + port, "http://127.0.0.1:" + port, "HTTP://127.0.0.1:" + port}) {
    Outcome o = Verify(Utf8ToWide(endpoint), std::string(64, 'a'));
    EXPECT_EQ(o.result.ResultType, VERIFY_RESULT_ENCRYPT_FAILED) << endpoint;
    EXPECT_THAT(o.log, ::testing::Contains(
                           "EncryptVerifyUrl : endpoint setting VerifyCertSha256 needs an https:// VerifyHost!"))
        << endpoint;
  }
  EXPECT_EQ(listener.connections(), 0);
}

// Either of two pins is accepted, so a certificate can roll over; a pin
// list that names neither certificate is refused.
TEST_F(TlsEndpoint, EitherOfTwoPinsIsAccepted) {
  std::string other(64, '0');
  std::string valid = TlsFile("valid.sha256");
  EXPECT_EQ(Verify(Https("127.0.0.1", "valid"), other + "," + valid).result.ResultType, VERIFY_RESULT_OK);
  EXPECT_EQ(Verify(Https("127.0.0.1", "valid"), valid + ", " + other).result.ResultType, VERIFY_RESULT_OK);
  EXPECT_EQ(Verify(Https("127.0.0.1", "valid"), other + "," + std::string(64, '1')).result.ResultType,
            VERIFY_RESULT_SEND_FAILED);
}

}  // namespace
}  // namespace hv
