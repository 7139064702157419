// The HTTP client against a hostile peer, through the in-memory transport:
// redirect targets that try to split the request, interim answers, framing
// by RFC 9112's rules, connection tokens, trailers and the deadline. Each
// case states the rule it holds, not only the case that broke it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/memory_exchange.h"
#include "tests/support/script_server.h"

namespace hv {
namespace {

using testing::CheckRequests;
using testing::ForEachCut;
using testing::HttpResponse;
using testing::MemoryExchange;
using namespace std::string_literals;

std::string Redirect(const std::string& location_line) {
  return "HTTP/1.1 302 Found\r\nLocation: " + location_line + "\r\nContent-Length: 0\r\n\r\n";
}

// Whatever a "Location" holds, every request sent is one request line and
// the fixed fields, its target bytes within 0x21..0x7E.
TEST(HttpRequestSplitting, NoLocationValueCanAddALineToTheRequest) {
  const std::string locations[] = {
      "/a\r\n X-Injected: 1",            // obs-fold: becomes one blank, then escaped
      "/a b",                            // a blank
      "/a\rb",                           // a bare CR
      "/caf\xC3\xA9?q=\xE2\x82\xAC x",   // non-ASCII and a blank in the query
      "http://other.example/x\r\n\ty z",  // absolute, folded
      "/\x01\x7F\x1B",                  // control bytes
  };
  for (const std::string& location : locations) {
    SCOPED_TRACE(location);
    ForEachCut({Redirect(location), HttpResponse(200, "ok")}, [](const MemoryExchange& e) {
      size_t count = 0;
      EXPECT_EQ(CheckRequests(e.client.sent(), &count), "");
      EXPECT_EQ(count, 2u);
      EXPECT_TRUE(e.ok);
    });
  }
  MemoryExchange folded({Redirect("/a\r\n X-Injected: 1"), HttpResponse(200, "ok")}, 4096);
  EXPECT_THAT(folded.client.sent(), ::testing::HasSubstr("GET /a%20X-Injected:%201?c=1 HTTP/1.1\r\n"));
  // Bare line feeds end the field, and the line after it is no field: the
  // redirect fails, and nothing more is sent.
  MemoryExchange bare({Redirect("/a\nSET pwned 1\nX"), HttpResponse(200, "ok")}, 4096);
  EXPECT_FALSE(bare.ok);
  size_t count = 0;
  EXPECT_EQ(CheckRequests(bare.client.sent(), &count), "");
  EXPECT_EQ(count, 1u);
}

// A target whose host cannot go into a Host field is refused before any
// byte of its request is sent.
TEST(HttpRequestSplitting, AHostWithBlanksOrControlsIsNeverSentTo) {
  // Nor is a host that is no name and no IPv6 address, or one that is not
  // after "//".
  for (const char* location : {"http://evil\x01host/", "http://a b/", "http://h\x7F/", "http://[evil.com]/",
                               "http://[1:2]/", "http:foo/x", "http://caf\xE9/"}) {
    MemoryExchange e({Redirect(location), HttpResponse(200, "ok")}, 4096);
    EXPECT_FALSE(e.ok) << location;
    size_t count = 0;
    EXPECT_EQ(CheckRequests(e.client.sent(), &count), "");
    EXPECT_EQ(count, 1u) << location;
  }
}

// A Location's bytes beyond ASCII are escaped as they came, whatever the
// locale: converted through it they were lost ("GET /caf" was sent).
TEST(HttpRequestSplitting, LocationBytesBeyondAsciiAreEscapedNeverConverted) {
  MemoryExchange e({Redirect("/caf\xE9?q=\xC3\xA9"), HttpResponse(200, "ok")}, 4096);
  EXPECT_TRUE(e.ok);
  EXPECT_THAT(e.client.sent(), ::testing::HasSubstr("GET /caf%e9?q=%c3%a9 HTTP/1.1\r\n"));
}

// The first URL's query is escaped the same way: a blank or a non-ASCII
// character never reaches the request line raw.
TEST(HttpRequestSplitting, TheFirstUrlsQueryIsEscapedToo) {
  MemoryExchange e(HttpResponse(200, "ok"), 4096, "http://h/p?x y&z=caf\xC3\xA9#frag");
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.client.sent(),
            "GET /p?x%20y&z=caf%c3%a9 HTTP/1.1\r\nHost: h\r\nUser-Agent: Microsoft-ATL-Native/8.00\r\n\r\n");
}

// Every 1xx but 101 is interim and skipped; 101 answers no upgrade that
// was asked for and fails.
TEST(HttpInterim, EveryInformationalAnswerButSwitchingIsSkipped) {
  for (const char* interim : {"HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n",
                              "HTTP/1.1 102 Processing\r\n\r\n", "HTTP/1.1 100 Continue\r\n\r\n"}) {
    ForEachCut(std::string(interim) + interim + HttpResponse(200, "final"),
               [&](const MemoryExchange& e) {
                 EXPECT_TRUE(e.ok) << interim;
                 EXPECT_EQ(e.client.GetStatus(), 200);
                 EXPECT_EQ(e.body(), "final");
                 EXPECT_EQ(e.header(HV_W("Link")), nullptr);
               });
  }
  MemoryExchange upgrade("HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n" + HttpResponse(200, "no"), 4096);
  EXPECT_FALSE(upgrade.ok);
}

// Interim blocks count against the header limit: a peer that sends them
// without end is cut off there.
TEST(HttpInterim, EndlessInterimBlocksFailAtTheHeaderLimit) {
  NavigateSettings small;
  small.max_header_bytes = 2000;
  std::string blocks;
  for (int i = 0; i < 200; ++i) blocks += "HTTP/1.1 100 Continue\r\n\r\n";
  EXPECT_FALSE(MemoryExchange(blocks + HttpResponse(200, "x"), 4096, testing::kExchangeUrl, small).ok);
  EXPECT_FALSE(MemoryExchange(blocks + HttpResponse(200, "x"), 5, testing::kExchangeUrl, small).ok);
}

// An interim answer's fields are dropped, but a line in it that is no
// field, or a framing field that is invalid, fails the response, as in the
// final head (the differential wire test found "Link: </x>\r\0" skipped;
// an invalid Content-Length there was skipped too).
TEST(HttpInterim, AnInterimHeadWithALineThatIsNoFieldFails) {
  for (const std::string& interim : {"HTTP/1.1 103 Early Hints\r\nLink: </x>\r\0\n\r\n"s,
                                     "HTTP/1.1 100 Continue\r\nno colon\r\n\r\n"s,
                                     "HTTP/1.1 100 Continue\r\nContent-Length: x\r\n\r\n"s,
                                     "HTTP/1.1 100 Continue\r\nContent-Length: 5, 6\r\n\r\n"s}) {
    ForEachCut(interim + HttpResponse(200, "x"), [](const MemoryExchange& e) { EXPECT_FALSE(e.ok); });
  }
  ForEachCut("HTTP/1.1 103 Early Hints\r\nLink: </x>\r\n\r\n" + HttpResponse(200, "x"),
             [](const MemoryExchange& e) { EXPECT_TRUE(e.ok); });
}

// RFC 9112 6.3, in its order.
TEST(HttpFraming, NoBodyAfter204And304AndWhatFollowsIsCutWithTheConnection) {
  for (int status : {204, 304}) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " X\r\n\r\n";
    ForEachCut(head, [&](const MemoryExchange& e) {
      EXPECT_TRUE(e.ok) << status;
      EXPECT_EQ(e.body(), "");
    });
    MemoryExchange extra(head + "XYZ", 4096);
    EXPECT_TRUE(extra.ok);
    EXPECT_EQ(extra.body(), "");
    EXPECT_FALSE(extra.client.connected());
  }
}

