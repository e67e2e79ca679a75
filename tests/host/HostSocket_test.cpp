#include "host/HostSocket.h"

#include "common/PosixFile.h"
#include "tests/host/LoopbackSockets.h"
#include "tests/host/StopLater.h"
#include "tests/support/WaitFor.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace paxelle {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using testing::ClosedPort;
using testing::LocalPort;
using testing::LoopbackAddress;
using testing::LoopbackListener;
using testing::StopLater;

// Far longer than any of these operations takes when it works; a case that runs into it
// has waited for a time-out it should not have waited for.
constexpr milliseconds kLongTimeout{60000};
constexpr auto kWellBeforeTheTimeout = std::chrono::seconds(30);

std::size_t OpenDescriptorCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A listener whose accept queue is full: a further connect is never answered.
struct SilentHost {
  LoopbackListener listener{0};
  UniqueFd filler{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};

  bool Fill() {
    const sockaddr_in address = LoopbackAddress(listener.Port());
    return listener.Valid() &&
           ::connect(filler.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
};

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

const std::string kConnectFailedText = "Socket Error Trying to Connect Error 3006";

TEST(HostSocketTest, ANewSocketHoldsNothing) {
  Event stopping(Event::Reset::kManual);
  CHostSocket socket(&stopping);
  char buffer[8];
  EXPECT_EQ(socket.LastErrorCode(), 9999);
  EXPECT_FALSE(socket.IsAlive());
  EXPECT_FALSE(socket.BytesAvailable());
  EXPECT_EQ(socket.Receive(buffer, sizeof buffer, milliseconds(0)), 0);
  EXPECT_EQ(socket.Send(nullptr, 0), 0);
  EXPECT_EQ(socket.LastErrorCode(), 9999) << "an empty send touches nothing";
  EXPECT_EQ(socket.Send("x", 1), -1);
  EXPECT_EQ(socket.LastErrorCode(), 3003);
  EXPECT_EQ(socket.LastErrorText(), "Socket Error Sending 3003");
  EXPECT_TRUE(socket.Close());
}

TEST(HostSocketConnectTest, ANameTheResolverRejectsFailsWithItsError) {
  // The resolver refuses this name itself, so no query leaves the machine.
  const std::size_t openBefore = OpenDescriptorCount();
  Event stopping(Event::Reset::kManual);
  CHostSocket socket(&stopping);
  EXPECT_FALSE(socket.ConnectByName("host name with spaces", 6661, milliseconds(3000)));
  EXPECT_NE(socket.LastErrorCode(), 0);
  EXPECT_EQ(socket.LastErrorText(), "DNS Lookup of 'host name with spaces' Failed with Error " +
                                        std::to_string(socket.LastErrorCode()) + ".");
  EXPECT_FALSE(socket.IsAlive());
  EXPECT_EQ(OpenDescriptorCount(), openBefore);
}

TEST(HostSocketConnectTest, APortOutsideTheRangeIsRefused) {
  Event stopping(Event::Reset::kManual);
  CHostSocket socket(&stopping);
  for (int port : {0, -1, 65536}) {
    EXPECT_FALSE(socket.ConnectByName("localhost", port, milliseconds(3000))) << port;
    EXPECT_EQ(socket.LastErrorText(), "Invalid Host Port " + std::to_string(port));
  }
}

TEST(HostSocketConnectTest, AClosedLoopbackPortIsRefusedWith3006BeforeTheTimeOut) {
  Event stopping(Event::Reset::kManual);
  ASSERT_GE(stopping.Descriptor(), 0);  // the event's own, made once and kept
  const std::size_t openBefore = OpenDescriptorCount();
  CHostSocket socket(&stopping);
  const auto start = Clock::now();
  EXPECT_FALSE(socket.ConnectAddress(LoopbackAddress(ClosedPort()), kLongTimeout));
  EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeout);
  EXPECT_EQ(socket.LastErrorCode(), 3006);
  EXPECT_EQ(socket.LastErrorText(), kConnectFailedText);
  EXPECT_FALSE(socket.IsAlive());
  EXPECT_EQ(OpenDescriptorCount(), openBefore) << "a failed connect leaves no socket open";
}

TEST(HostSocketConnectTest, AHostThatNeverAnswersTimesOutWith3006) {
  SilentHost host;
  ASSERT_TRUE(host.Fill());
  Event stopping(Event::Reset::kManual);
  ASSERT_GE(stopping.Descriptor(), 0);
  const std::size_t openBefore = OpenDescriptorCount();
  CHostSocket socket(&stopping);
  const auto start = Clock::now();
  EXPECT_FALSE(socket.ConnectAddress(LoopbackAddress(host.listener.Port()), milliseconds(300)));
  EXPECT_GE(MillisecondsSince(start), 300) << "gave up before its time-out";
  EXPECT_EQ(socket.LastErrorCode(), 3006);
  EXPECT_EQ(socket.LastErrorText(), kConnectFailedText);
  EXPECT_EQ(OpenDescriptorCount(), openBefore);
}

TEST(HostSocketConnectTest, TheInterfacesStoppingEventEndsAConnect) {
  SilentHost host;
  ASSERT_TRUE(host.Fill());
  Event stopping(Event::Reset::kManual);
  CHostSocket socket(&stopping);
  const auto start = Clock::now();
  {
    StopLater stop(stopping, milliseconds(100));
    EXPECT_FALSE(socket.ConnectAddress(LoopbackAddress(host.listener.Port()), kLongTimeout));
  }
  EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeout);
  EXPECT_EQ(socket.LastErrorCode(), 3006);
}

