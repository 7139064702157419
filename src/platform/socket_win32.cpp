// Windows implementation of platform/socket.h: a non-blocking socket bound
// by event selection, overlapped send and receive completing into event
// objects, and waits on those events bounded by the caller's time-out.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <utility>

#include "platform/lock.h"
#include "platform/address_info.h"

namespace hv::platform {
namespace {

// Winsock already reports Windows socket error numbers; this is the one
// place where a native code becomes our error number.
uint32_t ToSocketError(int code) { return static_cast<uint32_t>(code); }

uint32_t LastError() { return ToSocketError(WSAGetLastError()); }

// Owns one event object.
class Event {
 public:
  Event() = default;
  ~Event() { Reset(); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  bool Create(bool signalled) {
    Reset();
    handle_ = CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
    return handle_ != nullptr;
  }
  void Reset() {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

// The process-wide start-up of Winsock, repeated until it once succeeds.
// The reference it takes is kept for the life of the process: WSACleanup
// at unload would run inside the loader's lock (a static destructor runs
// from DllMain), where the system forbids it, since it may unload helper
// libraries and deadlock. Constant-initialised, with nothing to destroy.
class SocketLibrary {
 public:
  uint32_t Start() {
    LockHold hold(lock_);
    if (started_) return 0;
    WSADATA data;
    int rc = WSAStartup(MAKEWORD(2, 0), &data);
    if (rc != 0) return ToSocketError(rc);
    started_ = true;
    return 0;
  }

 private:
  Lock lock_;
  bool started_ = false;
};

SocketLibrary g_library;

SocketLibrary& Library() { return g_library; }

// Waits for an overlapped operation started on `s` with `ov`. On time-out
// the operation is cancelled and waited for, so that it never completes
// into the caller's buffer after the call has returned.
IoStatus FinishOverlapped(SOCKET s, OVERLAPPED* ov, uint32_t timeout_ms, DWORD* count,
                          uint32_t* error) {
  DWORD flags = 0;
  DWORD wait = WaitForSingleObject(ov->hEvent, timeout_ms);
  if (wait != WAIT_OBJECT_0) {
    CancelIoEx(reinterpret_cast<HANDLE>(s), ov);
    // Wait for the cancellation, or for a completion that won the race.
    if (WSAGetOverlappedResult(s, ov, count, TRUE, &flags)) return IoStatus::kOk;
    return IoStatus::kTimedOut;
  }
  if (!WSAGetOverlappedResult(s, ov, count, FALSE, &flags)) {
    *error = LastError();
    return IoStatus::kFailed;
  }
  return IoStatus::kOk;
}

}  // namespace

uint32_t StartSockets() { return Library().Start(); }

uint32_t ResolverError(int native) { return ToSocketError(native); }

struct TcpSocket::Impl {
  SOCKET s = INVALID_SOCKET;
  Event read_event, write_event, connect_event;
  Lock read_lock, write_lock;
  ~Impl() { Close(); }
  void Close() {
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
    read_event.Reset();
    write_event.Reset();
    connect_event.Reset();
  }
  // Events for a socket in `s`; only connection completion stays selected,
  // which also makes the socket non-blocking.
  uint32_t BindEvents(bool connected) {
    if (!read_event.Create(true) || !write_event.Create(true) ||
        !connect_event.Create(connected)) {
      return static_cast<uint32_t>(GetLastError());
    }
    if (WSAEventSelect(s, read_event.get(), FD_READ) != 0 ||
        WSAEventSelect(s, write_event.get(), FD_WRITE) != 0 ||
        WSAEventSelect(s, connect_event.get(), FD_CONNECT) != 0) {
      return LastError();
    }
    return 0;
  }
  // Before a send or receive: the connection must have been established.
  bool WaitConnected(uint32_t timeout_ms) {
    return connect_event.get() != nullptr &&
           WaitForSingleObject(connect_event.get(), timeout_ms) == WAIT_OBJECT_0;
  }
};

TcpSocket::TcpSocket() : impl_(new Impl) {}
TcpSocket::~TcpSocket() = default;
TcpSocket::TcpSocket(TcpSocket&&) noexcept = default;
TcpSocket& TcpSocket::operator=(TcpSocket&&) noexcept = default;

bool TcpSocket::exists() const { return impl_ && impl_->s != INVALID_SOCKET; }

uint32_t TcpSocket::Create(const AddressList& addresses, size_t index) {
  const Address* a = addresses.at(index);
  if (a == nullptr) return WSAEINVAL;
  impl_->Close();
  impl_->s = WSASocketW(a->family, a->socktype, a->protocol, nullptr, 0,
                        WSA_FLAG_OVERLAPPED);
  if (impl_->s == INVALID_SOCKET) return LastError();
  BOOL one = TRUE;
  setsockopt(impl_->s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  uint32_t rc = impl_->BindEvents(false);
  if (rc != 0) impl_->Close();
  return rc;
}

IoStatus TcpSocket::Connect(const AddressList& addresses, size_t index, uint32_t timeout_ms,
                            uint32_t* error) {
  const Address* a = addresses.at(index);
  if (a == nullptr || !exists()) { *error = WSAENOTSOCK; return IoStatus::kFailed; }
  if (connect(impl_->s, reinterpret_cast<const sockaddr*>(a->bytes.data()), static_cast<int>(a->bytes.size())) == 0) {
    SetEvent(impl_->connect_event.get());
    return IoStatus::kOk;
  }
  int code = WSAGetLastError();
  if (code != WSAEWOULDBLOCK) { *error = ToSocketError(code); return IoStatus::kFailed; }
  if (WaitForSingleObject(impl_->connect_event.get(), timeout_ms) != WAIT_OBJECT_0) {
    return IoStatus::kTimedOut;
  }
  // Read the completion without resetting the event: later sends and
  // receives wait on it to learn that the connection stands.
  WSANETWORKEVENTS events{};
  if (WSAEnumNetworkEvents(impl_->s, nullptr, &events) != 0) {
    *error = LastError();
    return IoStatus::kFailed;
  }
  if ((events.lNetworkEvents & FD_CONNECT) && events.iErrorCode[FD_CONNECT_BIT] != 0) {
    *error = ToSocketError(events.iErrorCode[FD_CONNECT_BIT]);
    ResetEvent(impl_->connect_event.get());
    return IoStatus::kFailed;
  }
  return IoStatus::kOk;
}

IoStatus TcpSocket::Send(const char* data, size_t size, uint32_t timeout_ms, size_t* sent,
                         uint32_t* error) {
  *sent = 0;
  if (!exists() || !impl_->WaitConnected(timeout_ms)) {
    *error = kSocketNotConnected;
    return IoStatus::kFailed;
  }
  LockHold hold(impl_->write_lock);
  ResetEvent(impl_->write_event.get());
  OVERLAPPED ov{};
  ov.hEvent = impl_->write_event.get();
  WSABUF buffer{static_cast<ULONG>(size), const_cast<char*>(data)};
  DWORD count = 0;
  if (WSASend(impl_->s, &buffer, 1, &count, 0, &ov, nullptr) != 0 &&
      WSAGetLastError() != WSA_IO_PENDING) {
    *error = LastError();
    return IoStatus::kFailed;
  }
  IoStatus status = FinishOverlapped(impl_->s, &ov, timeout_ms, &count, error);
  if (status == IoStatus::kOk) *sent = count;
  return status;
}

IoStatus TcpSocket::Receive(char* buffer, size_t size, uint32_t timeout_ms, size_t* received,
                            uint32_t* error) {
  *received = 0;
  if (!exists() || !impl_->WaitConnected(timeout_ms)) {
    *error = kSocketNotConnected;
    return IoStatus::kFailed;
  }
  LockHold hold(impl_->read_lock);
  ResetEvent(impl_->read_event.get());
  OVERLAPPED ov{};
  ov.hEvent = impl_->read_event.get();
  WSABUF wsabuf{static_cast<ULONG>(size), buffer};
  DWORD count = 0, flags = 0;
  if (WSARecv(impl_->s, &wsabuf, 1, &count, &flags, &ov, nullptr) != 0 &&
      WSAGetLastError() != WSA_IO_PENDING) {
    *error = LastError();
    return IoStatus::kFailed;
  }
  IoStatus status = FinishOverlapped(impl_->s, &ov, timeout_ms, &count, error);
  if (status == IoStatus::kOk) *received = count;
  return status;
}

// The socket is non-blocking (event selection made it so): a peek that
// would block finds nothing queued.
bool TcpSocket::IsIdle() const {
  if (!exists()) return false;
  char byte;
  int n = recv(impl_->s, &byte, 1, MSG_PEEK);
  return n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
}

void TcpSocket::Close() {
  if (impl_) impl_->Close();
}

void ResetAndClose(TcpSocket* socket) {
  if (!socket->exists()) return;
  LINGER hard{1, 0};
  setsockopt(socket->impl_->s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
             sizeof hard);
  socket->Close();
}

struct TcpListener::Impl {
  SOCKET s = INVALID_SOCKET;
  Event accept_event;
  uint16_t port = 0;
  ~Impl() { Close(); }
  void Close() {
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
    accept_event.Reset();
  }
};

TcpListener::TcpListener() : impl_(new Impl) {}
TcpListener::~TcpListener() = default;

uint32_t TcpListener::Listen(uint16_t port, bool ipv6) {
  Close();
  uint32_t rc = StartSockets();
  if (rc != 0) return rc;
  impl_->s = WSASocketW(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED);
  if (impl_->s == INVALID_SOCKET) return LastError();
  sockaddr_storage storage;
  auto len = static_cast<int>(LoopbackAddress(port, ipv6, &storage));
  auto* any = reinterpret_cast<sockaddr*>(&storage);
  if (bind(impl_->s, any, len) != 0 || listen(impl_->s, 64) != 0 ||
      getsockname(impl_->s, any, &len) != 0 ||
      !impl_->accept_event.Create(false) ||
      WSAEventSelect(impl_->s, impl_->accept_event.get(), FD_ACCEPT) != 0) {
    uint32_t e = LastError();
    impl_->Close();
    return e;
  }
  impl_->port = PortOf(storage);
  return 0;
}

uint16_t TcpListener::port() const { return impl_->port; }

IoStatus TcpListener::Accept(uint32_t timeout_ms, TcpSocket* connection, uint32_t* error) {
  if (impl_->s == INVALID_SOCKET) { *error = WSAENOTSOCK; return IoStatus::kFailed; }
  DWORD start = GetTickCount();
  for (;;) {
    SOCKET s = accept(impl_->s, nullptr, nullptr);
    if (s != INVALID_SOCKET) {
      connection->Close();
      connection->impl_->s = s;
      BOOL one = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
      uint32_t rc = connection->impl_->BindEvents(true);
      if (rc != 0) {
        connection->Close();
        *error = rc;
        return IoStatus::kFailed;
      }
      return IoStatus::kOk;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) { *error = LastError(); return IoStatus::kFailed; }
    DWORD spent = GetTickCount() - start;
    if (spent >= timeout_ms) return IoStatus::kTimedOut;
    if (WaitForSingleObject(impl_->accept_event.get(), timeout_ms - spent) != WAIT_OBJECT_0) {
      return IoStatus::kTimedOut;
    }
    WSANETWORKEVENTS events{};
    WSAEnumNetworkEvents(impl_->s, impl_->accept_event.get(), &events);
  }
}

void TcpListener::Close() { impl_->Close(); }

}  // namespace hv::platform
