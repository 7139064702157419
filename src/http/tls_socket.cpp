#include "http/tls_socket.h"

#include <cstring>

#include "platform/ansi.h"

namespace hv {

bool ZEvtSyncTlsSocket::Fail(uint32_t error) {
  LastError = error;
  CloseConnection();
  return false;
}

bool ZEvtSyncTlsSocket::SendRaw(const std::string& bytes) {
  if (bytes.empty()) return true;
  SendBuffer buffer{bytes.size(), bytes.data()};
  size_t sent = 0;
  raw_.SocketTimeout = SocketTimeout;
  if (raw_.SendBuffers(&buffer, 1, &sent)) return true;
  LastError = raw_.LastError;
  CloseConnection();
  return false;
}

bool ZEvtSyncTlsSocket::ReceiveRaw(bool* closed) {
  char buffer[16384];
  size_t size = sizeof buffer;
  raw_.SocketTimeout = SocketTimeout;
  *closed = false;
  if (!raw_.ReceiveInto(buffer, &size)) {
    LastError = raw_.LastError;
    CloseConnection();
    return false;
  }
  if (size == 0) {
    *closed = true;
    return false;
  }
  received_.append(buffer, size);
  return true;
}

bool ZEvtSyncTlsSocket::OpenConnection(const WString& host, uint16_t port) {
  if (connected()) return true;
  CloseConnection();
  raw_.SocketTimeout = SocketTimeout;
  if (!raw_.OpenConnection(host, port)) {
    LastError = raw_.LastError;
    return false;
  }
  WString name = host;
  if (name.size() >= 2 && name.front() == HV_W('[') && name.back() == HV_W(']')) {
    name = name.substr(1, name.size() - 2);
  }
  std::string ansi_name;
  platform::WideToAnsi(name, &ansi_name);
  session_ = std::make_unique<platform::TlsSession>();
  uint32_t rc = session_->Begin(ansi_name, pin_ ? pin_->data() : nullptr);
  if (rc != 0) return Fail(rc);
  for (;;) {
    std::string to_send;
    uint32_t error = 0;
    auto result = session_->Handshake(&received_, &to_send, &error);
    if (!SendRaw(to_send)) return false;
    if (result == platform::TlsSession::Result::kDone) return true;
    if (result != platform::TlsSession::Result::kMore) return Fail(error);
    bool closed = false;
    if (!ReceiveRaw(&closed)) {
      // A peer that hangs up mid-handshake is a handshake failure.
      return closed ? Fail(platform::kSocketNotConnected) : false;
    }
  }
}

bool ZEvtSyncTlsSocket::SendBuffers(const SendBuffer* buffers, size_t count, size_t* sent) {
  *sent = 0;
  if (!connected()) {
    LastError = platform::kSocketNotConnected;
    return false;
  }
  std::string records;
  for (size_t i = 0; i < count; ++i) {
    uint32_t error = 0;
    if (session_->Seal(buffers[i].data, buffers[i].length, &records, &error) !=
        platform::TlsSession::Result::kDone) {
      return Fail(error);
    }
  }
  if (!SendRaw(records)) return false;
  for (size_t i = 0; i < count; ++i) *sent += buffers[i].length;
  return true;
}

bool ZEvtSyncTlsSocket::ReceiveInto(char* buffer, size_t* size) {
  size_t room = *size;
  *size = 0;
  if (plain_at_ == plain_.size() && !connected()) {
    LastError = platform::kSocketNotConnected;
    return false;
  }
  while (plain_at_ == plain_.size()) {
    plain_.clear();
    plain_at_ = 0;
    std::string to_send;
    uint32_t error = 0;
    auto result = session_->Open(&received_, &plain_, &to_send, &error);
    if (!SendRaw(to_send)) return false;
    if (result == platform::TlsSession::Result::kClosed) return true;  // close_notify: the end
    if (result == platform::TlsSession::Result::kFailed) return Fail(error);
    if (result == platform::TlsSession::Result::kDone) break;
    bool closed = false;
    if (!ReceiveRaw(&closed)) return closed;  // a plain close ends the data too
  }
  size_t n = plain_.size() - plain_at_ < room ? plain_.size() - plain_at_ : room;
  std::memcpy(buffer, plain_.data() + plain_at_, n);
  plain_at_ += n;
  *size = n;
  return true;
}

void ZEvtSyncTlsSocket::CloseConnection() {
  raw_.CloseConnection();
  session_.reset();
  received_.clear();
  plain_.clear();
  plain_at_ = 0;
}

}  // namespace hv
