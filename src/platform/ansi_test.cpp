#include "platform/ansi.h"

#include <gtest/gtest.h>

#include <string>

namespace hv::platform {
namespace {

WString Wide(const std::string& ascii) { return WString(ascii.begin(), ascii.end()); }

TEST(AnsiConversion, LongAsciiTextIsCopiedWhole) {
  std::string text;
  for (int i = 0; i < 10000; ++i) text.push_back(static_cast<char>(' ' + i % 95));
  std::string out = "kept|";
  ASSERT_TRUE(WideToAnsi(Wide(text), &out));
  EXPECT_EQ(out, "kept|" + text);
  EXPECT_EQ(AnsiToWide(text), Wide(text));
}

TEST(AnsiConversion, EmbeddedNulIsNotAnEnd) {
  WString text = Wide(std::string("a\0b", 3));
  std::string out;
  ASSERT_TRUE(WideToAnsi(text, &out));
  EXPECT_EQ(out, std::string("a\0b", 3));
  EXPECT_EQ(AnsiToWide(out), text);
}

TEST(AnsiConversion, UnrepresentableCharacterKeepsOnlyWhatCameBefore) {
  // A lone surrogate has no encoding in any code page or locale.
  WString text = Wide("abc");
  text.push_back(static_cast<WChar>(0xD800));
  text += Wide("def");
  std::string out = ">";
  EXPECT_FALSE(WideToAnsi(text, &out));
  EXPECT_EQ(out, ">abc");
}

}  // namespace
}  // namespace hv::platform
