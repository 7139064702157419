#include "http/evt_sync_socket.h"

#include <string>

#include "platform/ansi.h"

namespace hv {

ZEvtSyncSocket::ZEvtSyncSocket() { platform::StartSockets(); }

ZEvtSyncSocket::~ZEvtSyncSocket() { CloseConnection(); }

uint32_t ZEvtSyncSocket::WaitBudget() const {
  if (!deadline_) return SocketTimeout;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() < SocketTimeout ? static_cast<uint32_t>(left.count()) : SocketTimeout;
}

bool ZEvtSyncSocket::DeadlinePassed() {
  if (!deadline_ || Clock::now() < *deadline_) return false;
  deadline_expired_ = true;
  LastError = platform::kSocketTimedOut;
  CloseConnection();
  return true;
}

bool ZEvtSyncSocket::OpenConnection(const WString& host, uint16_t port) {
  if (connected_) return true;
  if (DeadlinePassed()) return false;
  uint32_t start = platform::StartSockets();
  if (start != 0) {
    LastError = start;
    return false;
  }
  // IPv6 literals stand in brackets in URLs, not in the resolver.
  WString name = host;
  if (name.size() >= 2 && name.front() == HV_W('[') && name.back() == HV_W(']')) {
    name = name.substr(1, name.size() - 2);
  }
  std::string ansi_host;
  if (!platform::WideToAnsi(name, &ansi_host)) {
    LastError = platform::kSocketBadName;
    return false;
  }
  // The lookup waits no longer than any other wait: a name chosen by a
  // peer must not hold the thread while its nameservers stay silent.
  platform::AddressList addresses;
  uint32_t budget = WaitBudget();
  LastError = Resolve(ansi_host, port, budget, &addresses);
  if (LastError == platform::kSocketTimedOut) {
    deadline_expired_ = deadline_ && budget < SocketTimeout;
    return false;
  }
  if (LastError != 0) return false;
  // Each address in the resolver's order, all within the same deadline;
  // LastError tells the last attempt's failure. No connect starts once the
  // time is up.
  for (size_t i = 0; i < addresses.size() && !connected_; ++i) {
    if (DeadlinePassed()) {
      LastError = platform::kSocketTimedOut;
      return false;
    }
    if (ConnectTo(addresses, i)) connected_ = true;
  }
  return connected_;
}

uint32_t ZEvtSyncSocket::Resolve(const std::string& host, uint16_t port, uint32_t timeout_ms,
                                 platform::AddressList* addresses) {
  return addresses->Resolve(host, std::to_string(port), timeout_ms);
}

bool ZEvtSyncSocket::ConnectTo(const platform::AddressList& addresses, size_t index) {
  uint32_t rc = socket_.Create(addresses, index);
  if (rc != 0) {
    LastError = rc;
    return false;
  }
  uint32_t error = 0;
  switch (socket_.Connect(addresses, index, WaitBudget(), &error)) {
    case platform::IoStatus::kOk:
      return true;
    case platform::IoStatus::kFailed:
      LastError = error;
      break;
    case platform::IoStatus::kTimedOut:
      LastError = platform::kSocketTimedOut;  // a connect that never completed
      break;
  }
  // A socket whose connect failed cannot connect again on every platform.
  socket_.Close();
  return false;
}

bool ZEvtSyncSocket::SendBuffers(const SendBuffer* buffers, size_t count, size_t* sent) {
  *sent = 0;
  if (!connected_) {
    LastError = platform::kSocketNotConnected;
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    if (DeadlinePassed()) return false;
    size_t n = 0;
    uint32_t error = 0;
    uint32_t budget = WaitBudget();
    auto status = socket_.Send(buffers[i].data, buffers[i].length, budget, &n, &error);
    *sent += n;
    if (!Completed(status, budget, error)) return false;
  }
  return true;
}

bool ZEvtSyncSocket::ReceiveInto(char* buffer, size_t* size) {
  size_t room = *size;
  *size = 0;
  if (!connected_) {
    LastError = platform::kSocketNotConnected;
    return false;
  }
  // Checked before the receive: bytes already queued are no reason to go
  // on once the time is up.
  if (DeadlinePassed()) return false;
  uint32_t error = 0;
  uint32_t budget = WaitBudget();
  auto status = socket_.Receive(buffer, room, budget, size, &error);
  return Completed(status, budget, error);
}

// A send or receive that failed or ran out of time ends the connection:
// whatever the peer sends late on it must never be read as the answer to a
// later request, nor a later request written after a half-sent one.
bool ZEvtSyncSocket::Completed(platform::IoStatus status, uint32_t budget, uint32_t error) {
  deadline_expired_ = false;
  timed_out_ = status == platform::IoStatus::kTimedOut;
  if (status == platform::IoStatus::kOk) return true;
  if (status == platform::IoStatus::kFailed) {
    LastError = error;
  } else {
    LastError = platform::kSocketTimedOut;
    deadline_expired_ = deadline_ && budget < SocketTimeout;
  }
  CloseConnection();
  return false;
}

void ZEvtSyncSocket::CloseConnection() {
  if (!socket_.exists()) return;
  connected_ = false;
  socket_.Close();
}

}  // namespace hv