TEST(HostSocketConnectTest, ConnectsByNameAndReplacesAnEarlierConnection) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.Valid());
  Event stopping(Event::Reset::kManual);
  CHostSocket socket(&stopping);
  ASSERT_TRUE(socket.ConnectByName("localhost", listener.Port(), milliseconds(3000))) << socket.LastErrorText();
  UniqueFd first(listener.Accept(milliseconds(5000)));
  ASSERT_GE(first.Get(), 0);
  EXPECT_TRUE(socket.IsAlive());

  ASSERT_TRUE(socket.ConnectByName("127.0.0.1", listener.Port(), milliseconds(3000))) << socket.LastErrorText();
  char byte = 0;
  EXPECT_EQ(::recv(first.Get(), &byte, 1, 0), 0) << "the earlier connection is closed";
}

// A connected socket and the peer end of its connection.
class ConnectedHostSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(listener_.Valid());
    ASSERT_TRUE(socket_.ConnectAddress(LoopbackAddress(listener_.Port()), milliseconds(3000))) << socket_.LastErrorText();
    peer_.Reset(listener_.Accept(milliseconds(5000)));
    ASSERT_GE(peer_.Get(), 0);
  }

  void PeerSends(const std::string& bytes) {
    ASSERT_EQ(::send(peer_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }

  LoopbackListener listener_;
  Event stopping_{Event::Reset::kManual};
  CHostSocket socket_{&stopping_};
  UniqueFd peer_;
};

// A kept address is used without a lookup; once a connect to it fails, the
// name is looked up again and the new address kept.
TEST(HostSocketConnectTest, AnAddressKeptIsUsedUntilAConnectToItFails) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.Valid());
  Event stopping(Event::Reset::kManual);
  CHostSocket socket(&stopping);
  CHostAddressCache addresses;
  const std::string endpoint = "localhost:" + std::to_string(listener.Port());
  addresses.Keep(endpoint, LoopbackAddress(ClosedPort()));  // stale: nothing listens there
  EXPECT_FALSE(socket.ConnectByName("localhost", listener.Port(), milliseconds(3000), &addresses));
  EXPECT_FALSE(addresses.Find(endpoint).has_value()) << "forgotten after the failure";
  ASSERT_TRUE(socket.ConnectByName("localhost", listener.Port(), milliseconds(3000), &addresses)) << socket.LastErrorText();
  const std::optional<sockaddr_in> kept = addresses.Find(endpoint);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(ntohs(kept->sin_port), listener.Port());
}

TEST_F(ConnectedHostSocketTest, ReceiveReturnsWhatThePeerSentEvenWithoutTimeToWait) {
  PeerSends("hello");
  char buffer[64];
  ASSERT_EQ(socket_.Receive(buffer, sizeof buffer, milliseconds(3000)), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_FALSE(socket_.BytesAvailable());

  PeerSends("ready");
  ASSERT_TRUE(testing::WaitFor("the peer's bytes", [&] { return socket_.BytesAvailable(); }, std::chrono::seconds(10),
                               milliseconds(1)));
  EXPECT_EQ(socket_.Receive(buffer, sizeof buffer, milliseconds(0)), 5);
}

TEST_F(ConnectedHostSocketTest, ReceiveTimesOutWithZeroAndTheConnectionStaysAlive) {
  char buffer[64];
  const auto start = Clock::now();
  EXPECT_EQ(socket_.Receive(buffer, sizeof buffer, milliseconds(100)), 0);
  EXPECT_GE(MillisecondsSince(start), 100);
  EXPECT_TRUE(socket_.IsAlive());
}

TEST_F(ConnectedHostSocketTest, APeerThatClosedReadsAsZeroAtOnce) {
  peer_.Reset();
  char buffer[64];
  const auto start = Clock::now();
  EXPECT_EQ(socket_.Receive(buffer, sizeof buffer, kLongTimeout), 0);
  EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeout);
  EXPECT_FALSE(socket_.IsAlive());
}

