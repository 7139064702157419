// See host_name_match.h.
#include "base/host_name_match.h"

#include "base/ascii.h"

namespace hv {

bool CertificateNameMatchesHost(std::string_view pattern, std::string_view host) {
  if (pattern.empty() || host.empty()) return false;
  if (pattern.rfind("*.", 0) != 0) {
    return pattern.find('*') == std::string_view::npos && EqualsIgnoreCase(pattern, host);
  }
  std::string_view suffix = pattern.substr(2);
  // At least two labels after the wildcard, none of them empty or starred.
  const size_t dot = suffix.find('.');
  if (suffix.find('*') != std::string_view::npos || dot == std::string_view::npos || dot == 0 ||
      suffix.back() == '.' || suffix.find("..") != std::string_view::npos) {
    return false;
  }
  const size_t label_end = host.find('.');
  if (label_end == std::string_view::npos || label_end == 0) return false;
  return EqualsIgnoreCase(host.substr(label_end + 1), suffix);
}

}  // namespace hv
