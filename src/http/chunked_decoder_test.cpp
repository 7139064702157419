// The chunked decoder fed byte by byte and in one piece.
#include "http/chunked_decoder.h"

#include <gtest/gtest.h>

namespace hv {
namespace {

struct Outcome {
  ChunkedDecoder::State state;
  std::string body;
  std::vector<std::string> trailers;
};

Outcome Decode(const std::string& wire, bool bytewise = false, uint64_t max_body = 1 << 20) {
  ChunkedDecoder d(max_body, 1024);
  Outcome o{ChunkedDecoder::State::kSizeLine, "", {}};
  if (bytewise) {
    for (char c : wire) d.Feed(&c, 1, &o.body, &o.trailers);
  } else {
    d.Feed(wire.data(), wire.size(), &o.body, &o.trailers);
  }
  o.state = d.state();
  return o;
}

using State = ChunkedDecoder::State;

TEST(ChunkedDecoder, DecodesWhetherFedWholeOrByteByByte) {
  const std::string wire = "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
  for (bool bytewise : {false, true}) {
    Outcome o = Decode(wire, bytewise);
    EXPECT_EQ(o.state, State::kDone);
    EXPECT_EQ(o.body, "hello world");
  }
}

// The trailer section and its final CR LF belong to the body, announced or
// not: left unread they would break the next response on the connection.
TEST(ChunkedDecoder, TrailerSectionIsAlwaysReadToItsBlankLine) {
  Outcome with = Decode("1\r\na\r\n0\r\nX-Sum: 1\r\n\r\n");
  EXPECT_EQ(with.state, State::kDone);
  ASSERT_EQ(with.trailers.size(), 1u);
  EXPECT_EQ(with.trailers[0], "X-Sum: 1");
  Outcome unfinished = Decode("1\r\na\r\n0\r\n");
  EXPECT_EQ(unfinished.state, State::kTrailer);
  Outcome bare = Decode("1\r\na\r\n0\r\n\r\n");
  EXPECT_EQ(bare.state, State::kDone);
  EXPECT_TRUE(bare.trailers.empty());
  // A bare LF ends a trailer line and the section, as it does in the head.
  EXPECT_EQ(Decode("1\r\na\r\n0\r\n\n").state, State::kDone);
  Outcome lf = Decode("0\r\nX-Sum: 1\n\n");
  EXPECT_EQ(lf.state, State::kDone);
  ASSERT_EQ(lf.trailers.size(), 1u);
  EXPECT_EQ(lf.trailers[0], "X-Sum: 1");
  // Bounded: an endless trailer fails.
  EXPECT_EQ(Decode("0\r\n" + std::string(2000, 't')).state, State::kError);
}

TEST(ChunkedDecoder, ExtensionsAfterTheSizeAreSkipped) {
  const std::string wire = "5;ext=1\r\nhello\r\n1 \t; a=\"x;y\" ;b\r\n!\r\n0;end\r\n\r\n";
  for (bool bytewise : {false, true}) {
    Outcome o = Decode(wire, bytewise);
    EXPECT_EQ(o.state, State::kDone);
    EXPECT_EQ(o.body, "hello!");
  }
  // The size line stays bounded, extension and all.
  EXPECT_EQ(Decode("5;" + std::string(2000, 'x') + "\r\n").state, State::kError);
}

TEST(ChunkedDecoder, MalformedFramingFails) {
  const char* bad[] = {
      "5 x\r\nhello\r\n0\r\n",       // junk after the size
      ";ext\r\n",                     // an extension without a size
      "-5\r\nhello\r\n0\r\n",        // negative size
      "80000000\r\n",                // beyond the signed 32-bit range
      "5\r\nhelloXX0\r\n",           // no CR LF after the data
      "5\rxhello",                   // no LF after the size
      " \r\n",                       // white space only
      "zz\r\n",
  };
  for (const char* wire : bad) EXPECT_EQ(Decode(wire).state, State::kError) << wire;
}

// A chunk size is 1*HEXDIG and nothing else: an empty size line would end
// the body early (silent truncation); a "0x" prefix, a sign or leading
// blanks are not HTTP.
TEST(ChunkedDecoder, SizeIsHexDigitsOnly) {
  const char* bad[] = {"\r\n", "0x5\r\nhello\r\n0\r\n\r\n", "+5\r\nhello\r\n0\r\n\r\n",
                       " 5\r\nhello\r\n0\r\n\r\n", "-0\r\n\r\n", "\t0\r\n\r\n"};
  for (const char* wire : bad) {
    EXPECT_EQ(Decode(wire).state, State::kError) << wire;
    EXPECT_EQ(Decode(wire, true).state, State::kError) << wire;
  }
  EXPECT_EQ(Decode("00005\r\nhello\r\n0\r\n\r\n").body, "hello");
}

TEST(ChunkedDecoder, BodyOverTheLimitFailsBeforeItsDataArrives) {
  ChunkedDecoder d(10, 1024);
  std::string body;
  std::vector<std::string> trailers;
  d.Feed("8\r\n12345678\r\n8\r\n", 16, &body, &trailers);
  EXPECT_TRUE(d.failed());
  EXPECT_EQ(d.error(), ChunkedDecoder::Error::kTooLarge);
  EXPECT_EQ(body.size(), 8u);
}

TEST(ChunkedDecoder, TerminalStatesAreSticky) {
  ChunkedDecoder d(100, 1024);
  std::string body;
  std::vector<std::string> trailers;
  EXPECT_EQ(d.Feed("0\r\n\r\n1\r\na", 9, &body, &trailers), 5u);
  EXPECT_TRUE(d.done());
  EXPECT_EQ(d.Feed("1\r\na", 4, &body, &trailers), 0u);
  EXPECT_TRUE(body.empty());
}

}  // namespace
}  // namespace hv
