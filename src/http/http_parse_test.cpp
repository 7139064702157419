// The HTTP client's reading of responses (head, status rules, chunked
// bodies, redirects, limits) through the in-memory transport: bytes in,
// no threads, no waits. Each case runs with the peer's bytes cut into
// single bytes and into larger pieces, so that no rule depends on where a
// receive happens to end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf.h"
#include "tests/support/memory_exchange.h"
#include "tests/support/script_server.h"

namespace hv {
namespace {

using testing::HttpResponse;

using testing::MemoryExchange;
const std::string kUrl = testing::kExchangeUrl;

using testing::ForEachCut;

TEST(HttpRequestBytes, PathPortAndQueryAreExact) {
  MemoryExchange e(HttpResponse(200, "ok"), 4096);
  EXPECT_EQ(e.client.sent(),
            "GET /first?c=1 HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"
            "User-Agent: Microsoft-ATL-Native/8.00\r\n\r\n");
  MemoryExchange root(HttpResponse(200, "ok"), 4096, "http://LocalHost:80");
  EXPECT_EQ(root.client.sent(),
            "GET / HTTP/1.1\r\nHost: LocalHost\r\nUser-Agent: Microsoft-ATL-Native/8.00\r\n\r\n");
}

TEST(HttpBody, FramingByLengthByCloseAndShortBodies) {
  ForEachCut(HttpResponse(200, "hello"), [](const MemoryExchange& e) {
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.client.GetStatus(), 200);
    EXPECT_EQ(e.body(), "hello");
    EXPECT_TRUE(e.client.connected());  // framed by its length
  });
  ForEachCut("HTTP/1.1 200 OK\r\n\r\npart one, part two", [](const MemoryExchange& e) {
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.body(), "part one, part two");
  });
  // A body the close cuts short fails with an error number (connection
  // reset), never with none.
  ForEachCut("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd", [](const MemoryExchange& e) {
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.client.GetStatus(), 200);
    EXPECT_EQ(e.client.GetLastError(), platform::kSocketReset);
  });
  ForEachCut("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", [](const MemoryExchange& e) {
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.client.GetLastError(), platform::kSocketReset);
  });
}

TEST(HttpBody, ChunkedWithTrailerExtensionsAndAContinuedHeader) {
  ForEachCut("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nTrailer: X-Sum\r\n\r\n"
             "5\r\nhello\r\n0\r\nX-Sum: 42\r\n\r\n",
             [](const MemoryExchange& e) {
               ASSERT_TRUE(e.ok);
               EXPECT_EQ(std::string(e.client.GetBody()), "hello");
               EXPECT_EQ(e.client.GetBodyBytes(), 5);
               // Trailer fields are read, but never enter the header table.
               EXPECT_EQ(e.header(HV_W("x-sum")), nullptr);
             });
  // Extensions are valid HTTP/1.1: skipped, not failed.
  ForEachCut("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\n"
             "1 ; ext ; q=\"a;b\"\r\n!\r\n0;last\r\n\r\n",
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.body(), "hello!");
             });
  // A value may start after any white space, on a continuation line too.
  ForEachCut("HTTP/1.1 200 OK\r\nTransfer-Encoding:\r\n chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.body(), "hello");
             });
}

TEST(HttpHead, StatusLineEndsAtItsLineFeedAndInterimAnswersAreSkipped) {
  ForEachCut("HTTP/1.1 200 OK\nContent-Length: 2\r\n\r\nok", [](const MemoryExchange& e) {
    ASSERT_TRUE(e.ok);
    EXPECT_NE(e.header(HV_W("Content-Length")), nullptr);
    EXPECT_EQ(std::string(e.client.GetBody()), "ok");
  });
  ForEachCut("HTTP/1.1 100 Continue\r\nX: 1\r\n\r\n" + HttpResponse(200, "final"),
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.client.GetStatus(), 200);
               EXPECT_EQ(e.body(), "final");
             });
  ForEachCut("garbage\r\n\r\n", [](const MemoryExchange& e) {
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.client.GetStatus(), -1);
  });
}

TEST(HttpStatus, AcceptedAndRefusedCodes) {
  struct Case { int status; bool ok; } cases[] = {
      {200, true}, {204, true}, {206, true}, {304, true}, {305, true},
      {207, false}, {300, false}, {307, true}, {308, true}, {401, false}, {404, false}, {500, false}};
  for (const auto& c : cases) {
    MemoryExchange e(HttpResponse(c.status, ""), 4096);
    EXPECT_EQ(e.ok, c.ok) << c.status;
    EXPECT_EQ(e.client.GetStatus(), c.status);
    // A refused status has a number of its own (it was 0, "no error").
    EXPECT_EQ(e.client.GetLastError(), c.ok ? 0u : c.status == 401 ? http_error::kAuthRequired : http_error::kBadResponse)
        << c.status;
  }
  MemoryExchange proxy(HttpResponse(407, "", "Proxy-Authenticate: Basic realm=x\r\n"), 4096);
  EXPECT_FALSE(proxy.ok);
  EXPECT_EQ(proxy.client.GetStatus(), 407);
}

