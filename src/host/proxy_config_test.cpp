// The proxy settings and the machine's proxy sources, parsed: what goes
// through which proxy, what goes direct, and what is refused.
#include <gtest/gtest.h>

#include "base/utf.h"
#include "host/proxy_config.h"

namespace hv {
namespace {

using Source = platform::SystemProxySource;

TEST(ProxySettings, HostAndPortByTheEndpointRulesOrSystemElseRefusedByName) {
  ProxyConfig config;
  const WChar* bad = nullptr;
  ASSERT_TRUE(ParseProxySettings(HV_W(""), HV_W(""), &config, &bad));
  EXPECT_EQ(config.mode, ProxyConfig::Mode::kDirect);
  ASSERT_TRUE(ParseProxySettings(HV_W("SYSTEM"), HV_W(""), &config, &bad));
  EXPECT_EQ(config.mode, ProxyConfig::Mode::kSystem);
  ASSERT_TRUE(ParseProxySettings(HV_W("HTTP://proxy.corp:3128"), HV_W(""), &config, &bad));
  EXPECT_EQ(config.mode, ProxyConfig::Mode::kFixed);
  EXPECT_EQ(config.server.host, HV_W("proxy.corp"));
  EXPECT_EQ(config.server.port, 3128);
  ASSERT_TRUE(ParseProxySettings(HV_W("[::1]:8080"), HV_W(""), &config, &bad));
  EXPECT_EQ(config.server.host, HV_W("[::1]"));
  for (const WChar* proxy : {HV_W("proxy.corp"), HV_W("https://proxy:3128"), HV_W("user:pw@proxy:3128"),
                             HV_W("proxy:3128/path"), HV_W("proxy:0"), HV_W("proxy:65536"),
                             HV_W("socks5://proxy:1080"), HV_W("prox y:80"), HV_W("http://http://p:1")}) {
    EXPECT_FALSE(ParseProxySettings(proxy, HV_W(""), &config, &bad)) << WideToUtf8(proxy);
    EXPECT_EQ(WString(bad), HV_W("VerifyProxy"));
  }
  for (const WChar* bypass : {HV_W("a,,b"), HV_W("a b"), HV_W("host/24"), HV_W(","), HV_W("a;b")}) {
    EXPECT_FALSE(ParseProxySettings(HV_W("p:1"), bypass, &config, &bad));
    EXPECT_EQ(WString(bad), HV_W("VerifyProxyBypass"));
  }
}

TEST(ProxySettings, BypassMatchesNamesWildcardsDomainsAndLocalOnly) {
  ProxyConfig config;
  const WChar* bad = nullptr;
  ASSERT_TRUE(ParseProxySettings(HV_W("p:1"), HV_W(" Exact.Host , *.wild.corp,.dom.corp, 10.1.*, <LOCAL>, [::1]"),
                                 &config, &bad));
  for (const WChar* host : {HV_W("exact.host"), HV_W("a.wild.corp"), HV_W("dom.corp"), HV_W("x.y.dom.corp"),
                            HV_W("10.1.2.3"), HV_W("intranet"), HV_W("localhost"), HV_W("[::1]")}) {
    EXPECT_TRUE(BypassesProxy(config.bypass, host)) << WideToUtf8(host);
  }
  for (const WChar* host : {HV_W("exact.host.evil"), HV_W("wild.corp"), HV_W("xdom.corp"), HV_W("127.0.0.1"),
                            HV_W("[::2]"), HV_W("10.2.1.1")}) {
    EXPECT_FALSE(BypassesProxy(config.bypass, host)) << WideToUtf8(host);
  }
  // Nothing is bypassed implicitly: not even loopback without a rule.
  EXPECT_FALSE(BypassesProxy({}, HV_W("127.0.0.1")));
}

// An entry with a port could never match a host: it is refused. A host
// name with the root's trailing dot is the same host.
TEST(ProxySettings, ABypassEntryWithAPortIsRefusedAndATrailingDotMatches) {
  ProxyConfig config;
  const WChar* bad = nullptr;
  for (const WChar* bypass : {HV_W("127.0.0.1:8080"), HV_W("[::1]:80"), HV_W("a, host:1")}) {
    EXPECT_FALSE(ParseProxySettings(HV_W("p:1"), bypass, &config, &bad)) << WideToUtf8(bypass);
    EXPECT_EQ(WString(bad), HV_W("VerifyProxyBypass"));
  }
  ASSERT_TRUE(ParseProxySettings(HV_W("p:1"), HV_W("localhost, corp.example., ::1"), &config, &bad));
  for (const WChar* host : {HV_W("localhost."), HV_W("LOCALHOST"), HV_W("corp.example"), HV_W("corp.example."),
                            HV_W("[::1]")}) {
    EXPECT_TRUE(BypassesProxy(config.bypass, host)) << WideToUtf8(host);
  }
  std::vector<WString> no_proxy;
  ASSERT_TRUE(ParseNoProxy(HV_W("localhost"), &no_proxy));
  EXPECT_TRUE(NoProxyCovers(no_proxy, HV_W("localhost.")));
  EXPECT_FALSE(NoProxyCovers(no_proxy, HV_W("localhost..")));
}

ProxyServer From(const Source& source, bool tls, const WChar* host, bool* ok, std::string* faulty = nullptr) {
  ProxyServer proxy;
  const char* part = "";
  *ok = SystemProxyFor(source, tls, host, &proxy, &part);
  if (faulty != nullptr) *faulty = part;
  return proxy;
}

TEST(SystemProxy, EnvironmentValuesAsCurlReadsThem) {
  Source env;
  env.proxy_url = HV_W("http://proxy.corp:3128/");
  env.proxy_variable = "https_proxy";
  env.no_proxy = HV_W("corp.example, .internal,10.0.0.1 ,localhost:8080");
  bool ok = false;
  ProxyServer proxy = From(env, true, HV_W("verify.example.com"), &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(proxy.host, HV_W("proxy.corp"));
  EXPECT_EQ(proxy.port, 3128);
  // A plain name covers its sub-domains, an address only itself; an entry
  // with a port covers nothing (curl never matches it).
  for (const WChar* host : {HV_W("corp.example"), HV_W("a.corp.example"), HV_W("x.internal"), HV_W("10.0.0.1")}) {
    EXPECT_TRUE(From(env, true, host, &ok).host.empty()) << WideToUtf8(host);
  }
  EXPECT_FALSE(From(env, true, HV_W("localhost"), &ok).host.empty());
  EXPECT_FALSE(From(env, true, HV_W("10.0.0.10"), &ok).host.empty());
  env.proxy_url = HV_W("proxy.corp");
  EXPECT_EQ(From(env, false, HV_W("e"), &ok).port, 1080);  // curl's default
  // Credentials are not supported, nor a proxy spoken to over TLS or SOCKS:
  // malformed, never sent without them.
  for (const WChar* url : {HV_W("http://u:p@proxy:1"), HV_W("https://proxy:1"), HV_W("socks5h://proxy:1"),
                           HV_W("proxy:99999")}) {
    env.proxy_url = url;
    From(env, true, HV_W("e"), &ok);
    EXPECT_FALSE(ok) << WideToUtf8(url);
  }
  env.proxy_url.clear();
  EXPECT_TRUE(From(env, true, HV_W("e"), &ok).host.empty());
  EXPECT_TRUE(ok);
}

TEST(SystemProxy, WinHttpListsPerSchemeWithTheirBypassList) {
  Source winhttp;
  winhttp.kind = Source::Kind::kWinHttp;
  winhttp.proxy_list = HV_W("http=plain.corp:8080;https=http://tls.corp:8443");
  winhttp.bypass_list = HV_W("<local>; *.intra.corp  10.*;");
  bool ok = false;
  EXPECT_EQ(From(winhttp, true, HV_W("v.example"), &ok).host, HV_W("tls.corp"));
  EXPECT_EQ(From(winhttp, false, HV_W("v.example"), &ok).port, 8080);
  for (const WChar* host : {HV_W("intranet"), HV_W("a.intra.corp"), HV_W("10.9.9.9")}) {
    EXPECT_TRUE(From(winhttp, true, host, &ok).host.empty()) << WideToUtf8(host);
  }
  winhttp.proxy_list = HV_W("one.corp");  // one for both schemes, port 80
  ProxyServer proxy = From(winhttp, true, HV_W("v.example"), &ok);
  EXPECT_EQ(proxy.host, HV_W("one.corp"));
  EXPECT_EQ(proxy.port, 80);
  winhttp.proxy_list = HV_W("http=proxy:port");
  From(winhttp, false, HV_W("v.example"), &ok);
  EXPECT_FALSE(ok);
}

// Every form of WinHTTP's list, with and without a bypass list: the server
// each scheme gets, or a refusal naming the part when any part cannot be
// used (a SOCKS-only list went direct).
TEST(SystemProxy, AWinHttpListTheModuleCannotUseInAnyPartFailsClosedNamingIt) {
  const char* kList = "WinHTTP default proxy";
  const char* kBypass = "WinHTTP default proxy bypass list";
  struct Case {
    const WChar* list;
    const WChar* bypass;
    const char* plain;  // "host:port", "" for direct, or the faulty part
    const char* tls;
  } cases[] = {
      {HV_W("p.corp:3128"), HV_W(""), "p.corp:3128", "p.corp:3128"},
      {HV_W("http://p.corp"), HV_W(""), "p.corp:80", "p.corp:80"},
      {HV_W("http=a:1;https=b:2"), HV_W(""), "a:1", "b:2"},
      {HV_W(" HTTP=a:1  HTTPS=http://b:2 ;"), HV_W(""), "a:1", "b:2"},
      {HV_W("http=a:1;ftp=f:21;c:3"), HV_W(""), "a:1", "c:3"},
      {HV_W("https=b:2;ftp=f:21"), HV_W(""), kList, "b:2"},
      {HV_W("http=a:1"), HV_W(""), "a:1", kList},
      {HV_W("ftp=f.corp:21"), HV_W(""), kList, kList},
      {HV_W("socks=127.0.0.1:1080"), HV_W(""), kList, kList},
      {HV_W("socks=s:1080;ftp=f:21"), HV_W(""), kList, kList},
      {HV_W("http=a:1;https=b:2;socks=s:1080"), HV_W(""), kList, kList},
      {HV_W("a:1;socks=s:1080"), HV_W("<local>"), kList, kList},
      {HV_W("gopher=g:70;a:1"), HV_W(""), kList, kList},
      {HV_W("http=a:1;http=b:2"), HV_W(""), kList, kList},
      {HV_W("a:1 b:2"), HV_W(""), kList, kList},
      {HV_W("https=https://b:2"), HV_W(""), kList, kList},
      {HV_W("socks://s:1080"), HV_W(""), kList, kList},
      {HV_W("http=a:1;https=b:2"), HV_W("<local>;*.corp.example 10.*;"), "a:1", "b:2"},
      {HV_W("http=a:1;https=b:2"), HV_W("v.example"), "", ""},
      {HV_W("http=a:1;https=b:2"), HV_W("<-loopback>"), kBypass, kBypass},
      {HV_W("a:1"), HV_W("corp.example;http://x.corp"), kBypass, kBypass},
      {HV_W("a:1"), HV_W("10.0.0.0/8"), kBypass, kBypass},
      {HV_W("socks=s:1080"), HV_W("v.example"), kList, kList},  // bypassed, and still refused
  };
  for (const Case& c : cases) {
    Source winhttp;
    winhttp.kind = Source::Kind::kWinHttp;
    winhttp.proxy_list = c.list;
    winhttp.bypass_list = c.bypass;
    for (bool tls : {false, true}) {
      bool ok = false;
      std::string faulty;
      ProxyServer proxy = From(winhttp, tls, HV_W("v.example"), &ok, &faulty);
      std::string got = !ok ? faulty : proxy.host.empty() ? "" : WideToUtf8(proxy.host) + ":" + std::to_string(proxy.port);
      EXPECT_EQ(got, tls ? c.tls : c.plain) << WideToUtf8(c.list) << " | " << WideToUtf8(c.bypass) << " tls " << tls;
    }
  }
}

// Every form of the environment's values; no_proxy decided with curl as
// the reference: an address host is covered only by the same address, so
// "0.0.1", ".0.0.1" leave 127.0.0.1 on the proxy (curl uses the proxy);
// a wildcard inside an entry or a CIDR range cannot be read: refused.
TEST(SystemProxy, EnvironmentValuesTheModuleCannotUseFailClosedAndNoProxyAddressesMatchAsCurl) {
  struct Case {
    const WChar* proxy_url;
    const WChar* no_proxy;
    const WChar* host;
    const char* want;  // "host:port", "" for direct, or the faulty variable
  } cases[] = {
      {HV_W("http://p:3128"), HV_W(""), HV_W("127.0.0.1"), "p:3128"},
      {HV_W("p:3128"), HV_W(""), HV_W("e.example"), "p:3128"},
      {HV_W("HTTP://p"), HV_W(""), HV_W("e.example"), "p:1080"},
      {HV_W("http://[::1]:8080/"), HV_W(""), HV_W("e.example"), "[::1]:8080"},
      {HV_W("https://p:1"), HV_W(""), HV_W("e.example"), "https_proxy"},
      {HV_W("socks5://p:1080"), HV_W(""), HV_W("e.example"), "https_proxy"},
      {HV_W("socks4a://p:1080"), HV_W(""), HV_W("e.example"), "https_proxy"},
      {HV_W("http://u@p:1"), HV_W(""), HV_W("e.example"), "https_proxy"},
      {HV_W("http://p:1/path"), HV_W(""), HV_W("e.example"), "https_proxy"},
      {HV_W("http://p:1"), HV_W("0.0.1"), HV_W("127.0.0.1"), "p:1"},
      {HV_W("http://p:1"), HV_W(".0.0.1"), HV_W("127.0.0.1"), "p:1"},
      {HV_W("http://p:1"), HV_W("0.1"), HV_W("127.1"), "p:1"},
      {HV_W("http://p:1"), HV_W("127.0.0.1"), HV_W("127.0.0.1"), ""},
      {HV_W("http://p:1"), HV_W("::1"), HV_W("[::1]"), ""},
      // Forms curl never matches stay on the proxy (a port, brackets, dots
      // around an address); "*" covers all only as the whole value.
      {HV_W("http://p:1"), HV_W("[::1]:443"), HV_W("[::1]"), "p:1"},
      {HV_W("http://p:1"), HV_W("[::1]"), HV_W("[::1]"), "p:1"},
      {HV_W("http://p:1"), HV_W("127.0.0.1:80"), HV_W("127.0.0.1"), "p:1"},
      {HV_W("http://p:1"), HV_W(".127.0.0.1"), HV_W("127.0.0.1"), "p:1"},
      {HV_W("http://p:1"), HV_W("127.0.0.1."), HV_W("127.0.0.1"), "p:1"},
      {HV_W("http://p:1"), HV_W("localhost:99"), HV_W("localhost"), "p:1"},
      {HV_W("http://p:1"), HV_W("localhost..,..localhost"), HV_W("localhost"), "p:1"},
      {HV_W("http://p:1"), HV_W(".localhost"), HV_W("localhost"), ""},
      {HV_W("http://p:1"), HV_W("localhost."), HV_W("localhost"), ""},
      {HV_W("http://p:1"), HV_W("*"), HV_W("127.0.0.1"), ""},
      {HV_W("http://p:1"), HV_W(" , example.com,, *"), HV_W("127.0.0.1"), "no_proxy"},
      {HV_W("http://p:1"), HV_W(" *"), HV_W("127.0.0.1"), "no_proxy"},
      {HV_W("http://p:1"), HV_W("example.com."), HV_W("a.example.com"), ""},
      {HV_W("http://p:1"), HV_W("example.com"), HV_W("aexample.com"), "p:1"},
      {HV_W("http://p:1"), HV_W("127.*"), HV_W("127.0.0.1"), "no_proxy"},
      {HV_W("http://p:1"), HV_W("*.example.com"), HV_W("a.example.com"), "no_proxy"},
      {HV_W("http://p:1"), HV_W("10.0.0.0/8"), HV_W("e.example"), "no_proxy"},
      {HV_W("http://p:1"), HV_W("host:port"), HV_W("e.example"), "no_proxy"},
      {HV_W("http://p:1"), HV_W("a;b"), HV_W("e.example"), "no_proxy"},
      {HV_W("socks5h://p:1"), HV_W("*"), HV_W("e.example"), "https_proxy"},  // covered, and still refused
      {HV_W(""), HV_W("10.0.0.0/8"), HV_W("e.example"), ""},  // no proxy: nothing to bypass
  };
  for (const Case& c : cases) {
    Source env;
    env.proxy_url = c.proxy_url;
    env.proxy_variable = "https_proxy";
    env.no_proxy = c.no_proxy;
    bool ok = false;
    std::string faulty;
    ProxyServer proxy = From(env, true, c.host, &ok, &faulty);
    std::string got = !ok ? faulty : proxy.host.empty() ? "" : WideToUtf8(proxy.host) + ":" + std::to_string(proxy.port);
    EXPECT_EQ(got, c.want) << WideToUtf8(c.proxy_url) << " | " << WideToUtf8(c.no_proxy) << " | "
                           << WideToUtf8(c.host);
  }
}

}  // namespace
}  // namespace hv
