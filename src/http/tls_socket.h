// ZEvtSyncTlsSocket: the HTTP client's socket for https. It speaks TLS
// over a ZEvtSyncSocket, so every wait, the handshake's included, is
// bounded as the plain socket bounds it (SocketTimeout, the deadline), and
// the deadline is checked before the socket is touched again, so that a
// peer that keeps the queue full cannot hold the thread past it.
//
// Results as ZEvtSyncSocket's, with one difference: nobody on the path
// can end the peer's data. Only the peer's close_notify reads as the end
// (a receive of 0 bytes); a connection closed without it
// (kTlsTruncated), a record that fails its check (the engine's error), a
// wait that runs out while data is awaited (platform::kSocketTimedOut) and a peer
// that sends kMaxIdleCiphertext bytes that yield no data
// (kTlsNoProgress) all fail the receive with LastError set, so TimedOut()
// is never true here. A handshake, certificate or pin failure fails the
// operation with the TLS engine's error number in LastError; so does a
// peer that does not speak TLS. A connection the module's TLS policy
// (http/tls_policy.h) refuses fails after the handshake, before any byte
// is sent, with TlsRefusalError's number and the verdict kept
// (tls_verdict()). Every failure closes the connection.
//
// One trailing dot of the host ("name.example.") is dropped for the name
// sent and the certificate's name check: the name is the same, and
// neither SNI nor certificates carry the dot.
//
// Within the process a connection resumes a TLS session of an earlier one
// to the same host name, port and proxy with the same pins (and trust
// settings: platform/tls.h), and is checked as a full one: the pin
// against the session's certificate, the TLS policy on the version, on
// the chain of the handshake that made the session (its dates judged
// now) and on the key exchange (TLS 1.3 makes a new one; a TLS 1.2
// resumption makes none, and that of the full handshake is judged). A
// session is kept only from a connection the policy accepted and that
// ended without failure (a cut, a deadline, a refused record).
//
// Ownership and threads: one connection, one thread at a time.
#ifndef HV_HTTP_TLS_SOCKET_H_
#define HV_HTTP_TLS_SOCKET_H_

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/wide.h"
#include "http/evt_sync_socket.h"
#include "http/proxy_tunnel.h"
#include "http/tls_policy.h"
#include "platform/tls.h"

namespace hv {

// Error numbers of the TLS layer itself (Windows socket numbers).
constexpr uint32_t kTlsTruncated = 10101;    // WSAEDISCON: closed without close_notify
constexpr uint32_t kTlsNoProgress = 10055;   // WSAENOBUFS: ciphertext without data
// The ciphertext one receive may take in without yielding data
// (post-handshake messages such as key updates and tickets).
constexpr size_t kMaxIdleCiphertext = 64 * 1024;

class ZEvtSyncTlsSocket {
 public:
  using SendBuffer = ZEvtSyncSocket::SendBuffer;
  using Clock = ZEvtSyncSocket::Clock;

  // The server certificates' SHA-256 values to accept (whoever signed
  // them); without any, the platform's trust store and the host name decide.
  void SetPins(const std::vector<std::array<unsigned char, 32>>& pins) { pins_ = pins; }

  // Later connections go through the forward proxy `proxy` (a tunnel
  // opened with CONNECT, its answer head at most `max_header_bytes`); an
  // empty host connects directly.
  void SetProxy(const ProxyTarget& proxy, size_t max_header_bytes) {
    proxy_ = proxy;
    proxy_max_header_ = max_header_bytes;
  }
  // Which proxy step failed the last connection or receive (kNone: none),
  // and the status of a refused CONNECT.
  ProxyFailure proxy_failure() const { return proxy_failure_; }
  int32_t proxy_status() const { return proxy_status_; }
  // The TLS policy's refusal of the last connection (kNone: none).
  const TlsVerdict& tls_verdict() const { return tls_verdict_; }

  // Connects and completes the handshake with `host` (its name is also
  // what the certificate must carry), through the proxy when one is set.
  bool OpenConnection(const WString& host, uint16_t port);
  bool SendBuffers(const SendBuffer* buffers, size_t count, size_t* sent);
  bool ReceiveInto(char* buffer, size_t* size);
  void CloseConnection();
  // Closes a connection whose exchange failed above TLS (a cut answer, a
  // refused status or redirect, a deadline): nothing of its session is
  // kept for resumption.
  void AbandonConnection() { Abandon(); }

  bool connected() const { return raw_.connected() && session_ != nullptr; }
  // As ZEvtSyncSocket::IsIdle, for the decrypted bytes and the ciphertext
  // not yet handed out too.
  bool IsIdle() const {
    return connected() && !peer_closed_ && received_.empty() && plain_at_ >= plain_.size() && raw_.IsIdle();
  }
  uint32_t GetLastError() const { return LastError; }
  void SetDeadline(std::optional<Clock::time_point> deadline) {
    deadline_ = deadline;
    raw_.SetDeadline(deadline);
  }
  bool DeadlineExpired() const { return deadline_expired_ || raw_.DeadlineExpired(); }
  bool TimedOut() const { return false; }

  uint32_t LastError = 0;
  uint32_t SocketTimeout = 10000;

 private:
  bool Fail(uint32_t error);
  // Closes a connection that failed: nothing of its session is kept.
  void Abandon();
  std::string ResumeKey(const std::string& name, uint16_t port, const std::string& pins) const;
  // True (and the connection closed) when the deadline has passed.
  bool OutOfTime();
  bool SendRaw(const std::string& bytes);
  // Receives once from the peer into received_; false on failure or close.
  // `timeout_error`: LastError for a wait that ran out (0 keeps it).
  bool ReceiveRaw(bool* closed, uint32_t timeout_error);

  // Connects raw_ to the endpoint, or to the proxy and through its tunnel.
  bool Reach(const WString& host, uint16_t port);
  bool TunnelClosed(bool closed) const;

  ZEvtSyncSocket raw_;
  ProxyTarget proxy_;
  size_t proxy_max_header_ = 0;
  ProxyFailure proxy_failure_ = ProxyFailure::kNone;
  int32_t proxy_status_ = -1;
  std::unique_ptr<platform::TlsSession> session_;
  TlsVerdict tls_verdict_;
  std::vector<std::array<unsigned char, 32>> pins_;
  std::optional<Clock::time_point> deadline_;
  bool deadline_expired_ = false;
  bool peer_closed_ = false;   // close_notify received: the data has ended
  size_t idle_ciphertext_ = 0;  // received since the last data
  std::string received_;  // ciphertext not yet given to the session
  std::string plain_;     // decrypted bytes not yet handed out
  size_t plain_at_ = 0;
};

}  // namespace hv

#endif  // HV_HTTP_TLS_SOCKET_H_
