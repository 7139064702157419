// The forward proxy's part of an exchange: what the HTTP client needs to
// send a request through a proxy, and the CONNECT step that opens a tunnel
// to a TLS endpoint.
//
// A tunnel is asked for with "CONNECT host:port HTTP/1.1" and a Host field;
// the proxy's answer head is read under the header limit, each receive
// bounded as the socket bounds it (SocketTimeout, the deadline). Interim
// answers (1xx but 101) before it are skipped, their heads counted against
// the same limit; a 101 is a refusal like any non-2xx. Only a 2xx
// opens the tunnel: any other answer fails, and nothing after its head is
// read (its body is the proxy's, never the endpoint's TLS). Proxy
// authentication is not supported: a 407 fails as kAuthRequired.
//
// Pure functions over a connected socket; nothing is kept. Thread-safety:
// as the socket's (one thread at a time).
#ifndef HV_HTTP_PROXY_TUNNEL_H_
#define HV_HTTP_PROXY_TUNNEL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/wide.h"
#include "http/evt_sync_socket.h"

namespace hv {

// Which step of the way through a proxy failed, for the caller's log line.
enum class ProxyFailure {
  kNone,
  kUnreachable,   // no connection to the proxy
  kRefused,       // CONNECT answered with a status other than 2xx (and 407)
  kAuthRequired,  // 407: the proxy asks for credentials
  kClosed,        // the proxy closed the connection before or inside the tunnel
  kNoAnswer,      // no readable answer to CONNECT in time or within the limit
};

// Where the request goes instead of the endpoint; an empty host is none.
struct ProxyTarget {
  WString host;
  uint16_t port = 0;
};

// The CONNECT request for `host`:`port` (a bracketed IPv6 literal stays
// bracketed); false, with nothing composed, when the host holds a byte
// outside visible ASCII.
bool ComposeConnect(const WString& host, uint16_t port, std::string* bytes);

// Sends CONNECT over `raw` (connected to the proxy) and reads the answer's
// head. True on a 2xx; `*after_head` then holds any bytes that followed the
// head (the tunnel's first bytes). On false `*failure` says why, `*status`
// holds the answer's status (or -1) and the connection is closed.
bool OpenTunnel(ZEvtSyncSocket& raw, const WString& host, uint16_t port, size_t max_header_bytes,
                std::string* after_head, ProxyFailure* failure, int32_t* status);

}  // namespace hv

#endif  // HV_HTTP_PROXY_TUNNEL_H_
