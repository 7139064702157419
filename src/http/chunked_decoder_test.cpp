// The chunked decoder fed byte by byte and in one piece.
#include "http/chunked_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hv {
namespace {

using namespace std::string_literals;

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

// One line rule for the whole reader: every line, a size line and the end
// of chunk data too, ends at LF with or without a CR before it. A size line
// that ended only at CR swallowed a bare LF inside an extension, and read
// "5;\nX\r\nhello..." as "hello" where every strict reader refuses it.
TEST(ChunkedDecoder, EveryLineEndsAtLfAndAnLfInsideAnExtensionIsNoExtension) {
  const char* lf_ended[] = {"5\nhello\n0\n\n", "5\nhello\r\n0\r\n\r\n", "5;a=b\nhello\n0\nX: 1\n\n"};
  for (const char* wire : lf_ended) {
    for (bool bytewise : {false, true}) {
      Outcome o = Decode(wire, bytewise);
      EXPECT_EQ(o.state, State::kDone) << wire;
      EXPECT_EQ(o.body, "hello") << wire;
    }
  }
  for (bool bytewise : {false, true}) {
    EXPECT_EQ(Decode("5;\nX\r\nhello\r\n0\r\n\r\n", bytewise).state, State::kError);
    EXPECT_EQ(Decode("5;a\rb\r\nhello\r\n0\r\n\r\n", bytewise).state, State::kError);
  }
}

// Chunk extensions are checked against RFC 9112 7.1.1 before they are
// skipped: anything else in a size line is junk that another reader may
// take otherwise.
TEST(ChunkedDecoder, ExtensionsOutsideTheGrammarFail) {
  const std::string bad[] = {"5;\r\n", "5;a b\r\n", "5;a=\r\n", "5;\"q\"\r\n", "5;a=\"open\r\n",
                             "5;a=b c\r\n", "5;a\0\r\n"s, "5;a=\"\x01\"\r\n", "5 \r\n", "5;(\r\n"};
  for (const std::string& wire : bad) EXPECT_EQ(Decode(wire).state, State::kError) << wire;
  Outcome o = Decode("5 ; a = \"x\\\"y;z\" ;b=c\t\r\nhello\r\n0\r\n\r\n");
  EXPECT_EQ(o.state, State::kDone);
  EXPECT_EQ(o.body, "hello");
}

// Size lines and the trailer section count together against the line
// room (what the header limit leaves after the head): capped one line at a
// time, endless small chunks held framing without bound.
TEST(ChunkedDecoder, SizeLinesAndTrailersShareOneLimit) {
  std::string many;
  for (int i = 0; i < 40; ++i) many += "1\r\na\r\n";  // 120 bytes of size lines
  ChunkedDecoder d(1 << 20, 100);
  std::string body;
  std::vector<std::string> trailers;
  d.Feed(many.data(), many.size(), &body, &trailers);
  EXPECT_TRUE(d.failed());
  EXPECT_EQ(d.error(), ChunkedDecoder::Error::kTooLarge);
  ChunkedDecoder t(1 << 20, 100);
  // 46 bytes of size lines and 57 of trailer section: each within 100.
  const std::string trailer = std::string(40, '0') + "2\r\nab\r\n0\r\nX: " + std::string(50, 'x') + "\r\n\r\n";
  t.Feed(trailer.data(), trailer.size(), &body, &trailers);
  EXPECT_TRUE(t.failed());
}

// A trailer line is a field line or a fold of one, as in the head.
TEST(ChunkedDecoder, ATrailerLineThatIsNoFieldFails) {
  for (const char* wire : {"0\r\nno colon\r\n\r\n", "0\r\nA B: 1\r\n\r\n", "0\r\n: 1\r\n\r\n",
                           "0\r\n folded first\r\n\r\n"}) {
    EXPECT_EQ(Decode(wire).state, State::kError) << wire;
  }
  EXPECT_EQ(Decode("0\r\nX: a\0b\r\n\r\n"s).state, State::kError);
  Outcome folded = Decode("0\r\nX: a\r\n  b\r\n\r\n");
  EXPECT_EQ(folded.state, State::kDone);
  ASSERT_EQ(folded.trailers.size(), 1u);
  EXPECT_EQ(folded.trailers[0], "X: a b");
  // A fold of blanks only adds nothing but the one blank (it threw
  // std::out_of_range from inside the reader: the fuzzer's find).
  for (const char* blanks : {" ", " \t "}) {
    Outcome empty_fold = Decode("0\r\nX:1\r\n"s + blanks + "\r\n\r\n");
    EXPECT_EQ(empty_fold.state, State::kDone) << blanks;
    ASSERT_EQ(empty_fold.trailers.size(), 1u);
    EXPECT_EQ(empty_fold.trailers[0], "X:1 ");
  }
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