TEST_F(ConnectedHostSocketTest, AResetConnectionReadsAsClosed) {
  const linger abortive{1, 0};
  ASSERT_EQ(::setsockopt(peer_.Get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
  peer_.Reset();
  char buffer[64];
  EXPECT_EQ(socket_.Receive(buffer, sizeof buffer, kLongTimeout), 0);
  EXPECT_FALSE(socket_.IsAlive());
}

TEST_F(ConnectedHostSocketTest, TheInterfacesStoppingEventEndsAReceive) {
  char buffer[64];
  const auto start = Clock::now();
  {
    StopLater stop(stopping_, milliseconds(50));
    EXPECT_EQ(socket_.Receive(buffer, sizeof buffer, kLongTimeout), 0);
  }
  EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeout);
  EXPECT_TRUE(socket_.IsAlive()) << "a stop leaves the connection as it was";
  PeerSends("after");
  EXPECT_EQ(socket_.Receive(buffer, sizeof buffer, milliseconds(3000)), 5);
}

TEST_F(ConnectedHostSocketTest, SendDeliversEveryByteOfALargeBufferToASlowReader) {
  std::string sent(8 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>((i * 7919) >> 3);
  std::string arrived;
  std::thread reader([this, &arrived, expected = sent.size()] {
    std::this_thread::sleep_for(milliseconds(200));  // the slow reader: the socket buffers should fill first
    std::vector<char> chunk(65536);
    while (arrived.size() < expected) {
      pollfd watch{peer_.Get(), POLLIN, 0};
      if (::poll(&watch, 1, 10000) <= 0) return;
      const ssize_t got = ::recv(peer_.Get(), chunk.data(), chunk.size(), 0);
      if (got <= 0) return;
      arrived.append(chunk.data(), static_cast<std::size_t>(got));
    }
  });
  EXPECT_EQ(socket_.Send(sent.data(), static_cast<int>(sent.size())), static_cast<int>(sent.size()));
  reader.join();
  EXPECT_TRUE(arrived == sent) << "arrived " << arrived.size() << " of " << sent.size() << " bytes";
}

TEST_F(ConnectedHostSocketTest, SendingToAResetConnectionFailsWith3003) {
  const linger abortive{1, 0};
  ASSERT_EQ(::setsockopt(peer_.Get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
  peer_.Reset();
  EXPECT_TRUE(testing::WaitFor("the socket to see the reset", [&] { return !socket_.IsAlive(); },
                               std::chrono::seconds(10), milliseconds(1)));
  EXPECT_EQ(socket_.Send("abc", 3), -1);
  EXPECT_EQ(socket_.LastErrorCode(), 3003);
  EXPECT_EQ(socket_.LastErrorText(), "Socket Error Sending 3003");
}

TEST_F(ConnectedHostSocketTest, CloseEndsTheConnectionAndMayBeRepeated) {
  EXPECT_TRUE(socket_.Close());
  char byte = 0;
  EXPECT_EQ(::recv(peer_.Get(), &byte, 1, 0), 0) << "the peer sees the end of the connection";
  EXPECT_TRUE(socket_.Close());
  EXPECT_FALSE(socket_.IsAlive());
  EXPECT_EQ(socket_.Send("x", 1), -1);
}

TEST_F(ConnectedHostSocketTest, AFailedConnectClosesTheEarlierConnection) {
  EXPECT_FALSE(socket_.ConnectAddress(LoopbackAddress(ClosedPort()), milliseconds(3000)));
  char byte = 0;
  EXPECT_EQ(::recv(peer_.Get(), &byte, 1, 0), 0);
  EXPECT_FALSE(socket_.IsAlive());
}

}  // namespace
}  // namespace paxelle
