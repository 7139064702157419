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
  source->proxy_variable = tls ? "https_proxy" : "http_proxy";
  source->proxy_url = tls ? FirstSet({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}, &source->proxy_variable)
                          : FirstSet({"http_proxy", "all_proxy", "ALL_PROXY"}, &source->proxy_variable);
  source->no_proxy = FirstSet({"no_proxy", "NO_PROXY"}, &source->no_proxy_variable);
  return true;
}

bool SetSystemProxyForTest(const WString&, const WString&) { return false; }

}  // namespace hv::platform
