// The HTTP client against the scripted loopback peer, for what only a real
// socket shows: waits, time-outs, deadlines and connections. The reading of
// responses is tested through the in-memory transport (http_parse_test).
#include "http/http_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "base/utf.h"
#include "tests/support/script_server.h"

namespace hv {
namespace {

using testing::HttpResponse;
using testing::Script;
using testing::ScriptServer;
using testing::Step;

NavigateSettings Fast() {
  NavigateSettings s;
  s.timeout_ms = 500;
  return s;
}

struct Exchange {
  bool ok;
  int32_t status;
  std::string body;
  uint32_t error;
  bool connected;
};

Exchange Get(const std::string& url, const NavigateSettings& settings = Fast()) {
  CAtlHttpClient client;
  bool ok = client.Navigate(Utf8ToWide(url), settings);
  return {ok, client.GetStatus(), std::string(client.GetBody(), client.GetBodyLength()),
          client.GetLastError(), client.connected()};
}

// A one-connection server that reads the request and sends `response`.
ScriptServer Answering(const std::string& response) {
  return ScriptServer({{Step::Read(), Step::Send(response), Step::Hold()}});
}

// A negative length is no length at all: the response fails at once,
// without a wait for bytes the peer never announced.
TEST(HttpResponse, NegativeContentLengthFailsAtOnce) {
  ScriptServer server({{Step::Read(),
                        Step::Send("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc"),
                        Step::Hold()}});
  NavigateSettings settings = Fast();
  settings.timeout_ms = 3000;
  auto start = std::chrono::steady_clock::now();
  Exchange e = Get(server.Url("/"), settings);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.status, 200);
}

// One rule for a body without length: only the peer's orderly close ends
// it. The single wait's own time-out fails it (WSAETIMEDOUT for the log),
// and so does the deadline of the whole exchange, every time.
TEST(HttpResponse, UnframedBodyEndsAtTheCloseAndFailsAtTheWaitOrTheDeadline) {
  {
    ScriptServer server({{Step::Read(), Step::Send("HTTP/1.1 200 OK\r\n\r\nwhole"), Step::Close()}});
    Exchange e = Get(server.Url("/"));
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.body, "whole");
  }
  Script partial = {Step::Read(), Step::Send("HTTP/1.1 200 OK\r\n\r\npartial"), Step::Hold()};
  {
    ScriptServer server({partial});
    NavigateSettings settings = Fast();
    settings.timeout_ms = 300;
    Exchange e = Get(server.Url("/"), settings);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.error, 10060u);
  }
  for (int run = 0; run < 3; ++run) {
    ScriptServer server({partial});
    NavigateSettings settings = Fast();
    settings.timeout_ms = 5000;
    settings.deadline_ms = 400;
    EXPECT_FALSE(Get(server.Url("/"), settings).ok) << "run " << run;
  }
}

TEST(HttpRedirect, RelativeAndAbsoluteLocations) {
  ScriptServer target = Answering(HttpResponse(200, "there"));
  ScriptServer server({{Step::Read(), Step::Send(HttpResponse(302, "", "Location: c.php\r\n")),
                        Step::Read(),
                        Step::Send(HttpResponse(301, "", "Location: " + target.Url("/abs") + "\r\n")),
                        Step::Hold()}});
  Exchange e = Get(server.Url("/a/b?q=1"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "there");
  EXPECT_THAT(server.Requests().at(0), ::testing::HasSubstr("GET /a/c.php?q=1 HTTP/1.1\r\n"));
  EXPECT_THAT(target.Requests().at(0), ::testing::StartsWith("GET /abs HTTP/1.1\r\n"));
}

// A 302 whose body has no length and whose peer falls silent is no whole
// answer: the exchange fails, and no redirect goes out, neither on that
// connection (where the peer's late bytes would be read as the answer)
// nor on another.
TEST(HttpRedirect, ARedirectWhoseBodyTimesOutIsNotFollowed) {
  ScriptServer server({{Step::Read(), Step::Send("HTTP/1.1 302 Found\r\nLocation: /second\r\n\r\n"),
                        Step::Sleep(800), Step::Send(HttpResponse(200, "late")), Step::Close()},
                       {Step::Read(), Step::Send(HttpResponse(200, "fresh")), Step::Hold()}});
  NavigateSettings settings = Fast();
  settings.timeout_ms = 400;
  Exchange e = Get(server.Url("/first"), settings);
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error, 10060u);
  EXPECT_EQ(server.connections(), 1);
}

// The redirect's own connection error is reported, not a later send's.
TEST(HttpRedirect, TargetWhereNothingListensReportsItsOwnError) {
  uint16_t dead_port;
  {
    ScriptServer gone({});
    dead_port = gone.port();
  }
  ScriptServer server = Answering(HttpResponse(
      302, "", "Location: http://127.0.0.1:" + std::to_string(dead_port) + "/\r\n"));
  Exchange e = Get(server.Url("/"));
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error, 10061u);
}

// A bracketed IPv6 literal keeps its brackets in the URL and the Host
// field, and loses them only for the resolver.
TEST(HttpIpv6, ABracketedLiteralReachesAListenerOnLoopbackSix) {
  ScriptServer server({{Step::Read(), Step::Send(HttpResponse(200, "six")), Step::Hold()}}, true);
  Exchange e = Get(server.Url("/x?y=1"));
  EXPECT_TRUE(e.ok) << e.error;
  EXPECT_EQ(e.body, "six");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_THAT(server.Requests()[0],
              ::testing::StartsWith("GET /x?y=1 HTTP/1.1\r\nHost: [::1]:" + std::to_string(server.port()) + "\r\n"));
}

// After "Connection: close", a redirect to another host connects to that
// host only: the old one is not called again first.
TEST(HttpRedirect, AfterConnectionCloseOnlyTheNewHostIsConnected) {
  ScriptServer target = Answering(HttpResponse(200, "there"));
  ScriptServer server({{Step::Read(),
                        Step::Send(HttpResponse(302, "", "Location: " + target.Url("/t") + "\r\nConnection: close\r\n")),
                        Step::Close()}});
  Exchange e = Get(server.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "there");
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(target.connections(), 1);
}

// The wait that runs out is reported as WSAETIMEDOUT: it once left error
// 0, which the log showed as "GetLastError is 0".
TEST(HttpTimeouts, PeerThatNeverAnswersTimesOutWithWsaeTimedOut) {
  ScriptServer server({{Step::Hold()}});
  auto start = std::chrono::steady_clock::now();
  Exchange e = Get(server.Url("/"));
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error, 10060u);
  EXPECT_GE(spent, std::chrono::milliseconds(450));
  EXPECT_LT(spent, std::chrono::seconds(3));
}

TEST(HttpTimeouts, DripFeedingPeerIsCutAtTheDeadline) {
  ScriptServer server({{Step::Read(), Step::Drip(HttpResponse(200, std::string(100, 'd')), 100)}});
  NavigateSettings settings = Fast();
  settings.deadline_ms = 700;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Get(server.Url("/"), settings).ok);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

}  // namespace
}  // namespace hv
