#include "http/tls_socket.h"

#include <cstring>
#include <ctime>

#include "platform/ansi.h"

namespace hv {

bool ZEvtSyncTlsSocket::Fail(uint32_t error) {
  LastError = error;
  Abandon();
  return false;
}

void ZEvtSyncTlsSocket::Abandon() {
  if (session_ != nullptr) session_->Discard();
  CloseConnection();
}

bool ZEvtSyncTlsSocket::OutOfTime() {
  if (!deadline_ || Clock::now() < *deadline_) return false;
  deadline_expired_ = true;
  LastError = platform::kSocketTimedOut;
  Abandon();
  return true;
}

bool ZEvtSyncTlsSocket::SendRaw(const std::string& bytes) {
  if (bytes.empty()) return true;
  if (OutOfTime()) return false;
  SendBuffer buffer{bytes.size(), bytes.data()};
  size_t sent = 0;
  raw_.SocketTimeout = SocketTimeout;
  if (raw_.SendBuffers(&buffer, 1, &sent)) return true;
  LastError = raw_.LastError;  // WSAETIMEDOUT when the wait ran out
  Abandon();
  return false;
}

bool ZEvtSyncTlsSocket::ReceiveRaw(bool* closed, uint32_t timeout_error) {
  *closed = false;
  // Checked before the socket is touched: a receive takes what is queued
  // before it waits, so a peer that keeps the queue full would never be
  // cut off by the waits alone.
  if (OutOfTime()) {
    if (timeout_error != 0) LastError = timeout_error;
    return false;
  }
  char buffer[16384];
  size_t size = sizeof buffer;
  raw_.SocketTimeout = SocketTimeout;
  if (!raw_.ReceiveInto(buffer, &size)) {
    LastError = !raw_.TimedOut() ? raw_.LastError : timeout_error != 0 ? timeout_error : LastError;
    Abandon();
    return false;
  }
  if (size == 0) {
    *closed = true;
    return false;
  }
  received_.append(buffer, size);
  idle_ciphertext_ += size;
  return true;
}

// Through a proxy, a receive that ended by a close or an error (not by a
// wait or the deadline running out) means the tunnel is gone.
bool ZEvtSyncTlsSocket::TunnelClosed(bool closed) const {
  return !proxy_.host.empty() && (closed || (!raw_.TimedOut() && !DeadlineExpired()));
}

bool ZEvtSyncTlsSocket::Reach(const WString& host, uint16_t port) {
  proxy_failure_ = ProxyFailure::kNone;
  proxy_status_ = -1;
  bool tunnel = !proxy_.host.empty();
  if (!raw_.OpenConnection(tunnel ? proxy_.host : host, tunnel ? proxy_.port : port)) {
    LastError = raw_.LastError;
    if (tunnel) proxy_failure_ = ProxyFailure::kUnreachable;
    return false;
  }
  // Whatever follows the proxy's answer is the endpoint's first ciphertext.
  if (tunnel && !OpenTunnel(raw_, host, port, proxy_max_header_, &received_, &proxy_failure_, &proxy_status_)) {
    // A silent proxy is WSAETIMEDOUT; a refusal is no socket error (0),
    // which the client names by the step that failed.
    LastError = proxy_failure_ == ProxyFailure::kRefused || proxy_failure_ == ProxyFailure::kAuthRequired
                    ? 0
                    : raw_.LastError;
    return false;
  }
  return true;
}

// What a kept session is kept under: the name sent and checked, the port,
// the proxy the tunnel goes through, the pins (the platform adds its trust
// settings).
std::string ZEvtSyncTlsSocket::ResumeKey(const std::string& name, uint16_t port, const std::string& pins) const {
  std::string proxy;
  platform::WideToAnsi(proxy_.host, &proxy);
  std::string key = name + '\n' + std::to_string(port) + '\n' + proxy + ':' + std::to_string(proxy_.port) + '\n';
  static const char kHex[] = "0123456789abcdef";
  for (unsigned char c : pins) key.append({kHex[c >> 4], kHex[c & 15]});
  return key;
}

bool ZEvtSyncTlsSocket::OpenConnection(const WString& host, uint16_t port) {
  if (connected()) return true;
  CloseConnection();
  deadline_expired_ = false;
  tls_verdict_ = TlsVerdict{};
  raw_.SocketTimeout = SocketTimeout;
  if (!Reach(host, port)) return false;
  WString name = host;
  if (name.size() >= 2 && name.front() == HV_W('[') && name.back() == HV_W(']')) {
    name = name.substr(1, name.size() - 2);
  } else if (name.size() >= 2 && name.back() == HV_W('.')) {
    name.pop_back();  // the fully qualified form of the same name
  }
  std::string ansi_name;
  platform::WideToAnsi(name, &ansi_name);
  session_ = std::make_unique<platform::TlsSession>();
  std::string pins;
  for (const auto& pin : pins_) pins.append(reinterpret_cast<const char*>(pin.data()), pin.size());
  uint32_t rc = session_->Begin(ansi_name, reinterpret_cast<const unsigned char*>(pins.data()), pins_.size(),
                                ResumeKey(ansi_name, port, pins));
  if (rc != 0) return Fail(rc);
  for (;;) {
    std::string to_send;
    uint32_t error = 0;
    auto result = session_->Handshake(&received_, &to_send, &error);
    if (!SendRaw(to_send)) return false;
    if (result == platform::TlsSession::Result::kDone) break;
    if (result != platform::TlsSession::Result::kMore) return Fail(error);
    bool closed = false;
    if (!ReceiveRaw(&closed, platform::kSocketTimedOut)) {
      // A peer that hangs up mid-handshake is a handshake failure; through
      // a proxy, it is the tunnel that closed (or was reset).
      if (TunnelClosed(closed)) proxy_failure_ = ProxyFailure::kClosed;
      return closed ? Fail(platform::kSocketNotConnected) : false;
    }
  }
  // The module's own minimums, whatever the platform's library allowed.
  platform::TlsFacts facts;
  tls_verdict_ = session_->ReadFacts(&facts)
                     ? JudgeTls(facts, !pins_.empty(), static_cast<int64_t>(std::time(nullptr)))
                     : TlsVerdict{TlsRefusal::kUnreadable};
  if (tls_verdict_.refusal != TlsRefusal::kNone) return Fail(TlsRefusalError(tls_verdict_.refusal));
  session_->Accept();
  idle_ciphertext_ = 0;
  return true;
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
  if (plain_at_ == plain_.size() && peer_closed_) return true;  // after close_notify: the end
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
    if (result == platform::TlsSession::Result::kClosed) {
      peer_closed_ = true;
      return true;
    }
    if (result == platform::TlsSession::Result::kFailed) return Fail(error);
    if (result == platform::TlsSession::Result::kDone) break;
    // Post-handshake messages yield nothing: bounded, or a peer could
    // keep this loop busy for as long as it likes.
    if (idle_ciphertext_ > kMaxIdleCiphertext) return Fail(kTlsNoProgress);
    bool closed = false;
    if (!ReceiveRaw(&closed, platform::kSocketTimedOut)) {
      // Only close_notify ends the data: a bare close may be anyone's
      // (through a proxy, the tunnel's).
      if (TunnelClosed(closed)) proxy_failure_ = ProxyFailure::kClosed;
      return closed ? Fail(kTlsTruncated) : false;
    }
  }
  idle_ciphertext_ = 0;
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
  peer_closed_ = false;
  idle_ciphertext_ = 0;
}

}  // namespace hv
