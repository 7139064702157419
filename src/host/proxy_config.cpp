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

enum class BypassStyle { kSetting, kNoProxy, kWinHttp };

// Adds the patterns of one entry; false when it is malformed.
bool AddBypassEntry(WStringView entry, BypassStyle style, std::vector<WString>* patterns) {
  if (EqualsIgnoreCase(entry, WStringView(kLocal))) {
    patterns->emplace_back(kLocal);
    return true;
  }
  if (style == BypassStyle::kNoProxy && entry.find('/') != WStringView::npos) return false;  // CIDR
  // The setting matches hosts, not ports: an entry with a port is refused
  // rather than kept as one that could never match. The system's lists
  // drop the port (any port).
  bool single_colon = entry.find(':') != WStringView::npos && entry.find(':') == entry.rfind(':');
  if (!entry.empty() && entry.front() == '[') {
    size_t close = entry.find(']');
    if (close == WStringView::npos) return false;
    if (style == BypassStyle::kSetting && close + 1 != entry.size()) return false;
    entry = entry.substr(1, close - 1);
  } else if (single_colon) {
    if (style == BypassStyle::kSetting) return false;
    entry = entry.substr(0, entry.find(':'));
  }
  if (entry.size() > 1 && entry.back() == '.') entry.remove_suffix(1);  // "name." is "name"
  bool subdomains = style == BypassStyle::kNoProxy;
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

bool ParseBypass(WStringView text, WStringView separators, BypassStyle style, std::vector<WString>* patterns) {
  patterns->clear();
  for (;;) {
    size_t end = text.find_first_of(separators);
    WStringView entry = Trim(text.substr(0, end));
    // The system's lists are taken as they come: a faulty entry bypasses
    // nothing (the request then goes through the proxy).
    if (!AddBypassEntry(entry, style, patterns) && style == BypassStyle::kSetting) return false;
    if (end == WStringView::npos) return true;
    text.remove_prefix(end + 1);
  }
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

// The entry of a WinHTTP proxy list for `tls`: "https=" / "http=" before
// one without a scheme, which serves both.
bool WinHttpProxy(WStringView list, bool tls, ProxyServer* proxy) {
  WStringView chosen, generic;
  const WChar* separators = HV_W("; \t\r\n");
  for (;;) {
    size_t end = list.find_first_of(separators);
    WStringView entry = list.substr(0, end);
    size_t equals = entry.find('=');
    if (equals == WStringView::npos) {
      if (generic.empty()) generic = entry;
    } else if (EqualsIgnoreCase(entry.substr(0, equals), WStringView(tls ? HV_W("https") : HV_W("http")))) {
      chosen = entry.substr(equals + 1);
    }
    if (end == WStringView::npos) break;
    list.remove_prefix(end + 1);
  }
  if (chosen.empty()) chosen = generic;
  proxy->host.clear();
  proxy->port = 0;
  if (chosen.empty()) return true;  // none for this scheme: direct
  if (StartsWithIgnoreCase(chosen, kHttpScheme)) chosen.remove_prefix(7);
  return SplitHostPort(chosen, 80, proxy);
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

bool ParseBypassList(WStringView text, WStringView separators, bool curl_style,
                     std::vector<WString>* patterns) {
  return ParseBypass(text, separators, curl_style ? BypassStyle::kNoProxy : BypassStyle::kSetting, patterns);
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
                    ProxyServer* proxy) {
  *proxy = ProxyServer();
  std::vector<WString> bypass;
  if (source.kind == platform::SystemProxySource::Kind::kEnvironment) {
    if (source.proxy_url.empty()) return true;
    ParseBypass(source.no_proxy, HV_W(", \t"), BypassStyle::kNoProxy, &bypass);
    if (BypassesProxy(bypass, host)) return true;
    return ParseProxyUrl(source.proxy_url, proxy);
  }
  if (source.proxy_list.empty()) return true;
  ParseBypass(source.bypass_list, HV_W("; \t\r\n"), BypassStyle::kWinHttp, &bypass);
  if (BypassesProxy(bypass, host)) return true;
  return WinHttpProxy(source.proxy_list, tls, proxy);
}

}  // namespace hv
