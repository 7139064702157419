// The one framing decision, as a table in RFC 9112 6.3's order.
#include "http/framing.h"

#include <gtest/gtest.h>

#include <string>

#include "http/response_head.h"

namespace hv {
namespace {

FramingFields Fields(std::initializer_list<std::pair<const char*, const char*>> lines) {
  FramingFields f;
  for (const auto& line : lines) NoteFramingField(line.first, line.second, &f);
  return f;
}

TEST(DecideFraming, FollowsTheOrderOfTheRules) {
  struct Case {
    int status;
    FramingFields fields;
    BodyFraming body;
    uint64_t length;
    bool close;
  } cases[] = {
      {204, Fields({{"Content-Length", "5"}}), BodyFraming::kNone, 0, false},
      {304, Fields({{"Transfer-Encoding", "chunked"}}), BodyFraming::kNone, 0, false},
      {103, Fields({}), BodyFraming::kNone, 0, false},
      {200, Fields({{"Transfer-Encoding", "Chunked"}, {"Content-Length", "3"}}), BodyFraming::kChunked, 0, true},
      {200, Fields({{"transfer-encoding", "chunked"}}), BodyFraming::kChunked, 0, false},
      {200, Fields({{"Transfer-Encoding", "gzip, chunked"}}), BodyFraming::kInvalid, 0, false},
      {200, Fields({{"Transfer-Encoding", "gzip"}}), BodyFraming::kInvalid, 0, false},
      {200, Fields({{"Transfer-Encoding", "chunked"}, {"Transfer-Encoding", "chunked"}}), BodyFraming::kInvalid, 0, false},
      {200, Fields({{"Content-Length", "5, 5"}, {"Content-Length", "5"}}), BodyFraming::kLength, 5, false},
      {200, Fields({{"Content-Length", "5"}, {"Content-Length", "10"}}), BodyFraming::kInvalid, 0, false},
      {200, Fields({{"Content-Length", "3abc"}}), BodyFraming::kInvalid, 0, false},
      {200, Fields({{"Content-Length", "-1"}}), BodyFraming::kInvalid, 0, false},
      {200, Fields({{"Content-Length", "5,"}}), BodyFraming::kInvalid, 0, false},
      {200, Fields({{"Content-Length", "0"}, {"Connection", "Upgrade, close"}}), BodyFraming::kLength, 0, true},
      {200, Fields({}), BodyFraming::kUntilClose, 0, true},
  };
  for (const auto& c : cases) {
    Framing f = DecideFraming(c.status, c.fields);
    EXPECT_EQ(f.body, c.body) << c.status;
    if (c.body == BodyFraming::kLength) {
      EXPECT_EQ(f.length, c.length);
    }
    if (c.body != BodyFraming::kInvalid) {
      EXPECT_EQ(f.close_after, c.close) << c.status;
    }
  }
}

// Found by the differential wire test: framing fields that both strict
// references refuse were let through where they framed nothing (a 204 or
// 304), where Transfer-Encoding overrode them, or as a list of lengths
// written differently.
TEST(DecideFraming, FramingFieldsThatAreNoneFailEvenWhereTheyFrameNothing) {
  struct Case {
    int status;
    FramingFields fields;
  } cases[] = {
      {204, Fields({{"Content-Length", "0x6"}})},
      {304, Fields({{"Content-Length", "6, 7"}})},
      {304, Fields({{"Transfer-Encoding", "\"chunked\""}})},
      {204, Fields({{"Transfer-Encoding", "chunked, gzip"}})},
      {200, Fields({{"Transfer-Encoding", "chunked"}, {"Content-Length", "0 X-R: a"}})},
      {200, Fields({{"Content-Length", "12"}, {"Content-Length", "012"}})},
      {200, Fields({{"Content-Length", "5, 05"}})},
  };
  for (const auto& c : cases) EXPECT_EQ(DecideFraming(c.status, c.fields).body, BodyFraming::kInvalid) << c.status;
}

TEST(DecideFraming, ConnectionTokensAndHttp10) {
  FramingFields f = Fields({{"Connection", "close,close"}, {"Content-Length", "1"}});
  EXPECT_TRUE(DecideFraming(200, f).close_after);
  FramingFields old = Fields({{"Content-Length", "1"}});
  old.http10 = true;
  EXPECT_TRUE(DecideFraming(200, old).close_after);
  NoteFramingField("Connection", "Keep-Alive", &old);
  EXPECT_FALSE(DecideFraming(200, old).close_after);
  FramingFields located = Fields({{"Location", "/a"}, {"location", "/b"}});
  EXPECT_EQ(located.locations, 2);
}

// A proxy strips the blank in "Transfer-Encoding : chunked" and frames by
// chunks; ignoring the field would frame the same bytes by length.
TEST(DecideFraming, ABlankBeforeAFieldsColonFailsTheResponse) {
  for (const char* head : {"HTTP/1.1 200 OK\r\nTransfer-Encoding : chunked\r\nContent-Length: 4\r\n",
                           "HTTP/1.1 200 OK\r\nContent-Length\t: 4\r\n"}) {
    std::string text(head);
    HeaderTable table;
    FramingFields fields;
    HeaderSink sink;
    sink.table = &table;
    sink.framing = &fields;
    ParseHeaderLines(text.data(), text.data() + text.size(), sink);
    Framing f = DecideFraming(200, fields);
    EXPECT_EQ(f.body, BodyFraming::kInvalid) << head;
    EXPECT_TRUE(f.close_after) << head;
  }
}

}  // namespace
}  // namespace hv