TEST(HttpFraming, TransferEncodingWinsOverLengthAndOnlyAFinalChunkedIsRead) {
  ForEachCut("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
             "5\r\nhello\r\n0\r\n\r\n",
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.body(), "hello");
               EXPECT_FALSE(e.client.connected());  // a message that says both closes
             });
  ForEachCut("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked \r\n\r\n5\r\nhello\r\n0\r\n\r\n",
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.body(), "hello");
             });
  for (const char* codings : {"gzip, chunked", "gzip", "chunked, gzip", "identity", ""}) {
    MemoryExchange e(std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: ") + codings +
                         "\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
                     4096);
    EXPECT_FALSE(e.ok) << codings;
  }
}

TEST(HttpFraming, InvalidOrConflictingLengthsFailAndAnIdenticalListIsOne) {
  for (const char* lengths : {"Content-Length: 5\r\nContent-Length: 10\r\n", "Content-Length: 3abc\r\n",
                              "Content-Length: -5\r\n", "Content-Length: +5\r\n", "Content-Length: 5, 6\r\n",
                              "Content-Length:\r\n", "Content-Length: 99999999999999999999999\r\n"}) {
    MemoryExchange e("HTTP/1.1 200 OK\r\n" + std::string(lengths) + "\r\nhello", 4096);
    EXPECT_FALSE(e.ok) << lengths;
  }
  ForEachCut("HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\nContent-Length: 5\r\n\r\nhello",
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.body(), "hello");
             });
}

