// Proxy settings and the machine's proxy values through their parsers and
// the bypass matching: the input's first line as the proxy, the second as
// the bypass list, the third as the host asked for.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <string>

#include "base/utf.h"
#include "host/proxy_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hv::WString text = hv::Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
  hv::WString lines[3];
  for (size_t i = 0, at = 0; i < 3 && at <= text.size(); ++i) {
    size_t end = i == 2 ? text.size() : std::min(text.find('\n', at), text.size());
    lines[i] = text.substr(at, end - at);
    at = end + 1;
  }
  hv::ProxyConfig config;
  const hv::WChar* bad = nullptr;
  if (hv::ParseProxySettings(lines[0], lines[1], &config, &bad)) hv::BypassesProxy(config.bypass, lines[2]);
  hv::platform::SystemProxySource source;
  source.proxy_url = lines[0];
  source.no_proxy = lines[1];
  hv::ProxyServer proxy;
  const char* faulty = "";
  hv::SystemProxyFor(source, true, lines[2], &proxy, &faulty);
  source.kind = hv::platform::SystemProxySource::Kind::kWinHttp;
  source.proxy_list = lines[0];
  source.bypass_list = lines[1];
  hv::SystemProxyFor(source, false, lines[2], &proxy, &faulty);
  return 0;
}
