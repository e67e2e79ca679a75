// The generic listener and connection on loopback: listening and its
// failures, stopping a blocked accept, the connection table, the liveness
// probe, whole sends and the receive wake-up.
#include "client/SocketListener.h"
#include "tests/support/WaitFor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace paxelle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 20s;

using testing::WaitFor;

UniqueFd ConnectTo(int port) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) socket.Reset();
  return socket;
}

// Closes with an RST instead of a FIN.
void ResetConnection(UniqueFd& socket) {
  const linger abortive{1, 0};
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  socket.Reset();
}

// Reads until the peer closes or `count` bytes arrived.
std::size_t ReadAll(int fd, std::size_t count) {
  std::size_t total = 0;
  char buffer[65536];
  while (total < count) {
    pollfd descriptor{fd, POLLIN, 0};
    if (::poll(&descriptor, 1, 20000) <= 0) break;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

// A connection that runs the test's script on its thread.
class ScriptedConnection final : public CSocketConnection {
 public:
  using Script = std::function<void(CSocketConnection&, bool refused)>;
  explicit ScriptedConnection(Script script) : script_(std::move(script)) {}
  void Serve() override { script_(*this, false); }
  void Refuse() override { script_(*this, true); }

 private:
  Script script_;
};

class ScriptedListener final : public CSocketListener {
 public:
  explicit ScriptedListener(ScriptedConnection::Script script) : script_(std::move(script)) {}
  ~ScriptedListener() override { Shutdown(); }

 protected:
  std::unique_ptr<CSocketConnection> CreateConnection() override {
    return std::make_unique<ScriptedConnection>(script_);
  }

 private:
  ScriptedConnection::Script script_;
};

TEST(SocketListener, ListensOnAFreePortAndRefusesOneInUse) {
  CSocketListener first;
  EXPECT_EQ(first.Port(), -1);
  ASSERT_EQ(first.Listen(0), kListenOk) << first.LastError();
  ASSERT_GT(first.Port(), 0);

  CSocketListener second;
  EXPECT_EQ(second.Listen(first.Port()), kListenBindFailed);
  EXPECT_FALSE(second.LastError().empty());
  EXPECT_EQ(second.Port(), -1);
}

TEST(SocketListener, RefusesAPortOutOfRange) {
  CSocketListener listener;
  EXPECT_EQ(listener.Listen(65536), kListenBindFailed);
  EXPECT_EQ(listener.Listen(-1), kListenBindFailed);
  EXPECT_EQ(listener.Port(), -1);
  EXPECT_EQ(listener.Start(), 1);  // not listening
}

TEST(SocketListener, ConnectionLimitStaysWithinItsRange) {
  CSocketListener listener;
  EXPECT_EQ(listener.ConnectionLimit(), 20);
  EXPECT_EQ(listener.SetConnectionLimit(0), -1);
  EXPECT_EQ(listener.SetConnectionLimit(32001), -1);
  EXPECT_EQ(listener.ConnectionLimit(), 20);
  EXPECT_EQ(listener.SetConnectionLimit(1), 1);
  EXPECT_EQ(listener.SetConnectionLimit(32000), 32000);
  EXPECT_EQ(listener.ConnectionLimit(), 32000);
}

TEST(SocketListener, StopWakesABlockedAcceptAndStartResumes) {
  CSocketListener neverStarted;
  EXPECT_EQ(neverStarted.Stop(), 0);

  std::atomic<int> served{0};
  ScriptedListener listener([&](CSocketConnection&, bool) { ++served; });
  ASSERT_EQ(listener.Listen(0), kListenOk);
  ASSERT_EQ(listener.Start(), 0);
  EXPECT_EQ(listener.Start(), 1);
  EXPECT_TRUE(listener.IsRunning());
  std::this_thread::sleep_for(50ms);  // a pause, not a wait: the stop should find the loop blocked

  const auto before = Clock::now();
  EXPECT_EQ(listener.Stop(), 0);
  // A generous bound: the stop is a wake-up, not a poll interval.
  EXPECT_LT(Clock::now() - before, 2s);
  EXPECT_FALSE(listener.IsRunning());

  ASSERT_EQ(listener.Start(), 0);
  UniqueFd client = ConnectTo(listener.Port());
  ASSERT_TRUE(client.IsValid());
  EXPECT_TRUE(WaitFor("the connection to be served", [&] { return served.load() == 1; }, kPatience));
}

TEST(SocketListener, ClientThatClosesAtOnceIsServedAndUnregistered) {
  std::promise<bool> alive;
  std::atomic<bool> answered{false};
  ScriptedListener listener([&](CSocketConnection& connection, bool) {
    // Wait for the close to arrive, then probe.
    char byte;
    connection.Receive(&byte, 0, 5s);
    if (!answered.exchange(true)) alive.set_value(connection.IsAlive());
  });
  ASSERT_EQ(listener.Listen(0), kListenOk);
  ASSERT_EQ(listener.Start(), 0);
  ConnectTo(listener.Port());  // closed at once
  auto result = alive.get_future();
  ASSERT_EQ(result.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(result.get());
  EXPECT_TRUE(WaitFor("every connection to end", [&] { return listener.ConnectionCount() == 0; }, kPatience));
}

// Runs `probe` on the served connection while the test holds the client end.
class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = std::make_unique<ScriptedListener>([this](CSocketConnection& connection, bool) {
      std::unique_lock<std::mutex> lock(mutex_);
      connection_ = &connection;
      changed_.notify_all();
      changed_.wait_for(lock, kPatience, [this] { return released_; });
      connection_ = nullptr;
    });
    ASSERT_EQ(listener_->Listen(0), kListenOk);
    ASSERT_EQ(listener_->Start(), 0);
  }
  void TearDown() override {
    Release();
    listener_.reset();
  }

  // Connects a client and waits until its connection is being served.
  UniqueFd ConnectClient() {
    UniqueFd client = ConnectTo(listener_->Port());
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kPatience, [this] { return connection_ != nullptr; });
    return client;
  }
  CSocketConnection& Connection() { return *connection_; }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  std::unique_ptr<ScriptedListener> listener_;
  std::mutex mutex_;
  std::condition_variable changed_;
  CSocketConnection* connection_ = nullptr;
  bool released_ = false;
};

