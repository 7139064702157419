// The Windows system headers of address_info.cpp: getaddrinfo and the
// socket address structures of Winsock. Included only by address_info.cpp,
// which the build points at this header or at address_info_posix.h.
#ifndef HV_PLATFORM_ADDRESS_INFO_WIN32_H_
#define HV_PLATFORM_ADDRESS_INFO_WIN32_H_

#include <winsock2.h>
#include <ws2tcpip.h>

#endif  // HV_PLATFORM_ADDRESS_INFO_WIN32_H_
