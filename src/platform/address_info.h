// The handling of the system resolver's address lists and of socket
// addresses that reads the same on every platform, shared by the socket
// and name lookup files of each.
//
// Internal to src/platform. The definitions (address_info.cpp) are
// compiled for every platform; the system headers they need come from
// address_info_posix.h or address_info_win32.h, which the build picks as
// it picks the platform files. This header includes no system header.
//
// Results: lists returned in `*list` belong to the caller, who frees them
// with freeaddrinfo. Thread-safety: plain functions without state; any
// thread.
#ifndef HV_PLATFORM_ADDRESS_INFO_H_
#define HV_PLATFORM_ADDRESS_INFO_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

struct addrinfo;
struct sockaddr_storage;

namespace hv::platform {

// The resolver's hints for every lookup of the module: any family, stream
// sockets, no flags.
void SetLookupHints(addrinfo* hints);

// getaddrinfo with those hints, on the calling thread (it blocks as long
// as the resolver takes): the resolver's result code; on 0 `*list` holds
// the addresses, else it is null.
int LookUpOnThisThread(const std::string& host, const std::string& port, addrinfo** list);

// A numeric address needs no resolver: converted here, on the caller's
// thread. True with `*list` set when `host` was one.
bool ConvertNumeric(const std::string& host, const std::string& port, addrinfo** list);

// A new lookup record (any type with `host` and `port` strings) holding
// copies of `host` and `port`, for a lookup that outlives its caller's
// strings; null when memory ran out. Freed with delete.
template <class Record>
Record* NewLookupRecord(const std::string& host, const std::string& port) noexcept {
  auto* record = new (std::nothrow) Record;
  if (record == nullptr) return nullptr;
  try {
    record->host = host;
    record->port = port;
  } catch (...) {
    delete record;
    return nullptr;
  }
  return record;
}

// The socket error number for a resolver result code other than 0. Each
// platform's socket file defines it, beside its one translation of native
// codes.
uint32_t ResolverError(int native);

// Fills `*storage` with the loopback address (::1 or 127.0.0.1) and
// `port`; returns the length of the address.
size_t LoopbackAddress(uint16_t port, bool ipv6, sockaddr_storage* storage);

// The port of an IPv4 or IPv6 address, in host byte order.
uint16_t PortOf(const sockaddr_storage& storage);

}  // namespace hv::platform

#endif  // HV_PLATFORM_ADDRESS_INFO_H_
