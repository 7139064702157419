// ZEvtSyncTlsSocket: the HTTP client's socket for https. It speaks TLS
// over a ZEvtSyncSocket, so every wait, the handshake's included, is
// bounded as the plain socket bounds it (SocketTimeout, the deadline).
//
// Results as ZEvtSyncSocket's. A handshake, certificate, pin or record
// failure fails the operation with the TLS engine's error number in
// LastError and closes the connection; so does a peer that does not speak
// TLS. A peer's close_notify reads as the end of its data.
//
// Ownership and threads: one connection, one thread at a time.
#ifndef HV_HTTP_TLS_SOCKET_H_
#define HV_HTTP_TLS_SOCKET_H_

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "base/wide.h"
#include "http/evt_sync_socket.h"
#include "platform/tls.h"

namespace hv {

class ZEvtSyncTlsSocket {
 public:
  using SendBuffer = ZEvtSyncSocket::SendBuffer;
  using Clock = ZEvtSyncSocket::Clock;

  // The server certificate's SHA-256 to accept (whoever signed it);
  // without one, the platform's trust store and the host name decide.
  void SetPin(const std::array<unsigned char, 32>& pin) { pin_ = pin; }

  // Connects and completes the handshake with `host` (its name is also
  // what the certificate must carry).
  bool OpenConnection(const WString& host, uint16_t port);
  bool SendBuffers(const SendBuffer* buffers, size_t count, size_t* sent);
  bool ReceiveInto(char* buffer, size_t* size);
  void CloseConnection();

  bool connected() const { return raw_.connected() && session_ != nullptr; }
  uint32_t GetLastError() const { return LastError; }
  void SetDeadline(std::optional<Clock::time_point> deadline) { raw_.SetDeadline(deadline); }
  bool DeadlineExpired() const { return raw_.DeadlineExpired(); }

  uint32_t LastError = 0;
  uint32_t SocketTimeout = 10000;

 private:
  bool Fail(uint32_t error);
  bool SendRaw(const std::string& bytes);
  // Receives once from the peer into received_; false on failure or close.
  bool ReceiveRaw(bool* closed);

  ZEvtSyncSocket raw_;
  std::unique_ptr<platform::TlsSession> session_;
  std::optional<std::array<unsigned char, 32>> pin_;
  std::string received_;  // ciphertext not yet given to the session
  std::string plain_;     // decrypted bytes not yet handed out
  size_t plain_at_ = 0;
};

}  // namespace hv

#endif  // HV_HTTP_TLS_SOCKET_H_
