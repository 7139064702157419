// The machine's proxy setting, as a service reads it, handed back raw: the
// portable code (host/proxy_config.h) parses what each source returns.
//
//   Linux: the host process's environment, as curl reads it: for TLS
//   "https_proxy" then "HTTPS_PROXY"; for plain http "http_proxy" only,
//   lower case (an upper-case HTTP_PROXY may be set by a CGI request's
//   "Proxy:" header, so it is never trusted); then, when neither is set,
//   "all_proxy" then "ALL_PROXY"; "no_proxy" then "NO_PROXY".
//   Windows: the default proxy configuration of WinHTTP (the machine-wide
//   setting services use, set by "netsh winhttp set proxy"), read through
//   winhttp.dll loaded at run time from the system directory.
//
// Results: false when the source cannot be read at all (no winhttp.dll);
// an unset source is true with empty fields. Thread-safety: any thread;
// nothing is kept between calls but the library's entry point.
#ifndef HV_PLATFORM_PROXY_H_
#define HV_PLATFORM_PROXY_H_

#include <vector>

#include "base/wide.h"

namespace hv::platform {

struct SystemProxySource {
  enum class Kind { kEnvironment, kWinHttp };
  Kind kind = Kind::kEnvironment;
  // kEnvironment: the variables' values (empty when unset), and the names
  // of the ones read, for log lines.
  WString proxy_url;
  const char* proxy_variable = "";
  WString no_proxy;
  const char* no_proxy_variable = "no_proxy";
  // The other proxy variables that are set (another scheme's, or all_proxy
  // when the scheme's own is set): not used for this exchange, but part of
  // the setting, so checked all the same.
  struct Variable {
    const char* name;
    WString value;
  };
  std::vector<Variable> other_proxies;
  // kWinHttp: the proxy list ("host:port", or "http=host:port;https=..."),
  // and the bypass list; both empty for direct access.
  WString proxy_list;
  WString bypass_list;
};

// Reads the source for an exchange over TLS (`tls`) or plain http.
bool ReadSystemProxy(bool tls, SystemProxySource* source);

// For tests: makes `proxy_list` with `bypass_list` the machine's default
// proxy (an empty list: direct access). False where the platform keeps no
// such setting (the environment is set with SetEnvironmentValue instead)
// or refuses the change.
bool SetSystemProxyForTest(const WString& proxy_list, const WString& bypass_list);

}  // namespace hv::platform

#endif  // HV_PLATFORM_PROXY_H_
