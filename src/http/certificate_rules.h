// The rules of the module's TLS policy that read a certificate's encoded
// extensions and signature parameters (DER, as the platform's library
// hands them over, never decoded by it): so that every build judges them
// alike, whatever its library enforces itself.
//
// Input is what a server sent, hence hostile: anything that does not
// decode is judged the unsafe way (not allowed, weak, outside the
// constraints). Pure functions, any thread; nothing is allocated beyond
// the size of the input.
#ifndef HV_HTTP_CERTIFICATE_RULES_H_
#define HV_HTTP_CERTIFICATE_RULES_H_

#include <string>

namespace hv {

// Whether the extended key usage extension's value `der` (a SEQUENCE OF
// OID) allows a TLS server: serverAuth or anyExtendedKeyUsage among them.
// Empty `der` (no such extension): allowed.
bool UsageAllowsServer(const std::string& der);

// Whether an RSASSA-PSS signature with these parameters (`der`, the
// RSASSA-PSS-params SEQUENCE; empty: absent) hashes, or masks, with SHA-1,
// MD5, MD4 or MD2. Both default to SHA-1.
bool PssHashIsWeak(const std::string& der);

enum class NameConstraint {
  kSatisfied,
  kViolated,   // a name outside the permitted subtrees of its form, or in an excluded one
  kUnhandled,  // a critical constraint on a name form other than DNS and IP
};

// Whether the subject alternative names `alt_names` (the extension's
// value; empty: none) satisfy the name constraints extension's value
// `constraints` (empty: none; `critical`: the extension's flag). DNS
// names per RFC 5280 4.2.1.10 (a constraint covers the name and its
// subdomains; one with a leading "." the subdomains only), addresses by
// address and mask.
NameConstraint CheckNameConstraints(const std::string& constraints, bool critical, const std::string& alt_names);

}  // namespace hv

#endif  // HV_HTTP_CERTIFICATE_RULES_H_