TEST(HttpFraming, BytesPastTheLengthAreNoBodyAndEndTheConnection) {
  MemoryExchange e(HttpResponse(200, "hello") + "EXTRA", 4096);
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body(), "hello");
  EXPECT_EQ(std::string(e.client.GetBody()), "hello");
  EXPECT_FALSE(e.client.connected());
}

// "Connection" is a token list, with white space around its members.
TEST(HttpConnection, CloseAnywhereInTheListClosesAndTheRedirectReconnects) {
  for (const char* value : {"Upgrade, close", "close ", "keep-alive,CLOSE", " close\t"}) {
    MemoryExchange e({"HTTP/1.1 302 Found\r\nLocation: /next\r\nConnection: " + std::string(value) +
                          "\r\nContent-Length: 0\r\n\r\n",
                      HttpResponse(200, "second")},
                     4096);
    EXPECT_TRUE(e.ok) << value;
    EXPECT_EQ(e.body(), "second");
    EXPECT_EQ(e.client.connections(), 2) << value;
  }
  // A body ended by the connection's end leaves it closed.
  ForEachCut("HTTP/1.1 200 OK\r\n\r\nto the end", [](const MemoryExchange& e) {
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.body(), "to the end");
    EXPECT_FALSE(e.client.connected());
  });
}

// A kept-alive connection carries the redirect only when nothing can be
// read from it: stray bytes after the response, or the server's close,
// were taken for the answer. A close that crosses the request (no byte of
// an answer) sends the GET once more, on a new connection, and only once.
TEST(HttpConnection, AReusedConnectionMustBeIdleAndACloseBeforeAnyByteIsRetriedOnce) {
  using testing::MemorySocket;
  MemoryExchange stray({Redirect("/next") + "JUNK", HttpResponse(200, "ok")}, 1);
  EXPECT_TRUE(stray.ok);
  EXPECT_EQ(stray.body(), "ok");
  EXPECT_EQ(stray.client.connections(), 2);
  struct Case {
    std::vector<std::string> answers;
    size_t closes_after;
    bool ok;
    size_t requests;
    int connections;
  } cases[] = {
      {{Redirect("/next"), HttpResponse(200, "ok")}, 0, true, 2, 2},
      {{Redirect("/next"), MemorySocket::kCloseWithoutAnswer, HttpResponse(200, "ok")}, 9, true, 3, 2},
      {{Redirect("/next"), MemorySocket::kCloseWithoutAnswer, MemorySocket::kCloseWithoutAnswer,
        HttpResponse(200, "ok")}, 9, false, 3, 2},
      {{MemorySocket::kCloseWithoutAnswer, HttpResponse(200, "ok")}, 9, false, 1, 1},  // a new one: no retry
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requests);
    CAtlHttpClientT<MemorySocket> client;
    client.Answers(c.answers, 4096);
    client.PeerClosesAfter(c.closes_after);
    EXPECT_EQ(client.Navigate(Utf8ToWide(testing::kExchangeUrl)), c.ok);
    size_t count = 0;
    EXPECT_EQ(CheckRequests(client.sent(), &count), "");
    EXPECT_EQ(count, c.requests);
    EXPECT_EQ(client.connections(), c.connections);
  }
}

// The trailer section is always read to its blank line, and its fields
// never enter the header table.
TEST(HttpTrailers, AnUnannouncedTrailerIsConsumedAndNoTrailerSteersARedirect) {
  ForEachCut({"HTTP/1.1 302 Found\r\nLocation: /next\r\nTransfer-Encoding: chunked\r\n\r\n"
              "0\r\nX-T: 1\r\n\r\n",
              HttpResponse(200, "second")},
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.body(), "second");
               EXPECT_EQ(e.client.connections(), 1);
             });
  MemoryExchange steer({"HTTP/1.1 302 Found\r\nTransfer-Encoding: chunked\r\nTrailer: Location\r\n\r\n"
                        "0\r\nLocation: http://evil.example/\r\n\r\n",
                        HttpResponse(200, "evil")},
                       4096);
  EXPECT_TRUE(steer.ok);
  EXPECT_EQ(steer.client.GetStatus(), 302);
  EXPECT_EQ(steer.header(HV_W("Location")), nullptr);
}

