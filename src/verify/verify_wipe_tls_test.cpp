// No copy of a password, nor of the enciphered query, is left in memory
// that a verification frees on the paths that need the fixtures' peers:
// over TLS (answered, redirected relative and absolute, refused by the
// certificate check, cut off, timed out, the request's encipherment
// refused) and through a forward proxy,
// plain and tunnelled, redirects included (see verify_wipe_test.cpp for
// the plain paths).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/utf.h"
#include "platform/tls.h"
#include "tests/support/fixtures.h"
#include "tests/support/verify_wipe_scan.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

std::string ReadFile(const char* variable, const std::string& name) {
  const char* dir = std::getenv(variable);
  std::ifstream in(std::string(dir == nullptr ? "" : dir) + "/" + name);
  std::string text;
  in >> text;
  return text;
}

// "name port" lines of the forward proxy fixture.
std::string ForwardProxyPort(const std::string& name) {
  const char* dir = std::getenv("HV_FORWARD_PROXY_DIR");
  std::ifstream in(std::string(dir == nullptr ? "" : dir) + "/ports");
  for (std::string key, port; in >> key >> port;) {
    if (key == name) return port;
  }
  return "";
}

struct TlsPathRow {
  const char* name;
  std::string endpoint;  // the VerifyHost setting
  std::string pin;       // the VerifyCertSha256 setting
  std::string proxy;     // the proxy setting, or none
  bool refuse_encryption = false;  // the TLS engine refuses to encipher the request
};

TEST(FreedBlocks, HoldNoPasswordNorEncipheredQueryOnAnyTlsOrProxiedPath) {
  if (!testing::FreedBlockScanAvailable()) GTEST_SKIP() << "the sanitizers own the allocator here";
  if (!platform::TlsAvailable()) GTEST_SKIP() << "no TLS on this platform build";
  ASSERT_FALSE(ReadFile("HV_TLS_DIR", "valid.port").empty()) << "the tls fixture did not start";
  testing::FreedBlockScan zeroing;  // the peers' copies of the query, freed between the scans
  ASSERT_FALSE(ForwardProxyPort("squid").empty()) << "the forward proxy fixture did not start";
  auto https = [](const std::string& peer) { return "https://127.0.0.1:" + ReadFile("HV_TLS_DIR", peer + ".port"); };
  const std::string pin = ReadFile("HV_TLS_DIR", "valid.sha256");
  const std::string squid = "127.0.0.1:" + ForwardProxyPort("squid");
  const std::string plain = "127.0.0.1:" + testing::FixturePort("HV_VERIFY_ENDPOINT_DIR");
  const std::vector<TlsPathRow> rows = {
      {"answered over TLS", https("valid"), pin, ""},
      {"relative redirect over TLS", https("moved"), pin, ""},
      {"absolute redirect from TLS to a refusing plain server", https("redirect"), pin, ""},
      {"certificate refused", https("expired"), "", ""},
      {"pin not matched", https("selfsigned"), pin, ""},
      {"answer cut off", https("cutbyfin"), pin, ""},
      {"forged record", https("forged"), pin, ""},
      {"time-out over TLS", https("stall"), pin, ""},
      {"tunnelled through a forward proxy", https("valid"), pin, squid},
      {"plain through a forward proxy", plain, "", squid},
      {"relative redirect over TLS through a forward proxy", https("moved"), pin, squid},
      {"absolute redirect from a tunnel to a plain server, proxied", https("redirect"), pin, squid},
      {"the request's encipherment refused", https("valid"), pin, "", true},
  };
  for (const std::string& password : testing::ScannedPasswords()) {
    for (const TlsPathRow& row : rows) {
      platform::tls_testing::RefuseEncryption(row.refuse_encryption);
      testing::ExpectNoSecretFreed(row.name, password, [&] {
        auto service = std::make_unique<HvVerifyImpl>(Utf8ToWide(row.endpoint), Utf8ToWide(row.pin));
        service->set_wait_limit_ms(500);
        service->SetProxySettings(Utf8ToWide(row.proxy), WString());
        return service;
      });
      platform::tls_testing::RefuseEncryption(false);
    }
  }
}

}  // namespace
}  // namespace hv
