// The HTTP client against the scripted loopback peer.
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

TEST(HttpRequest, BytesAreExactForPathPortAndQuery) {
  struct Case { std::string path; std::string line; } cases[] = {
      {"", "GET / HTTP/1.1\r\n"},
      {"?c=1", "GET /?c=1 HTTP/1.1\r\n"},
      {"/interface/newauth/index.php?c=A%2B", "GET /interface/newauth/index.php?c=A%2B HTTP/1.1\r\n"},
  };
  for (const auto& c : cases) {
    ScriptServer server = Answering(HttpResponse(200, "ok"));
    ASSERT_TRUE(Get(server.Url(c.path)).ok);
    std::string expected = c.line + "Host: 127.0.0.1:" + std::to_string(server.port()) +
                           "\r\nUser-Agent: Microsoft-ATL-Native/8.00\r\n\r\n";
    EXPECT_EQ(server.Requests().at(0), expected);
  }
}

TEST(HttpRequest, PortEightyIsLeftOutOfTheHostField) {
  CAtlHttpClient client;
  // Whether anything listens on port 80 does not matter: the text counts.
  EXPECT_FALSE(client.Navigate(HV_W("http://LocalHost:80/x"), Fast()));
  EXPECT_EQ(WideToUtf8(client.ComposeRequest()),
            "GET /x HTTP/1.1\r\nHost: LocalHost\r\n"
            "User-Agent: Microsoft-ATL-Native/8.00\r\n\r\n");
}

TEST(HttpResponse, ContentLengthBodyKeepsTheConnectionOpen) {
  ScriptServer server = Answering(HttpResponse(200, "hello") + "trailing");
  Exchange e = Get(server.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.status, 200);
  EXPECT_EQ(e.body.substr(0, 5), "hello");
  EXPECT_TRUE(e.connected);
}

TEST(HttpResponse, BodyWithoutLengthRunsUntilThePeerCloses) {
  ScriptServer server({{Step::Read(), Step::Send("HTTP/1.1 200 OK\r\n\r\npart one,"),
                        Step::Sleep(50), Step::Send(" part two"), Step::Close()}});
  Exchange e = Get(server.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "part one, part two");
}

TEST(HttpResponse, BodyShorterThanAnnouncedFails) {
  ScriptServer server({{Step::Read(),
                        Step::Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd"),
                        Step::Close()}});
  Exchange e = Get(server.Url("/"));
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.status, 200);
}

TEST(HttpResponse, ChunkedBodyWithAndWithoutTrailer) {
  ScriptServer plain = Answering(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
  Exchange e = Get(plain.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "hello");

  ScriptServer trailer = Answering(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nTrailer: X-Sum\r\n\r\n"
      "5\r\nhello\r\n0\r\nX-Sum: 42\r\n\r\n");
  CAtlHttpClient client;
  ASSERT_TRUE(client.Navigate(Utf8ToWide(trailer.Url("/")), Fast()));
  EXPECT_EQ(std::string(client.GetBody()), "hello");
  EXPECT_EQ(client.GetBodyBytes(), 5);
  ASSERT_NE(client.Headers().Find(HV_W("x-sum")), nullptr);
  EXPECT_EQ(*client.Headers().Find(HV_W("x-sum")), HV_W("42"));
}

// Chunk extensions are valid HTTP/1.1: they are skipped, not failed.
TEST(HttpResponse, ChunkExtensionsAreSkipped) {
  ScriptServer server = Answering(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\n"
      "1 ; ext ; q=\"a;b\"\r\n!\r\n0;last\r\n\r\n");
  Exchange e = Get(server.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "hello!");
}

// An announced length, even a negative one, is no "read to the end": no
// wait for bytes the peer never announced.
TEST(HttpResponse, NegativeContentLengthReadsNothingMore) {
  ScriptServer server({{Step::Read(),
                        Step::Send("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc"),
                        Step::Hold()}});
  NavigateSettings settings = Fast();
  settings.timeout_ms = 3000;
  auto start = std::chrono::steady_clock::now();
  Exchange e = Get(server.Url("/"), settings);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "abc");
}

