// No copy of a password, nor of the enciphered query (as good as the
// password to anyone holding the module), is left in memory that a
// verification frees: every block the verifying thread frees is scanned
// for them (see tests/support/freed_block_scan.h), on every path a
// verification can take with plain http against scripted peers: answered,
// redirected (relative and absolute, through a proxy too) and each way it
// can fail. The TLS paths are in verify_wipe_tls_test.cpp.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/utf.h"
#include "platform/memory.h"
#include "tests/support/freed_block_scan.h"
#include "tests/support/script_server.h"
#include "tests/support/verify_wipe_scan.h"
#include "verify/protocol.h"
#include "verify/verify_service.h"

namespace hv {
namespace {

using testing::FreedBlockScan;
using testing::HttpResponse;
using testing::Script;
using testing::ScriptServer;
using testing::Step;

std::string Redirect(const std::string& location) {
  return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
}

const std::string kAccepted = HttpResponse(200, EncipheredAnswer("result=accepted"));

struct PathRow {
  const char* name;
  std::vector<Script> endpoint;  // the scripted peer's connections
  bool through_proxy;            // the scripted peer plays the proxy
  std::string endpoint_setting;  // when set, instead of the scripted endpoint
  std::string proxy_setting;     // when set, the proxy setting as given
  std::string document;          // when set, instead of the well-formed request ("@": the password)
};

PathRow Direct(const char* name, std::vector<Script> endpoint) { return {name, std::move(endpoint), false, "", "", ""}; }
PathRow Proxied(const char* name, std::vector<Script> proxy) { return {name, std::move(proxy), true, "", "", ""}; }
PathRow Settings(const char* name, std::string endpoint, std::string proxy) {
  return {name, {}, false, std::move(endpoint), std::move(proxy), ""};
}

std::vector<PathRow> PlainPaths(uint16_t other_port, uint16_t refusing_port) {
  std::string other = "127.0.0.1:" + std::to_string(other_port);
  std::string refusing = "127.0.0.1:" + std::to_string(refusing_port);
  return {
      Direct("answered 200", {{Step::Read(), Step::Send(kAccepted)}}),
      Direct("relative redirect keeping the query",
             {{Step::Read(), Step::Send(Redirect("/moved")), Step::Read(), Step::Send(kAccepted)}}),
      Direct("relative redirect with a query of its own",
             {{Step::Read(), Step::Send(Redirect("moved?c=x")), Step::Read(), Step::Send(kAccepted)}}),
      Direct("absolute redirect to another server", {{Step::Read(), Step::Send(Redirect("http://" + other + "/m?c=x"))}}),
      Direct("network-path redirect", {{Step::Read(), Step::Send(Redirect("//" + other + "/interface/newauth/index.php"))}}),
      Direct("redirects without end", {{Step::Read(), Step::Send(Redirect("/again"))}}),
      Proxied("redirect through a proxy",
              {{Step::Read(), Step::Send(Redirect("/moved")), Step::Read(), Step::Send(kAccepted)}}),
      Proxied("absolute redirect through a proxy",
              {{Step::Read(), Step::Send(Redirect("http://" + other + "/x"))}, {Step::Read(), Step::Send(kAccepted)}}),
      Proxied("proxy asking for authentication", {{Step::Read(), Step::Send(HttpResponse(407, ""))}}),
      Settings("refused connection", refusing, ""),
      Settings("refused connection to the proxy", "127.0.0.1:9", refusing),
      Direct("time-out", {{Step::Read(), Step::Hold()}}),
      Direct("connection closed without an answer", {{Step::Read(), Step::Close()}}),
      Direct("bad answer", {{Step::Read(), Step::Send("HTTP/1.1 2x0 OK\r\n\r\n")}}),
      Direct("rejecting status", {{Step::Read(), Step::Send(HttpResponse(500, "no"))}}),
      Direct("answer that does not decipher", {{Step::Read(), Step::Send(HttpResponse(200, "%%%"))}}),
      Settings("bad endpoint setting", "127.0.0.1:99999/x?y", ""),
      Settings("bad proxy setting", "127.0.0.1:9", "127.0.0.1:99999"),
      {"bad JSON", {}, false, "127.0.0.1:9", "", "{\"root\":{\"request\":{\"param_count\":\"1\",\"param_1\":"
                                               "{\"User\":\"alice\",\"Password\":\"@\""},
  };
}

TEST(FreedBlocks, HoldNoPasswordNorEncipheredQueryOnAnyPlainPath) {
  if (!testing::FreedBlockScanAvailable()) GTEST_SKIP() << "the sanitizers own the allocator here";
  uint16_t refusing_port = ScriptServer({{Step::Close()}}).port();  // closed again: refuses
  testing::FreedBlockScan zeroing;  // the peers' copies of the query, freed between the scans
  for (const std::string& password : testing::ScannedPasswords()) {
    ScriptServer other({{Step::Read(), Step::Send(kAccepted)}});
    for (const PathRow& row : PlainPaths(other.port(), refusing_port)) {
      std::unique_ptr<ScriptServer> server;
      if (!row.endpoint.empty()) server = std::make_unique<ScriptServer>(row.endpoint);
      std::string endpoint = !row.endpoint_setting.empty() ? row.endpoint_setting
                             : row.through_proxy ? "127.0.0.1:9"
                                                 : "127.0.0.1:" + std::to_string(server->port());
      std::string proxy = !row.proxy_setting.empty() ? row.proxy_setting
                          : row.through_proxy        ? "127.0.0.1:" + std::to_string(server->port())
                                                     : "";
      std::string document = row.document;
      if (!document.empty()) document.replace(document.find('@'), 1, password);
      testing::ExpectNoSecretFreed(row.name, password, [&] {
        auto service = std::make_unique<HvVerifyImpl>(Utf8ToWide(endpoint));
        service->set_wait_limit_ms(300);
        if (!proxy.empty()) service->SetProxySettings(Utf8ToWide(proxy), WString());
        return service;
      }, document);
    }
  }
}

// A wipe clears the whole buffer a string holds, not only its characters:
// a string that held a secret and was then shortened still has it past
// its end, and would free it so.
TEST(FreedBlocks, WipeClearsTheBufferPastAShortenedString) {
  if (!testing::FreedBlockScanAvailable()) GTEST_SKIP() << "the sanitizers own the allocator here";
  FreedBlockScan scan;
  const std::string secret = "&PassWord=a-much-longer-secret-than-any-small-string";
  // What shortening leaves past the end: the secret but its first characters.
  const std::string tail = secret.substr(4);
  std::vector<std::pair<std::string, std::string>> patterns = {{"secret", tail},
                                                               {"secret utf-16", testing::Utf16Bytes(tail)}};
  scan.Start(std::move(patterns));  // moved whole: no copy of a pattern is freed while armed
  {
    std::string narrow = secret;
    WString wide = Utf8ToWide(secret);
    narrow.resize(2);
    wide.clear();
    platform::WipeString("test", narrow);
    platform::WipeString("test", wide);
  }
  std::vector<std::pair<std::string, int>> found = scan.Stop();
  EXPECT_TRUE(found.empty()) << found[0].first << " left in " << found[0].second << " freed block(s)";
}

}  // namespace
}  // namespace hv
