// The HTTP client against a hostile peer, through the in-memory transport:
// how a body without a length ends, what a field value is trimmed of, where
// a head ends, which status lines and versions are taken. Each case states
// the rule it holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/memory_exchange.h"
#include "tests/support/script_server.h"

namespace hv {
namespace {

using testing::ForEachCut;
using testing::HttpResponse;
using testing::MemoryExchange;
using testing::MemorySocket;
using namespace std::string_literals;

// A body read until the connection ends is whole only when the peer closes
// in order: a wait that runs out or a reset mid-body fails the exchange,
// with the socket error kept for the log.
TEST(HttpBodyUntilClose, OnlyAnOrderlyCloseEndsItATimeOutOrResetFails) {
  const std::string answer = "HTTP/1.1 200 OK\r\n\r\npartial body";
  struct Case {
    MemorySocket::End end;
    bool ok;
    uint32_t error;
  };
  for (Case c : {Case{MemorySocket::End::kClose, true, 0}, Case{MemorySocket::End::kTimeOut, false, 10060},
                 Case{MemorySocket::End::kReset, false, 10054}}) {
    SCOPED_TRACE(static_cast<int>(c.end));
    CAtlHttpClientT<MemorySocket> client;
    client.Answers({answer}, 5);
    client.EndWith(c.end);
    EXPECT_EQ(client.Navigate(HV_W("http://h/"), NavigateSettings()), c.ok);
    EXPECT_EQ(client.GetLastError(), c.error);
    if (c.ok) {
      EXPECT_EQ(std::string(client.GetBody(), client.GetBodyLength()), "partial body");
    }
  }
}

// Only blanks and tabs are white space around a field value: a value
// wrapped in VT or FF keeps them, and a length so wrapped is no length.
TEST(HttpFieldValue, OnlyBlanksAndTabsAreTrimmed) {
  for (const char* wrapped : {"\x0b" "3\x0b", "\x0c" "3", "3\x0c"}) {
    SCOPED_TRACE(wrapped);
    ForEachCut("HTTP/1.1 200 OK\r\nContent-Length:" + std::string(wrapped) + "\r\n\r\nabc",
               [](const MemoryExchange& e) { EXPECT_FALSE(e.ok); });
  }
  ForEachCut("HTTP/1.1 200 OK\r\nContent-Length: \t3 \t\r\n\r\nabc", [](const MemoryExchange& e) {
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.body(), "abc");
  });
}

// The head ends at its first empty line, whether the lines end in CR LF or
// a bare LF; what follows is body, never more fields.
TEST(HttpHead, TheFirstEmptyLineEndsTheHeadWhateverItsLineEnds) {
  ForEachCut({"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\nLocation: /evil\r\n\r\n", HttpResponse(200, "followed")},
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.client.GetStatus(), 302);
               EXPECT_EQ(e.header(HV_W("Location")), nullptr);
               EXPECT_EQ(e.client.connections(), 1);
               EXPECT_EQ(e.client.sent().find("/evil"), std::string::npos);
             });
  ForEachCut("HTTP/1.1 200 OK\nContent-Length: 2\n\nok", [](const MemoryExchange& e) {
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.body(), "ok");
  });
}

// A status line is "HTTP/1.0" or "HTTP/1.1", a blank, three digits, then
// its end or a blank and a reason; nothing else is taken for one.
TEST(HttpHead, OnlyAnHttp1StatusLineWithThreeDigitsIsTaken) {
  // A control byte in the reason (but HTAB and a bare CR, which stands for
  // SP) makes no status line either, nor a status below 100 (RFC 9110 15):
  // both strict references refuse them.
  for (const std::string& line : {"ICY 200 OK"s, "FOO 200"s, "HTTP/1.1 200x"s, "HTTP/1.1 0200"s, "HTTP/1.1 20"s,
                                  "HTTP/2 200"s, "HTTP/1.2 200 OK"s, "HTTP/1.1  200 OK"s, "http/1.1 200 OK"s,
                                  "HTTP/1.1 200 O\0K"s, "HTTP/1.1 200 x\x01"s, "HTTP/1.1 200 \x7f"s,
                                  "HTTP/1.1 099 OK"s, "HTTP/1.1 000 X"s, "HTTP/1.0 001 X"s}) {
    SCOPED_TRACE(::testing::PrintToString(line));
    ForEachCut(std::string(line) + "\r\nContent-Length: 2\r\n\r\nok", [](const MemoryExchange& e) {
      EXPECT_FALSE(e.ok);
      EXPECT_EQ(e.client.GetStatus(), -1);
    });
  }
  for (const char* line : {"HTTP/1.1 200 OK", "HTTP/1.0 200 OK", "HTTP/1.1 200", "HTTP/1.1 200 ", "HTTP/1.1 200 a\tb\rc \xe9"}) {
    SCOPED_TRACE(line);
    ForEachCut(std::string(line) + "\r\nContent-Length: 2\r\n\r\nok", [](const MemoryExchange& e) {
      EXPECT_TRUE(e.ok);
      EXPECT_EQ(e.body(), "ok");
    });
  }
}

