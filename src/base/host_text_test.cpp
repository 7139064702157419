// Host text: names and bracketed IPv6 addresses only.
#include "base/host_text.h"

#include <gtest/gtest.h>

#include "base/utf.h"

namespace hv {
namespace {

// A bracketed host was taken for an IPv6 literal whatever it held:
// "[evil.com]" passed, then went to the resolver as a name.
TEST(HostText, BracketsHoldOnlyAnIpv6Address) {
  for (const char* good : {"[::1]", "[::]", "[1:2:3:4:5:6:7:8]", "[fe80::1:2]", "[::ffff:192.0.2.1]",
                           "[1:2:3:4:5:6:1.2.3.4]", "[ABCD::ef]", "host", "a-b.c_d", "127.0.0.1"}) {
    EXPECT_TRUE(IsHostText(Utf8ToWide(good))) << good;
  }
  for (const char* bad : {"[evil.com]", "[]", "[1:2:3:4:5:6:7:8:9]", "[1:2:3:4:5:6:7]", "[1::2::3]",
                          "[1:::2]", "[:1::]", "[1::2:]", "[12345::]", "[::1.2.3]", "[::256.0.0.1]",
                          "[::01.2.3.4]", "[1.2.3.4]", "[fe80::1%25eth0]", "[v1.x]", "[::1", "::1]", "",
                          "h%41", "h:80", "a/b", "a@b", "[::1]x"}) {
    EXPECT_FALSE(IsHostText(Utf8ToWide(bad))) << bad;
  }
}

// "localhost.." passed as a host: one dot was dropped for the name sent
// and matched, "localhost." went out as the server's name.
TEST(HostText, AnEmptyLabelOrASecondTrailingDotIsNoHost) {
  for (const char* good : {"localhost.", "a.b.", "a"}) EXPECT_TRUE(IsHostText(Utf8ToWide(good))) << good;
  for (const char* bad : {"localhost..", ".", "..", ".localhost", "a..b", "a...", "127.0.0..1"}) {
    EXPECT_FALSE(IsHostText(Utf8ToWide(bad))) << bad;
  }
}

}  // namespace
}  // namespace hv
