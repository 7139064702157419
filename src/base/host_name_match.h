// Whether a DNS name a server certificate carries (one subjectAltName
// dNSName entry) names the host a connection asked for. The common name is
// never a caller's input: a certificate names its hosts in dNSName entries
// only.
//
// The rule: ASCII case-insensitive equality, or a wildcard that is the
// whole left-most label ("*.example.com") standing for exactly one
// non-empty label, over a suffix of at least two labels. Any other '*'
// ("*", "f*.example.com", "*.com", "a.*.example.com") matches nothing.
// Pure function; thread-safe.
#ifndef HV_BASE_HOST_NAME_MATCH_H_
#define HV_BASE_HOST_NAME_MATCH_H_

#include <string_view>

namespace hv {

bool CertificateNameMatchesHost(std::string_view pattern, std::string_view host);

}  // namespace hv

#endif  // HV_BASE_HOST_NAME_MATCH_H_
