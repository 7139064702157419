// ZEvtSyncSocket: the TCP connection under the HTTP client, with
// blocking-style operations whose every wait is bounded.
//
// Each wait lasts at most SocketTimeout milliseconds, and never past the
// deadline when one is set (SetDeadline), so that a peer that drips bytes
// cannot hold the calling thread beyond it. Once the deadline has passed,
// every connect, send and receive fails before touching the socket (as a
// wait that ran out: DeadlineExpired true), even when the peer's bytes are
// already queued.
//
// Results: the operations return true on success. On failure LastError
// holds a Windows socket error number: the system's, or WSAETIMEDOUT
// (10060) after a wait that ran out (a connect, send, receive or lookup,
// or the deadline), so that no failure reads as error 0. A successful name
// lookup sets it to 0; the lookup is a wait like the others (at most
// SocketTimeout, never past the deadline): one that runs out starts no
// connect, and so does a lookup that a slow override made outlast the
// deadline.
// A send or receive that fails or runs out of time closes the connection:
// it is never read or written again (later operations report 10057).
//
// Ownership and threads: the object owns its socket and closes it on
// destruction. It is used by one thread at a time.
#ifndef HV_HTTP_EVT_SYNC_SOCKET_H_
#define HV_HTTP_EVT_SYNC_SOCKET_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/wide.h"
#include "platform/socket.h"

namespace hv {

class ZEvtSyncSocket {
 public:
  // One buffer of a send.
  struct SendBuffer {
    size_t length;
    const char* data;
  };

  ZEvtSyncSocket();
  virtual ~ZEvtSyncSocket();
  ZEvtSyncSocket(const ZEvtSyncSocket&) = delete;
  ZEvtSyncSocket& operator=(const ZEvtSyncSocket&) = delete;

  // Connects to `host`:`port`, trying each resolved address in turn until
  // one answers. Succeeds at once, without looking at the host, when
  // already connected.
  bool OpenConnection(const WString& host, uint16_t port);
  bool SendBuffers(const SendBuffer* buffers, size_t count, size_t* sent);
  // `*size`: room in `buffer` on entry, bytes received on return (0: the
  // peer has closed its side).
  bool ReceiveInto(char* buffer, size_t* size);
  void CloseConnection();
  // Closes a connection whose exchange failed. Here as CloseConnection;
  // the TLS socket also keeps nothing of the connection's session.
  void AbandonConnection() { CloseConnection(); }

  bool connected() const { return connected_; }
  // True when the connection is open and nothing can be read from it now
  // (no stray byte, no close or reset from the peer): only such a
  // connection is fit to carry another request. Never waits.
  bool IsIdle() const { return connected_ && socket_.IsIdle(); }
  uint32_t GetLastError() const { return LastError; }

  using Clock = std::chrono::steady_clock;
  // Bounds every later wait by `deadline`; nullopt removes the bound.
  void SetDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }
  // True when the last send or receive ran out of time on a wait that the
  // deadline had cut short: the exchange's time is up, whether the wait
  // woke a moment before the deadline or after it.
  bool DeadlineExpired() const { return deadline_expired_; }
  // True when the last send or receive failed only because its wait ran
  // out: no error from the system or the peer (a reset is an error).
  bool TimedOut() const { return timed_out_; }

  uint32_t LastError = 0;
  uint32_t SocketTimeout = 10000;

 protected:
  // The name lookup, waiting at most `timeout_ms`: 0, the resolver's error
  // or WSAETIMEDOUT (a seam for tests that need a lookup slower than the
  // deadline).
  virtual uint32_t Resolve(const std::string& host, uint16_t port, uint32_t timeout_ms,
                           platform::AddressList* addresses);

 private:
  // The wait allowed now: SocketTimeout, cut to the time left before the
  // deadline.
  uint32_t WaitBudget() const;
  // True, and the connection closed, when the deadline has passed.
  bool DeadlinePassed();
  // One connection attempt to address `index`, on a socket of its own.
  bool ConnectTo(const platform::AddressList& addresses, size_t index);
  // Ends a send or receive of `status`, waited for up to `budget` ms.
  bool Completed(platform::IoStatus status, uint32_t budget, uint32_t error);

  platform::TcpSocket socket_;
  bool connected_ = false;
  std::optional<Clock::time_point> deadline_;
  bool deadline_expired_ = false;
  bool timed_out_ = false;
};

}  // namespace hv

#endif  // HV_HTTP_EVT_SYNC_SOCKET_H_
