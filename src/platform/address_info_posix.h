// The POSIX system headers of address_info.cpp: getaddrinfo and the
// socket address structures. Included only by address_info.cpp, which the
// build points at this header or at address_info_win32.h.
#ifndef HV_PLATFORM_ADDRESS_INFO_POSIX_H_
#define HV_PLATFORM_ADDRESS_INFO_POSIX_H_

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#endif  // HV_PLATFORM_ADDRESS_INFO_POSIX_H_