TEST_F(ProbeTest, IdleConnectionIsAliveAndOrderlyCloseIsDead) {
  UniqueFd client = ConnectClient();
  ASSERT_NE(connection_, nullptr);
  EXPECT_TRUE(Connection().IsAlive());
  EXPECT_EQ(Connection().PeerAddressText(), "127.0.0.1");
  EXPECT_GE(Connection().SocketNumber(), 0);

  // Unread bytes keep it alive; once read and closed, it is dead.
  ASSERT_EQ(::send(client.Get(), "hi", 2, MSG_NOSIGNAL), 2);
  ::shutdown(client.Get(), SHUT_WR);
  EXPECT_TRUE(Connection().IsAlive());
  char buffer[8];
  EXPECT_EQ(Connection().Receive(buffer, sizeof buffer, 5s), 2);
  EXPECT_TRUE(WaitFor("the connection to die", [&] { return !Connection().IsAlive(); }, kPatience));
}

TEST_F(ProbeTest, ResetConnectionIsDead) {
  UniqueFd client = ConnectClient();
  ASSERT_NE(connection_, nullptr);
  ResetConnection(client);
  EXPECT_TRUE(WaitFor("the connection to die", [&] { return !Connection().IsAlive(); }, kPatience));
}

TEST_F(ProbeTest, SendDeliversEveryByteToASlowReader) {
  UniqueFd client = ConnectClient();
  ASSERT_NE(connection_, nullptr);
  // Far more than the socket buffers hold: one send call cannot take it all.
  const std::string text(16 * 1024 * 1024, 'p');
  std::atomic<int> sent{0};
  std::thread sender([&] { sent = Connection().Send(text); });
  // The slow reader: the sender should find the buffers full and have to wait for room.
  std::this_thread::sleep_for(100ms);
  const std::size_t received = ReadAll(client.Get(), text.size());
  sender.join();
  EXPECT_EQ(sent.load(), static_cast<int>(text.size()));
  EXPECT_EQ(received, text.size());
}

