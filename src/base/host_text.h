// Host text as URLs and the endpoint setting carry it, checked before it
// reaches a Host field or the resolver.
//
// Pure functions; thread-safe.
#ifndef HV_BASE_HOST_TEXT_H_
#define HV_BASE_HOST_TEXT_H_

#include "base/wide.h"

namespace hv {

// An IPv6 address in text form (RFC 3986 IPv6address): eight groups of one
// to four hex digits, at most one "::" standing for one or more zero
// groups, the last 32 bits perhaps as a dotted IPv4 address. No brackets,
// no zone.
bool IsIpv6Address(WStringView text);

// A host: a name of letters, digits, "-", "." and "_" without an empty
// label (one trailing dot, the fully qualified form, at most), or an IPv6
// address in brackets. IPvFuture literals, percent escapes and any other byte are
// refused: none of them names a host the resolver could reach.
bool IsHostText(WStringView host);

}  // namespace hv

#endif  // HV_BASE_HOST_TEXT_H_
