// The socket's bounded operations and the error numbers they report.
#include "http/evt_sync_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <thread>

#include "base/utf.h"
#include "tests/support/script_server.h"

namespace hv {
namespace {

using testing::ScriptServer;
using testing::Step;

TEST(EvtSyncSocket, ConnectedObjectReturnsAtOnceWhateverTheHost) {
  ScriptServer server({{Step::Hold()}});
  ZEvtSyncSocket socket;
  ASSERT_TRUE(socket.OpenConnection(HV_W("127.0.0.1"), server.port()));
  EXPECT_EQ(socket.GetLastError(), 0u);
  EXPECT_TRUE(socket.OpenConnection(HV_W("host.that.is.never.asked"), 1));
}

TEST(EvtSyncSocket, UnresolvableNameReportsTheResolverCode) {
  ZEvtSyncSocket socket;
  // A label this long is refused by the resolver without asking any server.
  WString name = Utf8ToWide(std::string(300, 'a'));
  EXPECT_FALSE(socket.OpenConnection(name, 80));
  EXPECT_GE(socket.GetLastError(), 11001u);
  EXPECT_LE(socket.GetLastError(), 11004u);
  EXPECT_FALSE(socket.connected());
}

// A lookup that outlasts the deadline (here an override that sleeps past
// it) starts no connect: the listener sees no connection, and the failure is
// reported as the deadline's.
TEST(EvtSyncSocket, NoConnectStartsAfterALookupThatOutlastsTheDeadline) {
  struct SlowLookup : ZEvtSyncSocket {
    uint32_t Resolve(const std::string& host, uint16_t port, uint32_t timeout_ms,
                     platform::AddressList* addresses) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(120));
      return ZEvtSyncSocket::Resolve(host, port, timeout_ms, addresses);
    }
  };
  platform::TcpListener listener;
  ASSERT_EQ(listener.Listen(0), 0u);
  SlowLookup socket;
  socket.SetDeadline(ZEvtSyncSocket::Clock::now() + std::chrono::milliseconds(40));
  EXPECT_FALSE(socket.OpenConnection(HV_W("127.0.0.1"), listener.port()));
  EXPECT_FALSE(socket.connected());
  EXPECT_TRUE(socket.DeadlineExpired());
  EXPECT_EQ(socket.GetLastError(), 10060u);
  platform::TcpSocket accepted;
  uint32_t error = 0;
  EXPECT_EQ(listener.Accept(100, &accepted, &error), platform::IoStatus::kTimedOut);
}

// Every address the lookup gives is tried, within the same deadline, until
// one accepts: here the first refuses and the second accepts.
TEST(EvtSyncSocket, EachResolvedAddressIsTriedUntilOneAccepts) {
  struct RefusedFirst : ZEvtSyncSocket {
    uint16_t refused = 0;
    uint32_t Resolve(const std::string& host, uint16_t port, uint32_t timeout_ms,
                     platform::AddressList* addresses) override {
      platform::AddressList listening;
      uint32_t rc = addresses->Resolve(host, std::to_string(refused), timeout_ms);
      if (rc == 0) rc = listening.Resolve(host, std::to_string(port), timeout_ms);
      addresses->Append(listening);
      return rc;
    }
  };
  platform::TcpListener listener;
  ASSERT_EQ(listener.Listen(0), 0u);
  RefusedFirst socket;
  {
    ScriptServer gone({});
    socket.refused = gone.port();
  }
  socket.SocketTimeout = 2000;
  socket.SetDeadline(ZEvtSyncSocket::Clock::now() + std::chrono::seconds(5));
  EXPECT_TRUE(socket.OpenConnection(HV_W("127.0.0.1"), listener.port()));
  EXPECT_TRUE(socket.connected());
  platform::TcpSocket accepted;
  uint32_t error = 0;
  EXPECT_EQ(listener.Accept(2000, &accepted, &error), platform::IoStatus::kOk);
}

TEST(EvtSyncSocket, RefusedConnectionReportsTenThousandSixtyOne) {
  uint16_t port;
  {
    ScriptServer gone({});
    port = gone.port();
  }
  ZEvtSyncSocket socket;
  socket.SocketTimeout = 2000;
  EXPECT_FALSE(socket.OpenConnection(HV_W("127.0.0.1"), port));
  EXPECT_EQ(socket.GetLastError(), 10061u);
}

// A connect that never completes (a listener whose queue is full: the
// system drops the handshake) fails with WSAETIMEDOUT; it once left
// LastError at 0.
TEST(EvtSyncSocket, ConnectThatNeverCompletesTimesOutWithWsaeTimedOut) {
  platform::TcpListener listener;  // never accepts
  ASSERT_EQ(listener.Listen(0), 0u);
  std::vector<std::unique_ptr<ZEvtSyncSocket>> queued;
  for (int i = 0; i < 200; ++i) {
    queued.push_back(std::make_unique<ZEvtSyncSocket>());
    queued.back()->SocketTimeout = 300;
    if (!queued.back()->OpenConnection(HV_W("127.0.0.1"), listener.port())) break;
  }
  ASSERT_LT(queued.size(), 200u) << "the listener's queue never filled";
  EXPECT_EQ(queued.back()->GetLastError(), 10060u);
}

// A wait that runs out says so: it once left LastError unchanged (0 after
// a fresh connect), and the log read "GetLastError is 0".
TEST(EvtSyncSocket, SilentPeerTimesOutWithWsaeTimedOut) {
  ScriptServer server({{Step::Hold()}});
  ZEvtSyncSocket socket;
  socket.SocketTimeout = 300;
  ASSERT_TRUE(socket.OpenConnection(HV_W("127.0.0.1"), server.port()));
  socket.LastError = 4242;
  char buffer[16];
  size_t size = sizeof buffer;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(socket.ReceiveInto(buffer, &size));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(280));
  EXPECT_EQ(socket.GetLastError(), 10060u);
}