// HTTP/1.0 knows no transfer coding: a 1.0 response that names one has
// framing that cannot be trusted, and fails.
TEST(HttpFraming, TransferEncodingUnderHttp10Fails) {
  ForEachCut("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n",
             [](const MemoryExchange& e) { EXPECT_FALSE(e.ok); });
}

// A field line is `token ":" OWS value OWS`, and a value holds no NUL (RFC
// 9110 5.1, 5.5; RFC 9112 5). Any other line fails the response: dropped,
// "Transfer-Encoding\0: chunked" left the chunk framing in the body, and a
// proxy that repairs such a line frames the same bytes otherwise.
TEST(HttpFieldLine, ALineThatIsNoFieldFailsTheResponse) {
  const std::string chunked = "\r\n\r\n5\r\nhello\r\n0\r\n\r\n";
  const std::string lines[] = {
      "Transfer-Encoding\0: chunked"s, "\0Transfer-Encoding: chunked\r\nContent-Length: 5"s,
      "X-No-Colon\r\nContent-Length: 5", "X Y: 1\r\nContent-Length: 5", "(x): 1\r\nContent-Length: 5",
      "\"x\": 1\r\nContent-Length: 5", ": 1\r\nContent-Length: 5", "X@Y: 1\r\nContent-Length: 5",
      " X: 1\r\nContent-Length: 5",  // white space before the first field
      "Connection: close\0\r\nContent-Length: 5"s, "X: a\0\r\n b\r\nContent-Length: 5"s,
      // A control byte kept elsewhere is never kept in a framing field.
      "Connection: close\x01\r\nContent-Length: 5", "Content-Length: 5\x7f",
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(::testing::PrintToString(line));
    ForEachCut("HTTP/1.1 200 OK\r\n" + line + chunked, [](const MemoryExchange& e) { EXPECT_FALSE(e.ok); });
  }
  // Every tchar may stand in a name; a control byte other than NUL is kept
  // in a value (RFC 9110 5.5), a bare CR becomes a blank (RFC 9112 2.2).
  ForEachCut("HTTP/1.1 200 OK\r\n!#$%&'*+-.^_`|~09aZ: 1\r\nX-C: a\x01\rb\r\nTransfer-Encoding: chunked" + chunked,
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_EQ(e.body(), "hello");
               ASSERT_NE(e.header(HV_W("x-c")), nullptr);
               EXPECT_EQ(*e.header(HV_W("x-c")), WString(HV_W("a\x01 b")));
             });
}

// The head limit holds the head, the interim answers, every chunk-size
// line and the trailer section together: each line was capped on its own,
// so endless one-byte chunks held framing without bound.
TEST(HttpLimits, ChunkSizeLinesCountWithTheHeadAgainstTheHeaderLimit) {
  NavigateSettings small;
  small.max_header_bytes = 300;
  const std::string head = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string chunks;
  for (int i = 0; i < 50; ++i) chunks += "1\r\nx\r\n";  // 150 bytes of size lines
  EXPECT_TRUE(MemoryExchange(head + chunks + "0\r\n\r\n", 4096, testing::kExchangeUrl, small).ok);
  for (int i = 0; i < 50; ++i) chunks += "1\r\nx\r\n";
  EXPECT_FALSE(MemoryExchange(head + chunks + "0\r\n\r\n", 4096, testing::kExchangeUrl, small).ok);
}

// Characters RFC 3986 allows in no path or query, and a "%" without two
// hex digits after it, are escaped in the target; a whole escape stays.
TEST(HttpRequestTarget, CharactersNoTargetAllowsAndBrokenEscapesAreEscaped) {
  ForEachCut({"HTTP/1.1 302 Found\r\nLocation: /a%zz%4\"<>^`{|}%41?q=\"<>\\^`{|}%zz%4&r=%2f\r\n"
              "Content-Length: 0\r\n\r\n",
              HttpResponse(200, "ok")},
             [](const MemoryExchange& e) {
               EXPECT_TRUE(e.ok);
               EXPECT_NE(e.client.sent().find("GET /a%25zz%254%22%3c%3e%5e%60%7b%7c%7d%41"
                                              "?q=%22%3c%3e%5c%5e%60%7b%7c%7d%25zz%254&r=%2f HTTP/1.1\r\n"),
                         std::string::npos)
                   << e.client.sent();
             });
}

}  // namespace
}  // namespace hv
