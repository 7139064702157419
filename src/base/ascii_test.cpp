#include "base/ascii.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace hv {
namespace {

// strtol's reading, but a number past the type's range must stop at its
// limit instead of wrapping into a small or negative value.
TEST(SaturatingDecimal, ReadsAsStrtolAndStopsAtTheLimits) {
  EXPECT_EQ(ParseSaturatingDecimal<int32_t>(std::string(" \t+42x")), 42);
  EXPECT_EQ(ParseSaturatingDecimal<int32_t>(std::string("-17")), -17);
  EXPECT_EQ(ParseSaturatingDecimal<int32_t>(std::string("abc")), 0);
  EXPECT_EQ(ParseSaturatingDecimal<int32_t>(std::string("-")), 0);
  EXPECT_EQ(ParseSaturatingDecimal<int32_t>(std::string("2147483647")), 2147483647);
  EXPECT_EQ(ParseSaturatingDecimal<int32_t>(std::string("2147483648")), 2147483647);
  EXPECT_EQ(ParseSaturatingDecimal<int32_t>(std::string("-2147483648")), -2147483647 - 1);
  EXPECT_EQ(ParseSaturatingDecimal<int32_t>(std::string("-99999999999999999999999")),
            std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ParseSaturatingDecimal<int64_t>(std::string(40, '9')), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ParseSaturatingDecimal<int64_t>(std::u16string(u"-9223372036854775808")),
            std::numeric_limits<int64_t>::min());
}

TEST(StrictDecimal, AcceptsDigitsOnlyWithinTheRange) {
  uint32_t value = 7;
  EXPECT_TRUE(ParseStrictDecimal<uint32_t>(std::string("65535"), 65535, &value));
  EXPECT_EQ(value, 65535u);
  EXPECT_TRUE(ParseStrictDecimal<uint32_t>(std::string("007"), 65535, &value));
  EXPECT_EQ(value, 7u);
  for (const char* bad : {"", "65536", "+1", "-1", " 1", "1 ", "1x", "99999999999999999999999"}) {
    value = 3;
    EXPECT_FALSE(ParseStrictDecimal<uint32_t>(std::string(bad), 65535, &value)) << bad;
    EXPECT_EQ(value, 3u) << bad;
  }
  int big = 0;
  EXPECT_TRUE(ParseStrictDecimal(std::string("2147483647"), std::numeric_limits<int>::max(), &big));
  EXPECT_FALSE(ParseStrictDecimal(std::string("2147483648"), std::numeric_limits<int>::max(), &big));
}

// The reader's contract holds for every cap, those below 9 too: a digit
// larger than the cap must not wrap the comparison and let the value grow.
TEST(ReadDigits, ValueNeverGrowsPastACapBelowNine) {
  for (unsigned long long cap = 0; cap < 12; ++cap) {
    for (const char* text : {"7", "9", "12", "99", "5", "0"}) {
      size_t at = 0;
      unsigned long long value = 1234;
      ReadDigits(std::string(text), &at, cap, &value);
      EXPECT_LE(value, cap) << text << " cap " << cap;
      unsigned long long plain = std::stoull(text);
      if (plain <= cap) {
        EXPECT_EQ(value, plain) << text << " cap " << cap;
      }
    }
  }
}

TEST(HexDigitValue, BothCasesAndNothingElse) {
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('g'), -1);
  EXPECT_EQ(HexDigitValue(u'/'), -1);
}

}  // namespace
}  // namespace hv
