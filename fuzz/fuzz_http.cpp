// Arbitrary bytes as what the peer sends, through the response reader, the
// chunked decoder, the status rules and redirect resolution. The first byte
// chooses how the bytes are cut into receives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "http/http_client_impl.h"
#include "tests/support/memory_socket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  hv::CAtlHttpClientT<hv::testing::MemorySocket> client;
  client.Script(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), 1 + data[0] * 32);
  hv::NavigateSettings settings;
  settings.max_header_bytes = 64 * 1024;
  settings.max_body_bytes = 1024 * 1024;
  client.Navigate(HV_W("http://endpoint/interface/newauth/index.php?c=abc"), settings);
  volatile size_t sink = client.GetBodyLength();
  (void)sink;
  (void)client.GetStatus();
  return 0;
}
