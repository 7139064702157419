// An in-memory transport with the operations of ZEvtSyncSocket, so that
// the HTTP client can be driven by bytes in tests and fuzzers: receives
// hand out the scripted bytes in pieces of a chosen size, then report that
// the peer has closed.
//
// Script: one stream, all of it available at once, read on by every
// connection. Answers: a peer in turns, as a server answers: each request
// sent makes the next answer available, and a connection that closes
// drops what it had not read.
//
// A peer that closes a kept-alive connection: PeerClosesAfter(i) closes it
// once answer i is sent (the next request on it goes nowhere, its receives
// find the end); an answer of kCloseWithoutAnswer closes the connection as
// that request arrives, before any byte of an answer.
//
// How the peer ends when its bytes run out (End): an orderly close (every
// receive then yields 0 bytes), a silence that outlasts the wait, or a
// reset.
#ifndef HV_TESTS_SUPPORT_MEMORY_SOCKET_H_
#define HV_TESTS_SUPPORT_MEMORY_SOCKET_H_

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "http/evt_sync_socket.h"

namespace hv::testing {

class MemorySocket {
 public:
  using Clock = ZEvtSyncSocket::Clock;

  void Script(std::string incoming, size_t piece) {
    incoming_ = std::move(incoming);
    available_ = incoming_.size();
    piece_ = piece == 0 ? 1 : piece;
  }
  void Answers(std::vector<std::string> answers, size_t piece) {
    answers_.assign(answers.rbegin(), answers.rend());
    in_turns_ = true;
    piece_ = piece == 0 ? 1 : piece;
  }
  const std::string& sent() const { return sent_; }
  static constexpr const char* kCloseWithoutAnswer = "\xFF(close without answer)";
  void PeerClosesAfter(size_t answer) { close_after_ = answer; }

  enum class End { kClose, kTimeOut, kReset };
  void EndWith(End end) { end_ = end; }

  // The virtual clock: it starts at construction and moves on by `step`
  // with every receive, so that deadlines can be tested without waiting.
  void TimePerReceive(Clock::duration step) { step_ = step; }
  Clock::time_point Now() const { return now_; }
  Clock::time_point Start() const { return start_; }

  // Every connection reads on in the one scripted stream, so that a
  // script may hold the answers to a request and to its redirects.
  bool OpenConnection(const WString&, uint16_t) {
    connected_ = true;
    peer_closed_ = false;
    ++connections_;
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
    if (in_turns_ && !answers_.empty() && !peer_closed_) {
      if (answers_.back() == kCloseWithoutAnswer) {
        peer_closed_ = true;
      } else {
        incoming_ += answers_.back();
        peer_closed_ = answered_++ == close_after_;
      }
      answers_.pop_back();
      available_ = incoming_.size();
    }
    return true;
  }
  bool ReceiveInto(char* buffer, size_t* size) {
    now_ += step_;
    if (!connected_) {
      LastError = 10057;
      *size = 0;
      return false;
    }
    timed_out_ = false;
    if (at_ == available_ && peer_closed_) {
      *size = 0;
      return true;
    }
    if (at_ == available_ && end_ != End::kClose) {
      // What the real socket reports: a wait that ran out leaves the
      // error number as it was, a reset gives WSAECONNRESET.
      timed_out_ = end_ == End::kTimeOut;
      if (end_ == End::kReset) LastError = 10054;
      *size = 0;
      CloseConnection();
      return false;
    }
    size_t n = std::min({*size, piece_, available_ - at_});
    std::memcpy(buffer, incoming_.data() + at_, n);
    at_ += n;
    *size = n;
    return true;
  }
  void CloseConnection() {
    connected_ = false;
    if (in_turns_) at_ = available_;
  }
  void AbandonConnection() { CloseConnection(); }
  bool connected() const { return connected_; }
  bool IsIdle() const { return connected_ && at_ == available_ && !peer_closed_; }
  int connections() const { return connections_; }
  void SetDeadline(std::optional<Clock::time_point>) {}
  bool DeadlineExpired() const { return false; }
  bool TimedOut() const { return timed_out_; }

  uint32_t LastError = 0;
  uint32_t SocketTimeout = 10000;

 private:
  Clock::time_point start_ = Clock::now();
  Clock::time_point now_ = start_;
  Clock::duration step_{};
  std::string incoming_, sent_;
  std::vector<std::string> answers_;  // the next one last
  bool in_turns_ = false;
  size_t available_ = 0;
  size_t at_ = 0;
  size_t piece_ = 1;
  bool connected_ = false;
  End end_ = End::kClose;
  bool timed_out_ = false;
  int connections_ = 0;
  bool peer_closed_ = false;
  size_t answered_ = 0;
  size_t close_after_ = static_cast<size_t>(-1);
};

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_MEMORY_SOCKET_H_
