// POSIX implementation of platform/socket.h: non-blocking sockets and
// poll() with the remaining time for each wait. Never busy-waits.
#include "platform/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>

#include "platform/address_info.h"

namespace hv::platform {
namespace {

// The one translation of native error numbers into Windows socket error
// numbers. errno values below 35 share their numbering with the BSD codes
// Winsock was derived from, so 10000 + errno is right for them; anything
// else unknown becomes WSASYSCALLFAILURE (10107).
uint32_t ToSocketError(int code, bool resolver) {
  if (resolver) {
    switch (code) {
      case 0: return 0;
      case EAI_NONAME: return 11001;   // WSAHOST_NOT_FOUND
#ifdef EAI_NODATA
      case EAI_NODATA: return 11004;   // WSANO_DATA
#endif
      case EAI_AGAIN: return 11002;    // WSATRY_AGAIN
      case EAI_FAIL: return 11003;     // WSANO_RECOVERY
      case EAI_SERVICE: return 10109;  // WSATYPE_NOT_FOUND
      case EAI_FAMILY: return 10047;   // WSAEAFNOSUPPORT
      case EAI_SOCKTYPE: return 10044; // WSAESOCKTNOSUPPORT
      case EAI_BADFLAGS: return 10022; // WSAEINVAL
      case EAI_MEMORY: return 8;       // WSA_NOT_ENOUGH_MEMORY
      case EAI_SYSTEM: return ToSocketError(errno, false);
      default: return 11003;
    }
  }
  switch (code) {
    case 0: return 0;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case EOPNOTSUPP: return 10045;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case EPIPE: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOMEM: return 8;
    default: return code > 0 && code < 35 ? 10000u + static_cast<uint32_t>(code) : 10107u;
  }
}

uint32_t LastError() { return ToSocketError(errno, false); }

using Clock = std::chrono::steady_clock;

// Waits for `events` on `fd` for at most the time left until `deadline`.
// Returns 1 when ready, 0 on time-out, -1 on error (errno set); `revents`,
// when given, receives what poll reported.
int WaitFor(int fd, short events, Clock::time_point deadline, short* revents = nullptr) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    int timeout = left.count() <= 0 ? 0 : static_cast<int>(left.count());
    struct pollfd p {fd, events, 0};
    int n = poll(&p, 1, timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n;
    if (revents != nullptr) *revents = p.revents;
    return 1;
  }
}

Clock::time_point DeadlineAfter(uint32_t timeout_ms) {
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

}  // namespace

uint32_t StartSockets() { return 0; }

uint32_t ResolverError(int native) { return ToSocketError(native, true); }

struct TcpSocket::Impl {
  int fd = -1;
  // A request was just sent: its answer cannot be there yet, so the next
  // receive waits first instead of trying a read that must fail.
  bool awaiting_answer = false;
  ~Impl() { if (fd >= 0) close(fd); }
};

TcpSocket::TcpSocket() : impl_(new Impl) {}
TcpSocket::~TcpSocket() = default;
TcpSocket::TcpSocket(TcpSocket&&) noexcept = default;
TcpSocket& TcpSocket::operator=(TcpSocket&&) noexcept = default;

bool TcpSocket::exists() const { return impl_ && impl_->fd >= 0; }

uint32_t TcpSocket::Create(const AddressList& addresses, size_t index) {
  const Address* a = addresses.at(index);
  if (a == nullptr) return 10022;
  int fd = socket(a->family, a->socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->protocol);
  if (fd < 0) return LastError();
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Close();
  impl_->fd = fd;
  impl_->awaiting_answer = false;
  return 0;
}

IoStatus TcpSocket::Connect(const AddressList& addresses, size_t index, uint32_t timeout_ms,
                            uint32_t* error) {
  const Address* a = addresses.at(index);
  if (a == nullptr || !exists()) { *error = 10038; return IoStatus::kFailed; }
  int rc;
  do {
    rc = connect(impl_->fd, reinterpret_cast<const sockaddr*>(a->bytes.data()),
                 static_cast<socklen_t>(a->bytes.size()));
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return IoStatus::kOk;
  if (errno != EINPROGRESS) { *error = LastError(); return IoStatus::kFailed; }
  short revents = 0;
  int ready = WaitFor(impl_->fd, POLLOUT, DeadlineAfter(timeout_ms), &revents);
  if (ready == 0) return IoStatus::kTimedOut;
  if (ready < 0) { *error = LastError(); return IoStatus::kFailed; }
  // Writable without error or hang-up: the connection is up, and asking for
  // its error would only say 0.
  if (revents == POLLOUT) return IoStatus::kOk;
  int so_error = 0;
  socklen_t len = sizeof so_error;
  getsockopt(impl_->fd, SOL_SOCKET, SO_ERROR, &so_error, &len);
  if (so_error != 0) { *error = ToSocketError(so_error, false); return IoStatus::kFailed; }
  return IoStatus::kOk;
}

IoStatus TcpSocket::Send(const char* data, size_t size, uint32_t timeout_ms, size_t* sent,
                         uint32_t* error) {
  *sent = 0;
  if (!exists()) { *error = kSocketNotConnected; return IoStatus::kFailed; }
  auto deadline = DeadlineAfter(timeout_ms);
  while (*sent < size) {
    ssize_t n = send(impl_->fd, data + *sent, size - *sent, MSG_NOSIGNAL);
    if (n >= 0) { *sent += static_cast<size_t>(n); continue; }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) { *error = LastError(); return IoStatus::kFailed; }
    int ready = WaitFor(impl_->fd, POLLOUT, deadline);
    if (ready == 0) return IoStatus::kTimedOut;
    if (ready < 0) { *error = LastError(); return IoStatus::kFailed; }
  }
  impl_->awaiting_answer = true;
  return IoStatus::kOk;
}

IoStatus TcpSocket::Receive(char* buffer, size_t size, uint32_t timeout_ms, size_t* received,
                            uint32_t* error) {
  *received = 0;
  if (!exists()) { *error = kSocketNotConnected; return IoStatus::kFailed; }
  auto deadline = DeadlineAfter(timeout_ms);
  if (impl_->awaiting_answer) {
    impl_->awaiting_answer = false;
    int ready = WaitFor(impl_->fd, POLLIN, deadline);
    if (ready == 0) return IoStatus::kTimedOut;
    if (ready < 0) { *error = LastError(); return IoStatus::kFailed; }
  }
  for (;;) {
    ssize_t n = recv(impl_->fd, buffer, size, 0);
    if (n >= 0) { *received = static_cast<size_t>(n); return IoStatus::kOk; }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) { *error = LastError(); return IoStatus::kFailed; }
    int ready = WaitFor(impl_->fd, POLLIN, deadline);
    if (ready == 0) return IoStatus::kTimedOut;
    if (ready < 0) { *error = LastError(); return IoStatus::kFailed; }
  }
}

