#include "host/proxy_config.h"

#include "base/ascii.h"
#include "host/config.h"

namespace hv {
namespace {

WStringView Trim(WStringView text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool StartsWithIgnoreCase(WStringView text, WStringView prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

WStringView Unbracketed(WStringView host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
  return host;
}

// `*` matches any run of characters, letter case aside (iterative, with
// one backtrack point: linear in practice, never recursive).
bool GlobMatches(WStringView pattern, WStringView text) {
  size_t p = 0, t = 0, star = WStringView::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && ToLowerAscii(pattern[p]) == ToLowerAscii(text[t])) {
      ++p;
      ++t;
    } else if (star != WStringView::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

const WChar kLocal[] = HV_W("<local>");

// A pattern's characters: those of host names and addresses, and "*".
bool IsPatternChar(WChar c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '*' || c == ':';
}

// A port after a system list's entry: digits, 1 to 65535 (it is then ignored).
bool IsPortText(WStringView text) {
  uint32_t port = 0;
  return ParseStrictDecimal<uint32_t>(text, 65535, &port) && port != 0;
}

enum class BypassStyle { kSetting, kWinHttp };

// Adds the patterns of one entry; false when it is malformed.
bool AddBypassEntry(WStringView entry, BypassStyle style, std::vector<WString>* patterns) {
  if (EqualsIgnoreCase(entry, WStringView(kLocal))) {
    patterns->emplace_back(kLocal);
    return true;
  }
  // The setting matches hosts, not ports: an entry with a port is refused
  // rather than kept as one that could never match. WinHTTP's list drops
  // the port (any port).
  bool single_colon = entry.find(':') != WStringView::npos && entry.find(':') == entry.rfind(':');
  if (!entry.empty() && entry.front() == '[') {
    size_t close = entry.find(']');
    if (close == WStringView::npos) return false;
    WStringView rest = entry.substr(close + 1);
    if (!rest.empty() && (style == BypassStyle::kSetting || rest.front() != ':' || !IsPortText(rest.substr(1)))) {
      return false;
    }
    entry = entry.substr(1, close - 1);
  } else if (single_colon) {
    if (style == BypassStyle::kSetting || !IsPortText(entry.substr(entry.find(':') + 1))) return false;
    entry = entry.substr(0, entry.find(':'));
  }
  if (entry.size() > 1 && entry.back() == '.') entry.remove_suffix(1);  // "name." is "name"
  bool subdomains = false;
  if (!entry.empty() && entry.front() == '.') {
    entry.remove_prefix(1);
    subdomains = true;
  }
  if (entry.empty()) return false;
  for (WChar c : entry) {
    if (!IsPatternChar(c)) return false;
  }
  patterns->emplace_back(entry);
  if (subdomains && entry != WStringView(HV_W("*"))) patterns->push_back(HV_W("*.") + WString(entry));
  return true;
}

// Calls `add` with each entry of `text` that `separators` part, blanks
// around it dropped; false at the first entry `add` refuses. Empty entries
// are refused too unless `skip_empty` (the system's lists are separator
// runs, ";" ending a WinHTTP list, ", " a no_proxy).
template <class Add>
bool ForEachEntry(WStringView text, WStringView separators, bool skip_empty, Add&& add) {
  for (;;) {
    size_t end = text.find_first_of(separators);
    WStringView entry = Trim(text.substr(0, end));
    if (!(entry.empty() && skip_empty) && !add(entry)) return false;
    if (end == WStringView::npos) return true;
    text.remove_prefix(end + 1);
  }
}

// The system's lists fail closed like the setting: an entry that cannot be
// read fails the verification rather than being dropped.
bool ParseBypass(WStringView text, WStringView separators, BypassStyle style, std::vector<WString>* patterns) {
  patterns->clear();
  return ForEachEntry(text, separators, style != BypassStyle::kSetting,
                      [&](WStringView entry) { return AddBypassEntry(entry, style, patterns); });
}

// An address rather than a name: IPv6, or digits and dots only (every
// numeric IPv4 form a resolver takes).
bool IsAddressText(WStringView host) {
  if (host.find(':') != WStringView::npos) return true;
  for (WChar c : host) {
    if (c != '.' && !IsDigitAscii(c)) return false;
  }
  return true;
}

// A no_proxy entry without the dots curl ignores around a name: one
// leading, one trailing.
WStringView NoProxyName(WStringView entry) {
  if (entry.size() > 1 && entry.back() == '.') entry.remove_suffix(1);
  if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
  return entry;
}

// One no_proxy entry: a name or an address, with an optional port (a
// number), brackets around an IPv6 address and dots around a name. It is
// kept as written and matched as curl matches it (NoProxyCovers), so that
// a form curl never matches ("127.0.0.1:80", "[::1]", ".127.0.0.1")
// leaves the host on the proxy rather than sending it direct. A "*" in a
// list or inside an entry (curl reads it as a letter, other programs as a
// wildcard) and a CIDR range (curl reads them, the module does not) are
// refused.
bool AddNoProxyEntry(WStringView entry, std::vector<WString>* entries) {
  WStringView host = entry;
  size_t colon = host.find(':');
  if (!host.empty() && host.front() == '[') {
    size_t close = host.find(']');
    if (close == WStringView::npos) return false;
    WStringView rest = host.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || !IsPortText(rest.substr(1)))) return false;
    host = host.substr(1, close - 1);
    if (host.find(':') == WStringView::npos) return false;
  } else if (colon != WStringView::npos && colon == host.rfind(':')) {
    if (!IsPortText(host.substr(colon + 1))) return false;
    host = host.substr(0, colon);
  }
  host = NoProxyName(host);
  if (host.empty()) return false;
  for (WChar c : host) {
    if (c == '*' || !IsPatternChar(c)) return false;
  }
  entries->emplace_back(entry);
  return true;
}

const WChar kHttpScheme[] = HV_W("http://");

// "[http://]host[:port][/]" of a proxy variable; no other scheme, no user
// information (credentials are not supported), no path but "/".
bool ParseProxyUrl(WStringView url, ProxyServer* proxy) {
  url = Trim(url);
  if (StartsWithIgnoreCase(url, kHttpScheme)) url.remove_prefix(7);
  if (url.find(HV_W("://")) != WStringView::npos || url.find('@') != WStringView::npos) return false;
  if (!url.empty() && url.back() == '/') url.remove_suffix(1);
  return SplitHostPort(url, 1080, proxy);  // curl's default port
}

// The server for `tls` in a WinHTTP proxy list: entries
// "[scheme=][http://]host[:port]" parted by ';' or blanks, port 80 by
// default; "https=" or "http=" serves its scheme, an entry without a
// scheme every scheme, "ftp=" none the module uses. False, so that nothing
// goes out, when the list cannot be used as it stands: a SOCKS or unknown
// scheme, two entries for one scheme (only one would be used), a server
// that is not "host[:port]", or no entry for this scheme.
bool WinHttpProxy(WStringView list, bool tls, ProxyServer* proxy) {
  enum Kind { kAny, kHttp, kHttps, kFtp, kKinds };
  const WChar* const names[kKinds] = {HV_W(""), HV_W("http"), HV_W("https"), HV_W("ftp")};
  ProxyServer servers[kKinds];
  bool seen[kKinds] = {};
  bool ok = ForEachEntry(list, HV_W("; \t\r\n"), true, [&](WStringView entry) {
    size_t equals = entry.find('=');
    int kind = equals == WStringView::npos ? kAny : kKinds;
    for (int k = kHttp; k < kKinds && equals != WStringView::npos; ++k) {
      if (EqualsIgnoreCase(entry.substr(0, equals), WStringView(names[k]))) kind = k;
    }
    if (kind == kKinds || seen[kind]) return false;
    seen[kind] = true;
    if (equals != WStringView::npos) entry.remove_prefix(equals + 1);
    if (StartsWithIgnoreCase(entry, kHttpScheme)) entry.remove_prefix(7);
    return SplitHostPort(entry, 80, &servers[kind]);
  });
  int kind = seen[tls ? kHttps : kHttp] ? (tls ? kHttps : kHttp) : kAny;
  if (!ok || !seen[kind]) return false;
  *proxy = servers[kind];
  return true;
}

}  // namespace

bool SplitHostPort(WStringView text, uint16_t default_port, ProxyServer* out) {
  if (EndpointHostPort(text).size() != text.size() || !IsValidEndpoint(text)) return false;
  size_t end = text.front() == '[' ? text.find(']') + 1 : text.find(':');
  WStringView host = text.substr(0, end), rest = end < text.size() ? text.substr(end + 1) : WStringView();
  uint32_t port = default_port;
  if (!rest.empty() && !ParseStrictDecimal<uint32_t>(rest, 65535, &port)) return false;
  if (port == 0) return false;
  out->host.assign(host.data(), host.size());
  out->port = static_cast<uint16_t>(port);
  return true;
}

bool ParseProxySettings(WStringView proxy, WStringView bypass, ProxyConfig* config,
                        const WChar** bad_setting) {
  *config = ProxyConfig();
  *bad_setting = HV_W("VerifyProxyBypass");
  if (!Trim(bypass).empty() && !ParseBypass(bypass, HV_W(","), BypassStyle::kSetting, &config->bypass)) {
    return false;
  }
  *bad_setting = HV_W("VerifyProxy");
  proxy = Trim(proxy);
  if (proxy.empty()) return true;
  if (EqualsIgnoreCase(proxy, WStringView(HV_W("system")))) {
    config->mode = ProxyConfig::Mode::kSystem;
    return true;
  }
  if (StartsWithIgnoreCase(proxy, kHttpScheme)) proxy.remove_prefix(7);
  if (!SplitHostPort(proxy, 0, &config->server)) return false;
  config->mode = ProxyConfig::Mode::kFixed;
  return true;
}

bool ParseNoProxy(WStringView text, std::vector<WString>* entries) {
  entries->clear();
  // As curl: "*" covers every host only as the whole value.
  if (text == WStringView(HV_W("*"))) {
    entries->emplace_back(text);
    return true;
  }
  return ForEachEntry(text, HV_W(", \t"), true,
                      [&](WStringView entry) { return AddNoProxyEntry(entry, entries); });
}

bool NoProxyCovers(const std::vector<WString>& entries, WStringView host) {
  host = Unbracketed(host);
  if (host.size() > 1 && host.back() == '.') host.remove_suffix(1);
  bool address = IsAddressText(host);
  for (const WString& written : entries) {
    if (written == HV_W("*")) return true;
    // An address is covered only by itself as written; a name by an entry
    // equal to it or to one of its parent domains, the dots around the
    // entry aside.
    WStringView entry = address ? WStringView(written) : NoProxyName(written);
    if (EqualsIgnoreCase(entry, host)) return true;
    size_t n = entry.size();
    if (!address && host.size() > n && host[host.size() - n - 1] == '.' &&
        EqualsIgnoreCase(entry, host.substr(host.size() - n))) {
      return true;
    }
  }
  return false;
}

bool BypassesProxy(const std::vector<WString>& patterns, WStringView host) {
  host = Unbracketed(host);
  if (host.size() > 1 && host.back() == '.') host.remove_suffix(1);  // the root's dot
  for (const WString& pattern : patterns) {
    if (pattern == kLocal ? host.find('.') == WStringView::npos && host.find(':') == WStringView::npos
                          : GlobMatches(pattern, host)) {
      return true;
    }
  }
  return false;
}

bool SystemProxyFor(const platform::SystemProxySource& source, bool tls, WStringView host,
                    ProxyServer* proxy, const char** faulty) {
  *proxy = ProxyServer();
  ProxyServer server;
  std::vector<WString> bypass;
  bool bypassed = false;
  // Every part is read before any is used: a part that cannot be used
  // fails the exchange even when another part would decide it.
  if (source.kind == platform::SystemProxySource::Kind::kEnvironment) {
    // Another scheme's variable, or all_proxy, that cannot be used fails
    // this exchange too, as a WinHTTP list's unusable entry does.
    for (const platform::SystemProxySource::Variable& other : source.other_proxies) {
      *faulty = other.name;
      if (!ParseProxyUrl(other.value, &server)) return false;
    }
    if (source.proxy_url.empty()) return true;
    *faulty = source.proxy_variable;
    if (!ParseProxyUrl(source.proxy_url, &server)) return false;
    *faulty = source.no_proxy_variable;
    if (!ParseNoProxy(source.no_proxy, &bypass)) return false;
    bypassed = NoProxyCovers(bypass, host);
  } else {
    if (source.proxy_list.empty()) return true;
    *faulty = "WinHTTP default proxy";
    if (!WinHttpProxy(source.proxy_list, tls, &server)) return false;
    *faulty = "WinHTTP default proxy bypass list";
    if (!ParseBypass(source.bypass_list, HV_W("; \t\r\n"), BypassStyle::kWinHttp, &bypass)) return false;
    bypassed = BypassesProxy(bypass, host);
  }
  if (!bypassed) *proxy = server;
  return true;
}

}  // namespace hv
