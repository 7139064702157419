// UTF-8 <-> UTF-16: the conversions that carry user names, passwords and
// answers across the JSON and cipher boundaries.
#include "base/utf.h"

#include <gtest/gtest.h>

namespace hv {
namespace {

TEST(Utf, RoundTripsAllPlanes) {
  const WString text = HV_W("a\u00e9\u4e2d\U0001F600z");
  std::string utf8 = WideToUtf8(text);
  EXPECT_EQ(utf8, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z");
  EXPECT_EQ(Utf8ToWide(utf8), text);
}

TEST(Utf, MalformedUtf8BecomesReplacementCharacters) {
  // A stray continuation byte, a cut sequence, an overlong form and a
  // surrogate encoded in UTF-8 each give U+FFFD; the ASCII after survives.
  EXPECT_EQ(Utf8ToWide("\x80" "a"), HV_W("\uFFFDa"));
  EXPECT_EQ(Utf8ToWide("\xE4\xB8" "a"), HV_W("\uFFFDa"));
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), HV_W("\uFFFD\uFFFD"));
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), HV_W("\uFFFD\uFFFD\uFFFD"));
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), HV_W("\uFFFD\uFFFD\uFFFD\uFFFD"));
}

TEST(Utf, LoneSurrogateBecomesReplacementInUtf8) {
  WString lone(1, static_cast<WChar>(0xD800));
  lone.push_back(HV_W('x'));
  EXPECT_EQ(WideToUtf8(lone), "\xEF\xBF\xBDx");
}

TEST(Utf, UpToNulCutsAtTheFirstNul) {
  EXPECT_EQ(UpToNul(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(UpToNul(WString(HV_W("ab\0cd"), 5)), HV_W("ab"));
}

}  // namespace
}  // namespace hv
