// POSIX implementation of platform/proxy.h: the process environment.
#include "platform/proxy.h"

#include <cstdlib>

#include "base/utf.h"

namespace hv::platform {
namespace {

// The first of `names` that is set and not empty; its name in `*used`.
WString FirstSet(std::initializer_list<const char*> names, const char** used) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      if (used != nullptr) *used = name;
      return Utf8ToWide(value);
    }
  }
  return WString();
}

}  // namespace

bool ReadSystemProxy(bool tls, SystemProxySource* source) {
  *source = SystemProxySource();
  source->kind = SystemProxySource::Kind::kEnvironment;
  // Each group as curl reads it: the first of its names that is set. The
  // scheme's group serves the exchange, else all_proxy; the rest is kept
  // to be checked.
  SystemProxySource::Variable https{"https_proxy", {}}, http{"http_proxy", {}}, all{"all_proxy", {}};
  https.value = FirstSet({"https_proxy", "HTTPS_PROXY"}, &https.name);
  http.value = FirstSet({"http_proxy"}, &http.name);
  all.value = FirstSet({"all_proxy", "ALL_PROXY"}, &all.name);
  SystemProxySource::Variable& own = tls ? https : http;
  SystemProxySource::Variable& other = tls ? http : https;
  SystemProxySource::Variable& used = own.value.empty() && !all.value.empty() ? all : own;
  source->proxy_variable = used.name;
  source->proxy_url = used.value;
  for (SystemProxySource::Variable* rest : {&other, &all}) {
    if (rest != &used && !rest->value.empty()) source->other_proxies.push_back(*rest);
  }
  source->no_proxy = FirstSet({"no_proxy", "NO_PROXY"}, &source->no_proxy_variable);
  return true;
}

bool SetSystemProxyForTest(const WString&, const WString&) { return false; }

}  // namespace hv::platform