// A timed-out operation ends the connection: its late bytes must never be
// read as the answer to a later request.
TEST(EvtSyncSocket, TimedOutReceiveClosesTheConnection) {
  ScriptServer server({{Step::Hold()}});
  ZEvtSyncSocket socket;
  socket.SocketTimeout = 200;
  ASSERT_TRUE(socket.OpenConnection(HV_W("127.0.0.1"), server.port()));
  char buffer[16];
  size_t size = sizeof buffer;
  EXPECT_FALSE(socket.ReceiveInto(buffer, &size));
  EXPECT_FALSE(socket.connected());
  ZEvtSyncSocket::SendBuffer request{1, "x"};
  size_t sent = 0;
  EXPECT_FALSE(socket.SendBuffers(&request, 1, &sent));
  EXPECT_EQ(socket.GetLastError(), 10057u);
}

TEST(EvtSyncSocket, PeerCloseIsAnEmptySuccessfulReceive) {
  ScriptServer server({{Step::Close()}});
  ZEvtSyncSocket socket;
  socket.SocketTimeout = 2000;
  ASSERT_TRUE(socket.OpenConnection(HV_W("127.0.0.1"), server.port()));
  char buffer[16];
  size_t size = sizeof buffer;
  EXPECT_TRUE(socket.ReceiveInto(buffer, &size));
  EXPECT_EQ(size, 0u);
}

TEST(EvtSyncSocket, SendAndReceiveWithoutConnectionReportNotConnected) {
  ZEvtSyncSocket socket;
  ZEvtSyncSocket::SendBuffer buffer{1, "x"};
  size_t sent = 7;
  EXPECT_FALSE(socket.SendBuffers(&buffer, 1, &sent));
  EXPECT_EQ(sent, 0u);
  EXPECT_EQ(socket.GetLastError(), 10057u);
  char data[4];
  size_t size = sizeof data;
  socket.LastError = 0;
  EXPECT_FALSE(socket.ReceiveInto(data, &size));
  EXPECT_EQ(socket.GetLastError(), 10057u);
}

TEST(EvtSyncSocket, DeadlineCutsTheWaitBelowTheTimeout) {
  ScriptServer server({{Step::Hold()}});
  ZEvtSyncSocket socket;
  socket.SocketTimeout = 5000;
  ASSERT_TRUE(socket.OpenConnection(HV_W("127.0.0.1"), server.port()));
  socket.SetDeadline(ZEvtSyncSocket::Clock::now() + std::chrono::milliseconds(200));
  char buffer[16];
  size_t size = sizeof buffer;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(socket.ReceiveInto(buffer, &size));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

// Only an idle connection may carry another request: a queued byte or the
// peer's close makes it unfit, and looking consumes nothing.
TEST(EvtSyncSocket, IdleOnlyWhileNothingIsQueuedAndThePeerHasNotClosed) {
  ScriptServer server({{Step::Read(), Step::Send("ab"), Step::Read(), Step::Close()}});
  ZEvtSyncSocket socket;
  socket.SocketTimeout = 2000;
  ASSERT_TRUE(socket.OpenConnection(HV_W("127.0.0.1"), server.port()));
  EXPECT_TRUE(socket.IsIdle());
  auto request_then_wait = [&] {
    ZEvtSyncSocket::SendBuffer request{5, "x\r\n\r\n"};
    size_t sent = 0;
    ASSERT_TRUE(socket.SendBuffers(&request, 1, &sent));
    for (int i = 0; i < 300 && socket.IsIdle(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(socket.IsIdle());
  };
  request_then_wait();
  char buffer[8];
  size_t size = sizeof buffer;
  ASSERT_TRUE(socket.ReceiveInto(buffer, &size));
  EXPECT_EQ(std::string(buffer, size), "ab");
  EXPECT_TRUE(socket.IsIdle());
  request_then_wait();
  size = sizeof buffer;
  EXPECT_TRUE(socket.ReceiveInto(buffer, &size));
  EXPECT_EQ(size, 0u);
}

// A peer that keeps the queue full must still be cut off: once the
// deadline has passed, no receive or send reads or writes another byte,
// whatever is already waiting on the socket.
TEST(EvtSyncSocket, NothingIsReadOrSentAfterTheDeadlineEvenWithBytesQueued) {
  ScriptServer server({{Step::Send(std::string(64, 'q')), Step::Hold()}});
  ZEvtSyncSocket socket;
  socket.SocketTimeout = 2000;
  ASSERT_TRUE(socket.OpenConnection(HV_W("127.0.0.1"), server.port()));
  char buffer[16];
  size_t size = 1;
  ASSERT_TRUE(socket.ReceiveInto(buffer, &size));  // the bytes are queued now
  ASSERT_EQ(size, 1u);
  socket.SetDeadline(ZEvtSyncSocket::Clock::now() - std::chrono::milliseconds(1));
  size = sizeof buffer;
  EXPECT_FALSE(socket.ReceiveInto(buffer, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(socket.DeadlineExpired());
  EXPECT_FALSE(socket.connected());
  ZEvtSyncSocket late;
  late.SetDeadline(ZEvtSyncSocket::Clock::now() - std::chrono::milliseconds(1));
  EXPECT_FALSE(late.OpenConnection(HV_W("127.0.0.1"), server.port()));
}

}  // namespace
}  // namespace hv