// 307 and 308 are followed for a GET as 302 is; a redirect with two
// "Location" fields, or a port outside 1..65535, is followed nowhere.
TEST(HttpRedirect, TemporaryAndPermanentRedirectsAreFollowedAndAmbiguousOnesFail) {
  for (int status : {307, 308}) {
    MemoryExchange e({"HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation: /moved\r\nContent-Length: 0\r\n\r\n",
                      HttpResponse(200, "moved")},
                     4096);
    EXPECT_TRUE(e.ok) << status;
    EXPECT_EQ(e.body(), "moved");
    EXPECT_THAT(e.client.sent(), ::testing::HasSubstr("GET /moved?c=1 HTTP/1.1\r\n"));
  }
  for (const char* fields : {"Location: /a\r\nLocation: /b\r\n", "Location: http://127.0.0.1:99999/x\r\n",
                             "Location: http://127.0.0.1:+80/x\r\n"}) {
    MemoryExchange e({"HTTP/1.1 302 Found\r\n" + std::string(fields) + "Content-Length: 0\r\n\r\n",
                      HttpResponse(200, "no")},
                     4096);
    EXPECT_FALSE(e.ok) << fields;
    size_t count = 0;
    EXPECT_EQ(CheckRequests(e.client.sent(), &count), "");
    EXPECT_EQ(count, 1u) << fields;
  }
  // A location with a query of its own does not get the current one too.
  MemoryExchange own({Redirect("/new/index.php?c=ABC"), HttpResponse(200, "ok")}, 4096);
  EXPECT_THAT(own.client.sent(), ::testing::HasSubstr("GET /new/index.php?c=ABC HTTP/1.1\r\n"));
}

TEST(HttpChunked, AnEmptySizeLineFailsInsteadOfEndingTheBody) {
  for (const char* body : {"\r\n", "5\r\nhello\r\n\r\n", "0x5\r\nhello\r\n0\r\n\r\n", " 5\r\nhello\r\n0\r\n\r\n"}) {
    MemoryExchange e(std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") + body, 4096);
    EXPECT_FALSE(e.ok) << body;
  }
}

// Chunk extensions and the trailer section are framing, not body: they
// share the header limit with the head, and a size line has a small bound
// of its own, so that a peer can send neither without end.
TEST(HttpChunked, EndlessExtensionsAndTrailersFailWithinTheHeaderLimit) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";  // 47 bytes
  NavigateSettings settings;
  settings.max_header_bytes = 200;
  struct Case { std::string body; bool ok; } cases[] = {
      // 47 + 94 + 3 + 48 bytes: within 200 together.
      {"1;" + std::string(90, 'e') + "\r\nb\r\n0\r\nX: " + std::string(40, 't') + "\r\n\r\n", true},
      {"1;" + std::string(100, 'e') + "\r\nb\r\n0\r\nX: " + std::string(40, 't') + "\r\n\r\n", false},
      {"0\r\nX: " + std::string(160, 't') + "\r\n\r\n", false},
      {"1;" + std::string(160, 'e') + "\r\nb\r\n0\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    MemoryExchange e(head + c.body, 4096, testing::kExchangeUrl, settings);
    EXPECT_EQ(e.ok, c.ok) << c.body.size();
  }
  MemoryExchange endless(head + "1;" + std::string(8000, 'e') + "\r\nb\r\n0\r\n\r\n", 4096);
  EXPECT_FALSE(endless.ok);
}

std::string ChunkedOnes(int chunks) {
  std::string body = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < chunks; ++i) body += "1\r\nb\r\n";
  return body + "0\r\n\r\n";
}

// The deadline binds every receive: a peer whose bytes keep coming is cut
// off when the exchange's time is up (the transport's clock is virtual).
TEST(HttpDeadline, APeerThatNeverStopsSendingIsCutAtTheDeadline) {
  NavigateSettings settings;
  settings.deadline_ms = 100;
  settings.timeout_ms = 50;
  for (const std::string& answer :
       {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(1000, 'b'),
        "HTTP/1.1 200 OK\r\n\r\n" + std::string(1000, 'b'),
        ChunkedOnes(300)}) {
    CAtlHttpClientT<testing::MemorySocket> client;
    client.Answers({answer}, 1);
    client.TimePerReceive(std::chrono::milliseconds(1));
    EXPECT_FALSE(client.Navigate(HV_W("http://h/"), settings));
    EXPECT_LE(client.Now() - client.Start(), std::chrono::milliseconds(100));
  }
}

}  // namespace
}  // namespace hv