// "Connection" is a list of tokens: two "close" fields joined still say
// close, and so does any list that holds it.
TEST(HttpHeaders, RepeatsJoinLongValuesDropAndAnyCloseTokenCloses) {
  ForEachCut(HttpResponse(200, "x", "Connection: close\r\nconnection: close\r\n"),
             [](const MemoryExchange& e) {
               ASSERT_TRUE(e.ok);
               EXPECT_EQ(*e.header(HV_W("CONNECTION")), HV_W("close,close"));
               EXPECT_FALSE(e.client.connected());
             });
  MemoryExchange closing(HttpResponse(200, "x", "Connection: close\r\n"), 4096);
  EXPECT_FALSE(closing.client.connected());
  MemoryExchange lengths(HttpResponse(200, "", "A: " + std::string(1023, 'a') + "\r\nB: " +
                                                   std::string(1024, 'b') + "\r\n"),
                         4096);
  ASSERT_TRUE(lengths.ok);
  EXPECT_NE(lengths.header(HV_W("A")), nullptr);
  EXPECT_EQ(lengths.header(HV_W("B")), nullptr);
}

TEST(HttpRedirect, LocationsResolveAgainstTheCurrentUrl) {
  std::vector<std::string> script = {HttpResponse(302, "", "Location: c.php\r\n"),
                                     HttpResponse(301, "", "Location: http://other.example:81/abs\r\n"),
                                     HttpResponse(303, "", "Location: /other\r\n"), HttpResponse(200, "there")};
  ForEachCut(script, [](const MemoryExchange& e) {
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.body(), "there");
    EXPECT_THAT(e.client.sent(), ::testing::HasSubstr("GET /a/c.php?q=1 HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"));
    EXPECT_THAT(e.client.sent(), ::testing::HasSubstr("GET /abs HTTP/1.1\r\nHost: other.example:81\r\n"));
    EXPECT_THAT(e.client.sent(), ::testing::HasSubstr("GET /other HTTP/1.1\r\nHost: other.example:81\r\n"));
  }, "http://127.0.0.1:8080/a/b?q=1");
  // A rooted location on the same host keeps the query and the connection.
  MemoryExchange same({HttpResponse(302, "", "Location: /next\r\n"), HttpResponse(200, "second")}, 7);
  EXPECT_TRUE(same.ok);
  EXPECT_EQ(same.body(), "second");
  EXPECT_EQ(same.client.connections(), 1);
  EXPECT_THAT(same.client.sent(), ::testing::HasSubstr("GET /next?c=1 HTTP/1.1\r\n"));
}

TEST(HttpRedirect, NoLocationIsAnAnswerAndHttpsIsNeverReached) {
  MemoryExchange moved(HttpResponse(302, "moved"), 4096);
  EXPECT_TRUE(moved.ok);
  EXPECT_EQ(moved.client.GetStatus(), 302);
  MemoryExchange upgrade(HttpResponse(302, "", "Location: https://127.0.0.1/\r\n"), 4096);
  EXPECT_FALSE(upgrade.ok);
  EXPECT_EQ(upgrade.client.connections(), 1);
  MemoryExchange direct(HttpResponse(200, "no"), 4096, "https://127.0.0.1:8443/");
  EXPECT_FALSE(direct.ok);
  EXPECT_EQ(direct.client.GetLastError(), http_error::kSchemeRefused);
  EXPECT_EQ(direct.client.GetStatus(), -1);
  EXPECT_EQ(direct.client.connections(), 0);
}

TEST(HttpRedirect, LoopEndsAfterTenRedirectsAndHttp10ClosesBetween) {
  std::vector<std::string> loop(12, HttpResponse(302, "", "Location: /again\r\nConnection: close\r\n"));
  MemoryExchange e(loop, 4096);
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.client.GetStatus(), 302);
  EXPECT_EQ(e.client.connections(), 11);
  MemoryExchange old({"HTTP/1.0 301 Moved\r\nLocation: /b\r\nContent-Length: 0\r\n\r\n",
                      HttpResponse(200, "b")},
                     3);
  EXPECT_TRUE(old.ok);
  EXPECT_EQ(old.body(), "b");
  EXPECT_EQ(old.client.connections(), 2);
}

TEST(HttpLimits, OversizedAnnouncedStreamedAndEndlessHeadsFail) {
  EXPECT_FALSE(MemoryExchange("HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\nxx", 4096).ok);
  NavigateSettings small;
  small.max_body_bytes = 1000;
  small.max_header_bytes = 2000;
  EXPECT_FALSE(MemoryExchange("HTTP/1.1 200 OK\r\n\r\n" + std::string(1001, 'z'), 4096, kUrl, small).ok);
  EXPECT_TRUE(MemoryExchange("HTTP/1.1 200 OK\r\n\r\n" + std::string(1000, 'z'), 4096, kUrl, small).ok);
  std::string endless = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 40; ++i) endless += "X: " + std::string(100, 'h') + "\r\n";
  EXPECT_FALSE(MemoryExchange(endless + "\r\n", 4096, kUrl, small).ok);
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
