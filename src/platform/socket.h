// TCP sockets with a bounded wait for every operation.
//
// Errors are reported as Windows socket error numbers on every platform
// (10061 connection refused, 10060 timed out, 11001 host not found, ...),
// so that callers and the log read the same codes everywhere. Each platform
// file translates its native codes in exactly one function.
//
// Ownership: TcpSocket owns its system handle and releases it on
// destruction (RAII); it can be moved, not copied. AddressList holds plain
// copies of the resolver's addresses (the resolver's own list is freed
// within Resolve) and can be copied.
// Thread-safety: one object is used by one thread at a time; StartSockets()
// may be called from any number of threads at once.
#ifndef HV_PLATFORM_SOCKET_H_
#define HV_PLATFORM_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hv::platform {

// Error numbers the portable code needs by name.
constexpr uint32_t kSocketNotConnected = 10057;  // WSAENOTCONN
constexpr uint32_t kSocketTimedOut = 10060;      // WSAETIMEDOUT
constexpr uint32_t kSocketReset = 10054;         // WSAECONNRESET: also a body cut by a close
constexpr uint32_t kSocketBadName = 0xFFFFFFFF;  // host text not convertible

// Starts the platform socket library once per process. Returns 0 or the
// platform error; after a failure a later call tries again.
uint32_t StartSockets();

// One address of a lookup, as the system's connect takes it.
struct Address {
  int family = 0;
  int socktype = 0;
  int protocol = 0;
  std::vector<unsigned char> bytes;  // the socket address, laid out by the system
};

// The result of one lookup: its addresses, in the resolver's order.
class AddressList {
 public:
  // Looks `host` (no brackets around IPv6 literals) and the decimal `port`
  // up: any family, stream sockets. Returns 0 or the resolver's error, or
  // kSocketTimedOut after `timeout_ms` when the resolver has not answered
  // by then (the lookup is abandoned; see platform/name_lookup.h).
  uint32_t Resolve(const std::string& host, const std::string& port, uint32_t timeout_ms);
  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  // Null past the end.
  const Address* at(size_t index) const { return index < entries_.size() ? &entries_[index] : nullptr; }
  // Adds `other`'s addresses after these (tests compose lists this way).
  void Append(const AddressList& other) { entries_.insert(entries_.end(), other.entries_.begin(), other.entries_.end()); }

 private:
  std::vector<Address> entries_;
};

enum class IoStatus {
  kOk,        // done; the byte count is valid
  kFailed,    // failed with the error number given
  kTimedOut,  // the wait ran out; no error number
};

class TcpSocket {
 public:
  TcpSocket();
  ~TcpSocket();
  TcpSocket(TcpSocket&&) noexcept;
  TcpSocket& operator=(TcpSocket&&) noexcept;

  bool exists() const;

  // Creates a non-blocking socket for address `index` of `addresses`
  // (closing any socket it had). Returns 0 or the platform error.
  uint32_t Create(const AddressList& addresses, size_t index);

  // Connects to address `index`, waiting at most `timeout_ms`.
  IoStatus Connect(const AddressList& addresses, size_t index, uint32_t timeout_ms,
                   uint32_t* error);

  // Sends all `size` bytes, waiting at most `timeout_ms` in all; `*sent`
  // receives the bytes the system took.
  IoStatus Send(const char* data, size_t size, uint32_t timeout_ms, size_t* sent,
                uint32_t* error);

  // Receives at most `size` bytes, waiting at most `timeout_ms`; 0 bytes
  // means the peer closed its side. When the call returns, no operation is
  // left running that could still write into `buffer`.
  IoStatus Receive(char* buffer, size_t size, uint32_t timeout_ms, size_t* received,
                   uint32_t* error);

  // True when nothing could be read now: no byte queued, no end and no
  // error from the peer. Never waits and consumes nothing; false without a
  // socket.
  bool IsIdle() const;

  // Closes the socket; nothing happens without one.
  void Close();

  struct Impl;

 private:
  friend class TcpListener;
  friend void ResetAndClose(TcpSocket* socket);
  std::unique_ptr<Impl> impl_;
};

// A listening socket on the loopback interface, for the reference servers
// and test servers of the project. Same ownership and error rules as above.
class TcpListener {
 public:
  TcpListener();
  ~TcpListener();

  // Listens on 127.0.0.1:`port`, or on [::1]:`port` when `ipv6` (0 picks a
  // free port). Returns 0 or error.
  uint32_t Listen(uint16_t port, bool ipv6 = false);
  uint16_t port() const;

  // Waits at most `timeout_ms` for a connection. kOk fills `*connection`.
  IoStatus Accept(uint32_t timeout_ms, TcpSocket* connection, uint32_t* error);

  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Ends the connection with a reset instead of an orderly close.
void ResetAndClose(TcpSocket* socket);

}  // namespace hv::platform

#endif  // HV_PLATFORM_SOCKET_H_