// The value of a header may start after any white space, on a
// continuation line too.
TEST(HttpResponse, ChunkedAnnouncedOnAContinuationLineIsChunked) {
  ScriptServer server = Answering(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding:\r\n chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
  Exchange e = Get(server.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "hello");
}

// The status line ends at its line feed, CR or not.
TEST(HttpResponse, StatusLineEndedByALineFeedKeepsTheFirstHeader) {
  ScriptServer server = Answering("HTTP/1.1 200 OK\nContent-Length: 2\r\n\r\nok");
  CAtlHttpClient client;
  ASSERT_TRUE(client.Navigate(Utf8ToWide(server.Url("/")), Fast()));
  ASSERT_NE(client.Headers().Find(HV_W("Content-Length")), nullptr);
  EXPECT_EQ(std::string(client.GetBody()), "ok");
  EXPECT_TRUE(client.connected());  // framed by its length, not by a time-out
}

// One rule for a body without length: the single wait's own time-out ends
// it; the deadline of the whole exchange fails it, every time.
TEST(HttpResponse, UnframedBodyEndsAtTheWaitButFailsAtTheDeadline) {
  Script partial = {Step::Read(), Step::Send("HTTP/1.1 200 OK\r\n\r\npartial"), Step::Hold()};
  {
    ScriptServer server({partial});
    NavigateSettings settings = Fast();
    settings.timeout_ms = 300;
    Exchange e = Get(server.Url("/"), settings);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.body, "partial");
  }
  for (int run = 0; run < 3; ++run) {
    ScriptServer server({partial});
    NavigateSettings settings = Fast();
    settings.timeout_ms = 5000;
    settings.deadline_ms = 400;
    EXPECT_FALSE(Get(server.Url("/"), settings).ok) << "run " << run;
  }
}

TEST(HttpResponse, InterimContinueIsSkipped) {
  ScriptServer server = Answering("HTTP/1.1 100 Continue\r\nX: 1\r\n\r\n" +
                                  HttpResponse(200, "final"));
  Exchange e = Get(server.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.status, 200);
  EXPECT_EQ(e.body, "final");
}

TEST(HttpStatus, AcceptedAndRefusedCodes) {
  struct Case { int status; bool ok; } cases[] = {
      {200, true}, {204, true}, {206, true}, {304, true}, {305, true},
      {207, false}, {300, false}, {307, false}, {401, false}, {404, false}, {500, false}};
  for (const auto& c : cases) {
    ScriptServer server = Answering(HttpResponse(c.status, ""));
    Exchange e = Get(server.Url("/"));
    EXPECT_EQ(e.ok, c.ok) << c.status;
    EXPECT_EQ(e.status, c.status);
    EXPECT_EQ(e.error, 0u);
  }
}

TEST(HttpStatus, GarbageStatusLineFailsWithoutStatus) {
  ScriptServer server = Answering("garbage\r\n\r\n");
  Exchange e = Get(server.Url("/"));
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.status, -1);
}

TEST(HttpHeaders, RepeatedFieldsJoinAndDoubleCloseDoesNotClose) {
  ScriptServer server = Answering(HttpResponse(200, "x", "Connection: close\r\nconnection: close\r\n"));
  CAtlHttpClient client;
  ASSERT_TRUE(client.Navigate(Utf8ToWide(server.Url("/")), Fast()));
  EXPECT_EQ(*client.Headers().Find(HV_W("CONNECTION")), HV_W("close,close"));
  EXPECT_TRUE(client.connected());
}

TEST(HttpHeaders, SingleConnectionCloseClosesTheConnection) {
  ScriptServer server = Answering(HttpResponse(200, "x", "Connection: close\r\n"));
  EXPECT_FALSE(Get(server.Url("/")).connected);
}

TEST(HttpHeaders, ValueOf1024BytesIsDroppedAnd1023Kept) {
  ScriptServer server = Answering(HttpResponse(
      200, "", "A: " + std::string(1023, 'a') + "\r\nB: " + std::string(1024, 'b') + "\r\n"));
  CAtlHttpClient client;
  ASSERT_TRUE(client.Navigate(Utf8ToWide(server.Url("/")), Fast()));
  EXPECT_NE(client.Headers().Find(HV_W("A")), nullptr);
  EXPECT_EQ(client.Headers().Find(HV_W("B")), nullptr);
}

