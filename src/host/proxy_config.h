// The forward proxy settings of "SPCfg" and the machine's proxy setting,
// parsed into the proxy (if any) that one exchange goes through.
//
//   VerifyProxy        empty: direct. "system": the machine's setting
//                      (platform/proxy.h). Else a host and a port,
//                      "host:port", optionally "http://" before it, by the
//                      host rules of VerifyHost (no path, user information
//                      or https: the module speaks plain HTTP to the proxy,
//                      without credentials).
//   VerifyProxyBypass  comma-separated hosts that go direct: a name or
//                      address, "*" anywhere in it as a wildcard
//                      ("*.corp.example", "10.1.*"), ".domain" for the
//                      domain and its sub-domains, "<local>" for every name
//                      without a dot. With "system", the system's own list
//                      is used instead. Nothing is bypassed implicitly, not
//                      even loopback.
//
// Pure functions, no I/O (the caller reads the system source).
// Thread-safety: any thread. Values from the environment or the system may
// carry credentials: they never reach a result's text, only the source's
// name does.
#ifndef HV_HOST_PROXY_CONFIG_H_
#define HV_HOST_PROXY_CONFIG_H_

#include <cstdint>
#include <vector>

#include "base/wide.h"
#include "platform/proxy.h"

namespace hv {

struct ProxyServer {
  WString host;  // an IPv6 literal keeps its brackets
  uint16_t port = 0;
};

struct ProxyConfig {
  enum class Mode { kDirect, kFixed, kSystem };
  Mode mode = Mode::kDirect;
  ProxyServer server;           // kFixed
  std::vector<WString> bypass;  // kFixed: the patterns of VerifyProxyBypass
};

// Splits "host[:port]" (a bracketed IPv6 literal allowed) checked by the
// endpoint host rules; `default_port` when none is given (0: a port is
// required). False when malformed.
bool SplitHostPort(WStringView text, uint16_t default_port, ProxyServer* out);

// Parses both settings into `config`; false, naming the faulty setting in
// `*bad_setting`, when either is malformed.
bool ParseProxySettings(WStringView proxy, WStringView bypass, ProxyConfig* config,
                        const WChar** bad_setting);

// Parses a no_proxy value as curl reads it: entries parted by commas and
// blanks, each kept as written; "*" as the whole value for every host. An
// entry is a name (a leading and a trailing dot ignored) or an address
// (IPv4 or IPv6, brackets optional), a port after it allowed (such forms
// curl never matches: see NoProxyCovers). False on an entry that is none
// of these ("*" in a list, "*.corp", "127.*", a CIDR range "10.0.0.0/8",
// other characters).
bool ParseNoProxy(WStringView text, std::vector<WString>* entries);

// True when the no_proxy entries cover `host` (a URL's host, brackets and
// all): an address host only by an entry that is the same text as written
// (no port, brackets or dots around it), a name by an entry equal to it or
// to one of its parent domains.
bool NoProxyCovers(const std::vector<WString>& entries, WStringView host);

// True when `host` (a URL's host, brackets and all) matches a pattern.
bool BypassesProxy(const std::vector<WString>& patterns, WStringView host);

// What the system source says for an exchange with `host` over TLS or
// plain http: true with `*proxy` (an empty host: direct). False, with
// `*faulty` naming the part (a variable's name, or the WinHTTP list) and
// never its value, when any part of the source cannot be used as it stands
// (user information, a proxy spoken to over TLS or SOCKS, an unknown
// scheme, a WinHTTP list without an entry for this scheme, a bypass entry
// that cannot be read): the exchange must then not start.
bool SystemProxyFor(const platform::SystemProxySource& source, bool tls, WStringView host,
                    ProxyServer* proxy, const char** faulty);

}  // namespace hv

#endif  // HV_HOST_PROXY_CONFIG_H_