bool TcpSocket::IsIdle() const {
  if (!exists()) return false;
  char byte;
  ssize_t n;
  do {
    n = recv(impl_->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

void TcpSocket::Close() {
  if (impl_ && impl_->fd >= 0) {
    close(impl_->fd);
    impl_->fd = -1;
  }
}

void ResetAndClose(TcpSocket* socket) {
  if (!socket->exists()) return;
  struct linger hard {1, 0};
  setsockopt(socket->impl_->fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  socket->Close();
}

struct TcpListener::Impl {
  int fd = -1;
  uint16_t port = 0;
  ~Impl() { if (fd >= 0) close(fd); }
};

TcpListener::TcpListener() : impl_(new Impl) {}
TcpListener::~TcpListener() = default;

uint32_t TcpListener::Listen(uint16_t port, bool ipv6) {
  Close();
  int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return LastError();
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage storage;
  auto len = static_cast<socklen_t>(LoopbackAddress(port, ipv6, &storage));
  auto* any = reinterpret_cast<sockaddr*>(&storage);
  if (bind(fd, any, len) != 0 || listen(fd, 64) != 0 || getsockname(fd, any, &len) != 0) {
    uint32_t e = LastError();
    close(fd);
    return e;
  }
  impl_->fd = fd;
  impl_->port = PortOf(storage);
  return 0;
}

uint16_t TcpListener::port() const { return impl_->port; }

IoStatus TcpListener::Accept(uint32_t timeout_ms, TcpSocket* connection, uint32_t* error) {
  if (impl_->fd < 0) { *error = 10038; return IoStatus::kFailed; }
  auto deadline = DeadlineAfter(timeout_ms);
  for (;;) {
    int fd = accept4(impl_->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      connection->Close();
      connection->impl_->fd = fd;
      return IoStatus::kOk;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) { *error = LastError(); return IoStatus::kFailed; }
    int ready = WaitFor(impl_->fd, POLLIN, deadline);
    if (ready == 0) return IoStatus::kTimedOut;
    if (ready < 0) { *error = LastError(); return IoStatus::kFailed; }
  }
}

void TcpListener::Close() {
  if (impl_->fd >= 0) {
    close(impl_->fd);
    impl_->fd = -1;
  }
}

}  // namespace hv::platform