TEST(HttpRedirect, RootedLocationOnTheSameHostReusesTheConnection) {
  ScriptServer server({{Step::Read(), Step::Send(HttpResponse(302, "", "Location: /next\r\n")),
                        Step::Read(), Step::Send(HttpResponse(200, "second")), Step::Hold()}});
  Exchange e = Get(server.Url("/first?c=1"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.status, 200);
  EXPECT_EQ(e.body, "second");
  EXPECT_EQ(server.connections(), 1);
  EXPECT_THAT(server.Requests().at(0), ::testing::HasSubstr("GET /next?c=1 HTTP/1.1\r\n"));
}

TEST(HttpRedirect, Http10PeerWithoutKeepAliveGetsANewConnection) {
  ScriptServer server({{Step::Read(),
                        Step::Send("HTTP/1.0 301 Moved\r\nLocation: /b\r\nContent-Length: 0\r\n\r\n"),
                        Step::Close()},
                       {Step::Read(), Step::Send(HttpResponse(200, "b")), Step::Hold()}});
  Exchange e = Get(server.Url("/a"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "b");
  EXPECT_EQ(server.connections(), 2);
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

// The 302's body ends by time-out; the peer's late bytes on that
// connection must not become the answer to the redirected request.
TEST(HttpRedirect, AfterATimedOutBodyTheRedirectGoesOutOnAFreshConnection) {
  ScriptServer server({{Step::Read(), Step::Send("HTTP/1.1 302 Found\r\nLocation: /second\r\n\r\n"),
                        Step::Sleep(1300), Step::Send(HttpResponse(200, "late")), Step::Close()},
                       {Step::Read(), Step::Send(HttpResponse(200, "fresh")), Step::Hold()}});
  NavigateSettings settings = Fast();
  settings.timeout_ms = 1000;
  Exchange e = Get(server.Url("/first"), settings);
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "fresh");
  EXPECT_EQ(server.connections(), 2);
}

TEST(HttpRedirect, SeeOtherIsFollowedAndProxyAuthenticationRefused) {
  ScriptServer server({{Step::Read(), Step::Send(HttpResponse(303, "", "Location: /other\r\n")),
                        Step::Read(), Step::Send(HttpResponse(200, "other")), Step::Hold()}});
  Exchange e = Get(server.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "other");
  ScriptServer proxy = Answering(HttpResponse(407, "", "Proxy-Authenticate: Basic realm=x\r\n"));
  Exchange refused = Get(proxy.Url("/"));
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.status, 407);
  EXPECT_EQ(refused.error, 0u);
}

TEST(HttpRedirect, WithoutLocationIsAccepted) {
  ScriptServer server = Answering(HttpResponse(302, "moved"));
  Exchange e = Get(server.Url("/"));
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.status, 302);
}

TEST(HttpRedirect, HttpsTargetsAreRefused) {
  ScriptServer server = Answering(HttpResponse(302, "", "Location: https://127.0.0.1/\r\n"));
  EXPECT_FALSE(Get(server.Url("/")).ok);
  ScriptServer untouched({});
  Exchange e = Get("https://127.0.0.1:" + std::to_string(untouched.port()) + "/");
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error, 0u);
  EXPECT_EQ(e.status, -1);
  EXPECT_EQ(untouched.connections(), 0);
}

TEST(HttpRedirect, EndlessLoopEndsAfterTenRedirects) {
  ScriptServer server({{Step::Read(),
                        Step::Send(HttpResponse(302, "", "Location: /again\r\nConnection: close\r\n")),
                        Step::Close()}});
  Exchange e = Get(server.Url("/"));
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.status, 302);
  EXPECT_EQ(server.connections(), 11);
}

TEST(HttpRedirect, TargetWhereNothingListensFailsWithNotConnected) {
  uint16_t dead_port;
  {
    ScriptServer gone({});
    dead_port = gone.port();
  }
  ScriptServer server = Answering(HttpResponse(
      302, "", "Location: http://127.0.0.1:" + std::to_string(dead_port) + "/\r\n"));
  Exchange e = Get(server.Url("/"));
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error, 10057u);
}

TEST(HttpLimits, OversizedAnnouncedBodyFailsAtOnce) {
  ScriptServer server = Answering("HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\nxx");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Get(server.Url("/")).ok);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST(HttpLimits, StreamedBodyOverTheLimitFails) {
  std::string chunk(1 << 20, 'z');
  Script script = {Step::Read(), Step::Send("HTTP/1.1 200 OK\r\n\r\n")};
  for (int i = 0; i < 20; ++i) script.push_back(Step::Send(chunk));
  ScriptServer server({script});
  EXPECT_FALSE(Get(server.Url("/")).ok);
}

TEST(HttpLimits, EndlessHeaderBlockFails) {
  Script script = {Step::Read(), Step::Send("HTTP/1.1 200 OK\r\n")};
  for (int i = 0; i < 40; ++i) script.push_back(Step::Send("X: " + std::string(8192, 'h') + "\r\n"));
  ScriptServer server({script});
  EXPECT_FALSE(Get(server.Url("/")).ok);
}

TEST(HttpTimeouts, PeerThatNeverAnswersTimesOutWithoutError) {
  ScriptServer server({{Step::Hold()}});
  auto start = std::chrono::steady_clock::now();
  Exchange e = Get(server.Url("/"));
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error, 0u);
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

TEST(HttpDefaults, SettingsCarryTenSecondsAndPortEighty) {
  NavigateSettings defaults;
  EXPECT_EQ(defaults.timeout_ms, 10000u);
  EXPECT_EQ(defaults.default_port, 80);
  EXPECT_EQ(defaults.max_redirects, 10u);
  EXPECT_EQ(defaults.deadline_ms, 0u);
  CAtlHttpClient client;
  EXPECT_EQ(client.SocketTimeout, 10000u);
  EXPECT_EQ(client.GetStatus(), -1);
}

}  // namespace
}  // namespace hv
