// URL text through normalising, splitting, joining and resolution.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/utf.h"
#include "http/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hv::WString text = hv::Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
  hv::WString normalized;
  hv::CUrlParts parts;
  if (hv::NormalizeUrl(text, &normalized) && hv::SplitUrl(normalized, &parts)) {
    hv::WString joined;
    size_t needed = 0;
    hv::JoinUrl(parts, &joined, 4096, &needed);
  }
  hv::CUrlParts current;
  hv::SplitUrl(HV_W("http://host:8080/a/b?c=1"), &current);
  hv::WString location;
  if (hv::ResolveLocation(std::string(reinterpret_cast<const char*>(data), size), current, &location)) {
    hv::SplitUrl(location, &parts);
  }
  return 0;
}
