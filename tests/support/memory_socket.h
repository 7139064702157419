// An in-memory transport with the operations of ZEvtSyncSocket, so that
// the HTTP client can be driven by bytes in tests and fuzzers: receives
// hand out the scripted bytes in pieces of a chosen size, then report that
// the peer has closed.
#ifndef HV_TESTS_SUPPORT_MEMORY_SOCKET_H_
#define HV_TESTS_SUPPORT_MEMORY_SOCKET_H_

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "http/evt_sync_socket.h"

namespace hv::testing {

class MemorySocket {
 public:
  using Clock = ZEvtSyncSocket::Clock;

  void Script(std::string incoming, size_t piece) {
    incoming_ = std::move(incoming);
    piece_ = piece == 0 ? 1 : piece;
  }
  const std::string& sent() const { return sent_; }

  bool OpenConnection(const WString&, uint16_t) {
    connected_ = true;
    return true;
  }
  bool SendBuffers(const ZEvtSyncSocket::SendBuffer* buffers, size_t count, size_t* sent) {
    *sent = 0;
    if (!connected_) {
      LastError = 10057;
      return false;
    }
    for (size_t i = 0; i < count; ++i) {
      sent_.append(buffers[i].data, buffers[i].length);
      *sent += buffers[i].length;
    }
    return true;
  }
  bool ReceiveInto(char* buffer, size_t* size) {
    if (!connected_) {
      LastError = 10057;
      *size = 0;
      return false;
    }
    size_t n = std::min({*size, piece_, incoming_.size() - at_});
    std::memcpy(buffer, incoming_.data() + at_, n);
    at_ += n;
    *size = n;
    return true;
  }
  void CloseConnection() { connected_ = false; }
  bool connected() const { return connected_; }
  void SetDeadline(std::optional<Clock::time_point>) {}
  bool DeadlineExpired() const { return false; }

  uint32_t LastError = 0;
  uint32_t SocketTimeout = 10000;

 private:
  std::string incoming_, sent_;
  size_t at_ = 0;
  size_t piece_ = 1;
  bool connected_ = false;
};

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_MEMORY_SOCKET_H_
