// The platform-neutral part of name lookups and socket addresses (see
// platform/address_info.h), and the copy of a lookup's addresses into an
// AddressList (platform/socket.h). HV_ADDRESS_INFO_SYSTEM_H names the
// system headers of the platform being built (address_info_posix.h or
// address_info_win32.h).
#include "platform/address_info.h"

#include HV_ADDRESS_INFO_SYSTEM_H

#include <memory>
#include <vector>

#include "platform/name_lookup.h"
#include "platform/socket.h"

namespace hv::platform {

void SetLookupHints(addrinfo* hints) {
  hints->ai_family = AF_UNSPEC;
  hints->ai_socktype = SOCK_STREAM;
}

int LookUpOnThisThread(const std::string& host, const std::string& port, addrinfo** list) {
  addrinfo hints{};
  SetLookupHints(&hints);
  int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, list);
  if (rc != 0) *list = nullptr;
  return rc;
}

bool ConvertNumeric(const std::string& host, const std::string& port, addrinfo** list) {
  addrinfo hints{};
  SetLookupHints(&hints);
  hints.ai_flags = AI_NUMERICHOST;
  return getaddrinfo(host.c_str(), port.c_str(), &hints, list) == 0;
}

size_t LoopbackAddress(uint16_t port, bool ipv6, sockaddr_storage* storage) {
  *storage = sockaddr_storage{};
  if (ipv6) {
    auto* addr = reinterpret_cast<sockaddr_in6*>(storage);
    addr->sin6_family = AF_INET6;
    addr->sin6_port = htons(port);
    addr->sin6_addr = in6addr_loopback;
    return sizeof *addr;
  }
  auto* addr = reinterpret_cast<sockaddr_in*>(storage);
  addr->sin_family = AF_INET;
  addr->sin_port = htons(port);
  addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sizeof *addr;
}

uint16_t PortOf(const sockaddr_storage& storage) {
  return ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port
                                             : reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

uint32_t AddressList::Resolve(const std::string& host, const std::string& port,
                              uint32_t timeout_ms) {
  entries_.clear();
  addrinfo* list = nullptr;
  int rc = 0;
  if (LookUpBounded(host, port, timeout_ms, &list, &rc) == LookupStatus::kTimedOut) {
    return kSocketTimedOut;
  }
  if (rc != 0) return ResolverError(rc);
  struct FreeList {
    void operator()(addrinfo* a) const { freeaddrinfo(a); }
  };
  std::unique_ptr<addrinfo, FreeList> owned(list);
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(a->ai_addr);
    entries_.push_back(Address{a->ai_family, a->ai_socktype, a->ai_protocol,
                               std::vector<unsigned char>(bytes, bytes + a->ai_addrlen)});
  }
  return 0;
}

}  // namespace hv::platform
