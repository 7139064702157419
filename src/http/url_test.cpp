// URL normalising, splitting, joining and redirect resolution, as tables.
#include "http/url.h"

#include <gtest/gtest.h>

#include <string>

#include "base/utf.h"

namespace hv {
namespace {

WString W(const std::string& s) { return Utf8ToWide(s); }
std::string N(const WString& s) { return WideToUtf8(s); }

const char kVerifyUrl[] =
    "http://127.0.0.1/interface/newauth/index.php?c=Ab12%2B%2F%3D%3D";

TEST(NormalizeUrl, EscapesUnsafeBytesBeforeTheQueryOnly) {
  struct Case { const char* in; const char* out; } cases[] = {
      {kVerifyUrl, kVerifyUrl},
      {"", ""},
      {"http://h/a b?x y", "http://h/a%20b?x y"},
      {"http://h/\xC3\xA9", "http://h/%c3%a9"},
      {"http://h/50%#frag ment", "http://h/50%#frag ment"},
      {"http://h/!'()*-._~:", "http://h/!'()*-._~:"},
      {"http://h/<>\"", "http://h/%3c%3e%22"},
  };
  for (const auto& c : cases) {
    WString out;
    ASSERT_TRUE(NormalizeUrl(W(c.in), &out)) << c.in;
    EXPECT_EQ(N(out), c.out);
  }
}

TEST(NormalizeUrl, LengthLimitIs2082Characters) {
  std::string base = "http://h/";
  WString out;
  EXPECT_TRUE(NormalizeUrl(W(base + std::string(2082 - base.size(), 'a')), &out));
  EXPECT_FALSE(NormalizeUrl(W(base + std::string(2083 - base.size(), 'a')), &out));
  // An escape that would begin at position 2080 already fails.
  EXPECT_TRUE(NormalizeUrl(W(base + std::string(2079 - base.size(), 'a') + " "), &out));
  EXPECT_FALSE(NormalizeUrl(W(base + std::string(2080 - base.size(), 'a') + " "), &out));
}

TEST(SplitUrl, SplitsTheParts) {
  struct Case {
    const char* url;
    bool ok;
    const char *host, *user, *password, *path, *extra;
    uint16_t port;
    int32_t scheme;
  } cases[] = {
      {"http://host:8080/p?q", true, "host", "", "", "/p", "?q", 8080, kSchemeHttp},
      {"http://host/p", true, "host", "", "", "/p", "", 80, kSchemeHttp},
      {"HTTPS://host/p", true, "host", "", "", "/p", "", 443, kSchemeHttps},
      {"http://host?c=1", true, "host", "", "", "", "?c=1", 80, kSchemeHttp},
      {"http://u:pw@host/", true, "host", "u", "pw", "/", "", 80, kSchemeHttp},
      {"http://u@host", true, "host", "u", "", "", "", 80, kSchemeHttp},
      {"http://:pw@host/", false, "", "", "", "", "", 0, kSchemeUnknown},
      {"http://a@b@host/", false, "", "", "", "", "", 0, kSchemeUnknown},
      {"no-colon-here", false, "", "", "", "", "", 0, kSchemeUnknown},
      {"mailto://x", false, "", "", "", "", "", 0, kSchemeUnknown},
      {"mailto:me@host", true, "host", "me", "", "", "", 0, kSchemeMailto},
      {"file://c:/dir/f?x", true, "", "", "", "c:/dir/f?x", "", 0, kSchemeFile},
      {"gopher://h/", true, "h", "", "", "/", "", 70, kSchemeGopher},
      {"x-custom://h/", true, "h", "", "", "/", "", 0, kSchemeUnknown},
      {"http://[::1]:81/", true, "[::1]", "", "", "/", "", 81, kSchemeHttp},
      {"http://h:70000/", true, "h", "", "", "/", "", 70000 % 65536, kSchemeHttp},
      {"/a:b", false, "", "", "", "", "", 0, kSchemeUnknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    CUrlParts p;
    ASSERT_EQ(SplitUrl(W(c.url), &p), c.ok);
    EXPECT_EQ(N(p.host_name), c.host);
    EXPECT_EQ(N(p.user_name), c.user);
    EXPECT_EQ(N(p.password), c.password);
    EXPECT_EQ(N(p.path), c.path);
    EXPECT_EQ(N(p.extra), c.extra);
    EXPECT_EQ(p.port, c.port);
    EXPECT_EQ(p.scheme, c.scheme);
  }
}

TEST(SplitUrl, PartsOverTheirLimitsFail) {
  CUrlParts p;
  EXPECT_TRUE(SplitUrl(W("http://" + std::string(256, 'h') + "/"), &p));
  EXPECT_FALSE(SplitUrl(W("http://" + std::string(257, 'h') + "/"), &p));
  EXPECT_FALSE(SplitUrl(W("http://" + std::string(129, 'u') + "@h/"), &p));
  EXPECT_FALSE(SplitUrl(W("http://h/" + std::string(2048, 'p')), &p));
  EXPECT_FALSE(SplitUrl(W(std::string(33, 's') + "://h/"), &p));
  EXPECT_EQ(p.scheme, kSchemeUnknown);
  EXPECT_EQ(N(p.host_name), "");
}

TEST(JoinUrl, ComposesAndReportsTheCapacityNeeded) {
  CUrlParts p;
  ASSERT_TRUE(SplitUrl(W("http://u:pw@host:8080/p?q"), &p));
  WString out;
  size_t needed = 0;
  ASSERT_TRUE(JoinUrl(p, &out, 100, &needed));
  EXPECT_EQ(N(out), "http://u:pw@host:8080/p?q");
  EXPECT_EQ(needed, out.size() + 1);
  EXPECT_FALSE(JoinUrl(p, &out, needed - 1, &needed));
  p.port = 80;
  p.path = W("rel");
  ASSERT_TRUE(JoinUrl(p, &out, 100, &needed));
  EXPECT_EQ(N(out), "http://u:pw@host/rel?q");
}

TEST(ResolveLocation, AbsoluteRootedAndRelativeTargets) {
  struct Case { const char* current; const char* location; const char* result; } cases[] = {
      {"http://h/a/b?c=1", "http://other:81/x", "http://other:81/x"},
      {"http://h/a/b?c=1", "  /root  ", "http://h/root?c=1"},
      {"http://h/a/b?c=1", "file.php", "http://h/a/file.php?c=1"},
      {"http://h:8080/a/b", "c", "http://h:8080/a/c"},
      {"http://h?c=1", "x", "http://h/x?c=1"},
      {"http://h/a", "/x:y", "http://h/x:y"},
  };
  for (const auto& c : cases) {
    CUrlParts current;
    ASSERT_TRUE(SplitUrl(W(c.current), &current));
    WString location = W(c.location);
    ASSERT_TRUE(ResolveLocation(&location, current)) << c.location;
    EXPECT_EQ(N(location), c.result);
  }
}

TEST(ResolveLocation, ComposedUrlOverTheLimitFails) {
  CUrlParts current;
  ASSERT_TRUE(SplitUrl(W("http://h/"), &current));
  WString location = W("/" + std::string(2040, 'x'));
  EXPECT_FALSE(ResolveLocation(&location, current));
}

}  // namespace
}  // namespace hv