TEST_F(ProbeTest, SendToAResetPeerFails) {
  UniqueFd client = ConnectClient();
  ASSERT_NE(connection_, nullptr);
  ResetConnection(client);
  ASSERT_TRUE(WaitFor("the connection to die", [&] { return !Connection().IsAlive(); }, kPatience));
  EXPECT_EQ(Connection().Send("late answer"), -1);
}

TEST_F(ProbeTest, WakeSignalCutsAReceiveShort) {
  UniqueFd client = ConnectClient();
  ASSERT_NE(connection_, nullptr);
  auto wake = std::make_shared<WakeSignal>();
  ASSERT_TRUE(wake->IsValid());
  Connection().SetWakeSignal(wake);
  std::thread waker([&] {
    // A pause, not a wait: the signal should find the receive blocked.
    std::this_thread::sleep_for(50ms);
    wake->Signal();
  });
  char buffer[8];
  // Without the wake-up this would wait the full minute.
  EXPECT_EQ(Connection().Receive(buffer, sizeof buffer, 60s), 0);
  waker.join();
  EXPECT_FALSE(wake->Clear());  // the receive consumed it
  EXPECT_TRUE(Connection().IsAlive());
}

TEST_F(ProbeTest, GoingOfflineIsSeenByTheConnection) {
  UniqueFd client = ConnectClient();
  ASSERT_NE(connection_, nullptr);
  EXPECT_FALSE(Connection().IsGoingOffline());
  listener_->SetGoingOffline();
  EXPECT_TRUE(Connection().IsGoingOffline());
  EXPECT_TRUE(listener_->IsGoingOffline());
}

TEST(SocketListener, LimitOfOneHandsTheSecondClientToRefuse) {
  std::atomic<int> served{0};
  std::atomic<int> refused{0};
  std::atomic<bool> release{false};
  ScriptedListener listener([&](CSocketConnection&, bool isRefused) {
    ++(isRefused ? refused : served);
    WaitFor("the release", [&] { return release.load(); }, kPatience);
  });
  ASSERT_EQ(listener.SetConnectionLimit(1), 1);
  ASSERT_EQ(listener.Listen(0), kListenOk);
  ASSERT_EQ(listener.Start(), 0);
  UniqueFd first = ConnectTo(listener.Port());
  ASSERT_TRUE(WaitFor("the connection to be served", [&] { return served.load() == 1; }, kPatience));
  UniqueFd second = ConnectTo(listener.Port());
  ASSERT_TRUE(WaitFor("the refusal", [&] { return refused.load() == 1; }, kPatience));
  EXPECT_EQ(listener.ConnectionCount(), 2);
  release = true;
  EXPECT_TRUE(WaitFor("every connection to end", [&] { return listener.ConnectionCount() == 0; }, kPatience));
}

TEST(SocketListener, DestructionWaitsForEveryConnection) {
  std::atomic<int> ended{0};
  UniqueFd client;
  {
    ScriptedListener listener([&](CSocketConnection& connection, bool) {
      // A session that ends only when told the listener is going offline.
      WaitFor("the listener to go offline", [&] { return connection.IsGoingOffline(); }, kPatience);
      ++ended;
    });
    ASSERT_EQ(listener.Listen(0), kListenOk);
    ASSERT_EQ(listener.Start(), 0);
    client = ConnectTo(listener.Port());
    ASSERT_TRUE(WaitFor("the connection to be counted", [&] { return listener.ConnectionCount() == 1; }, kPatience));
  }
  EXPECT_EQ(ended.load(), 1);
}

}  // namespace
}  // namespace paxelle
