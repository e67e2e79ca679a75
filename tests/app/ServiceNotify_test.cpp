#include "app/ServiceNotify.h"

#include "app/HeadlessOperator.h"
#include "app/ServiceStatus.h"
#include "tests/app/NotifySocket.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace paxelle {
namespace {

using std::chrono::milliseconds;
using testing::NotifySocket;

// Everything that arrives within a short while after the sends are done.
std::vector<std::string> Drain(NotifySocket& socket) {
  std::vector<std::string> received;
  while (auto datagram = socket.Receive(milliseconds(100))) received.push_back(*datagram);
  return received;
}

class ServiceNotifierTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
};

TEST_F(ServiceNotifierTest, SendsOneDatagramToAPathOrAnAbstractName) {
  const std::string addresses[] = {(dir_ / "notify").string(), NotifySocket::UniqueAbstractName()};
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    NotifySocket socket(address);
    ASSERT_TRUE(socket.Bound());
    ServiceNotifier notifier(address);
    EXPECT_TRUE(notifier.Active());
    ASSERT_TRUE(notifier.Send("RELOADING=1\nMONOTONIC_USEC=1")) << notifier.LastErrorText();
    ASSERT_TRUE(notifier.Send("READY=1")) << notifier.LastErrorText();
    EXPECT_EQ(Drain(socket), (std::vector<std::string>{"RELOADING=1\nMONOTONIC_USEC=1", "READY=1"}));
  }
}

TEST_F(ServiceNotifierTest, WithoutAnAddressNothingIsSent) {
  ServiceNotifier notifier;
  EXPECT_FALSE(notifier.Active());
  EXPECT_TRUE(notifier.Send("READY=1"));
  EXPECT_EQ(notifier.LastErrorText(), "");
}

TEST_F(ServiceNotifierTest, FromEnvironmentFollowsNotifySocket) {
  NotifySocket socket(NotifySocket::UniqueAbstractName());
  ASSERT_TRUE(socket.Bound());
  ASSERT_EQ(::setenv("NOTIFY_SOCKET", socket.Address().c_str(), 1), 0);
  ServiceNotifier fromEnvironment = ServiceNotifier::FromEnvironment();
  ::unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(ServiceNotifier::FromEnvironment().Active());
  ASSERT_TRUE(fromEnvironment.Send("READY=1"));
  EXPECT_EQ(socket.Receive(), "READY=1");
}

TEST_F(ServiceNotifierTest, UnusableAddressesFailWithTheirReason) {
  const struct {
    std::string address;
    std::string reason;
  } cases[] = {
      {"run/notify", "is neither an absolute path nor an @name"},
      {"/" + std::string(120, 'x'), "longer than a socket address can be"},
      {"@" + std::string(120, 'x'), "longer than a socket address can be"},
      {(dir_ / "nobody-listens").string(), "No such file or directory"},
      {dir_.Path().string(), "Connection refused"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.address);
    ServiceNotifier notifier(test.address);
    EXPECT_FALSE(notifier.Send("READY=1"));
    EXPECT_NE(notifier.LastErrorText().find(test.reason), std::string::npos) << notifier.LastErrorText();
  }
}

TEST(StatusValueTest, OneLineWithoutControlCharacters) {
  const struct {
    std::string text;
    std::string value;
  } cases[] = {
      {"Attempting to Connect to WorldPay  ...", "Attempting to Connect to WorldPay  ..."},
      {"Failed to Connect to WorldPay!\nrefused\r\n   Retry?", "Failed to Connect to WorldPay! refused Retry?"},
      {"Could Not Start SSPI \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!",
       "Could Not Start SSPI Ensure that 128 bit encryption is installed.- FATAL Error!!"},
      {"There are Client connections in Process.\rAre you SURE you want to do this?\r\r",
       "There are Client connections in Process. Are you SURE you want to do this?"},
      {"\tREADY=1\nSTATUS=x", "READY=1 STATUS=x"},
      {"  \r\n ", ""},
  };
  for (const auto& test : cases) EXPECT_EQ(StatusValue(test.text), test.value) << test.text;
}

// The service front end around the real headless one, reporting to a socket the test binds.
class ServiceStatusTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(socket_.Bound()); }

  ServiceStatusOperator& Operator(std::string address) {
    auto headless = std::make_unique<HeadlessOperator>(
        out_, err_, [this](milliseconds) { return !interrupted_; }, [](const std::string&) {},
        HeadlessPolicy{milliseconds(1), 2});
    operator_ = std::make_unique<ServiceStatusOperator>(std::move(headless), ServiceNotifier(std::move(address)));
    return *operator_;
  }
  ServiceStatusOperator& Operator() { return Operator(socket_.Address()); }

  testing::TempDir dir_;
  NotifySocket socket_{NotifySocket::UniqueAbstractName()};
  std::ostringstream out_;
  std::ostringstream err_;
  bool interrupted_ = false;
  std::unique_ptr<ServiceStatusOperator> operator_;
};

// What the traffic view calls when the parameters are not set.
TEST_F(ServiceStatusTest, AStartThatCannotBeginLeavesItsReason) {
  ServiceStatusOperator& service = Operator();
  service.ShowOfflineTitle();
  service.ShowWait();
  service.ShowMessage("Configuration not Set! - Use Setup | Merchant Parameters");
  service.CloseWait();
  service.NotifyReady();
  EXPECT_EQ(Drain(socket_), (std::vector<std::string>{
                                "STATUS=Configuration not Set! - Use Setup | Merchant Parameters",
                                "STATUS=Interfaces Stopped: Configuration not Set! - Use Setup | Merchant Parameters",
                                "READY=1"}));
  EXPECT_NE(err_.str().find("paxelle: Configuration not Set!"), std::string::npos) << "the front end still hears it";
}

// A host that stays down: the server is ready once the first attempt has
// failed, the retries show only in the status, and the reason outlives the
// stop sequence that follows the last No.
TEST_F(ServiceStatusTest, ReadyAtTheHostsFirstFailureAndTheRetriesOnlyInTheStatus) {
  ServiceStatusOperator& service = Operator();
  const std::string question = "Failed to Connect to WorldPay!\r\n   Retry?";
  service.ShowOfflineTitle();
  service.ShowWait();
  service.SetWaitText("Attempting to Connect to WorldPay  ...");
  EXPECT_TRUE(service.AskYesNo(OperatorQuestion::kRetryHostStart, question));
  EXPECT_TRUE(service.AskYesNo(OperatorQuestion::kRetryHostStart, question));
  EXPECT_FALSE(service.AskYesNo(OperatorQuestion::kRetryHostStart, question)) << "the front end's policy answers";
  service.ShowWait();
  service.SetWaitText("Shutting down Clients...");
  service.NoteInterfacesStopped();
  service.CloseWait();
  service.CloseWait();
  service.NotifyReady();

  const std::string asked = "STATUS=Failed to Connect to WorldPay! Retry?";
  const std::string stopped = "STATUS=Interfaces Stopped: Failed to Connect to WorldPay!";
  EXPECT_EQ(Drain(socket_), (std::vector<std::string>{"STATUS=Attempting to Connect to WorldPay  ...", asked,
                                                      "READY=1", asked, asked, "STATUS=Shutting down Clients...",
                                                      stopped, stopped, stopped}));
}

// Each start or reload owes one READY=1, whichever comes first: the host's
// first failure or the end of the sequence. The last stop says so.
TEST_F(ServiceStatusTest, EveryReloadIsReadyOnceAndTheLastStopIsAnnounced) {
  ServiceStatusOperator& service = Operator();
  const std::string question = "Failed to Connect to WorldPay!\r\n   Retry?";
  service.NotifyReady();
  service.NotifyReady();
  service.NotifyReloading();
  service.AskYesNo(OperatorQuestion::kRetryHostStart, question);
  service.NotifyReady();
  service.NotifyReloading();
  service.NotifyReady();
  service.NotifyStopping();
  std::vector<std::string> received = Drain(socket_);
  for (std::string& datagram : received) {
    // The reload's time stamp differs every run; its presence is what counts.
    if (datagram.starts_with("RELOADING=1\nMONOTONIC_USEC=") && datagram.size() > 27) datagram = "RELOADING=1";
  }
  EXPECT_EQ(received, (std::vector<std::string>{"READY=1", "RELOADING=1", "STATUS=Failed to Connect to WorldPay! Retry?",
                                                "READY=1", "RELOADING=1", "READY=1", "STOPPING=1"}));
}

TEST_F(ServiceStatusTest, RunningStatusFollowsTheCountsAndANewStartForgetsTheReason) {
  ServiceStatusOperator& service = Operator();
  service.ShowMessage("Failed to start TCP/IP Server!");
  service.NoteInterfacesStopped();
  service.NotifyReloading();
  service.ShowOfflineTitle();
  service.SetStatusTitle("title 1", 0, 1);
  service.SetStatusTitle("title 2", 0, 1);
  service.SetStatusTitle("title 3", 2, 1);
  service.NotifyReady();
  service.NoteInterfacesStopped();
  service.CloseWait();
  service.AskYesNo(OperatorQuestion::kStopWithClients, "There are Client connections in Process.\r");
  service.AddTrafficRow("[01/02/24 10:00:00] Sending Auth Request (IP) to WorldPay.");
  std::vector<std::string> received = Drain(socket_);
  if (received.size() > 2 && received[2].starts_with("RELOADING=1\n")) received[2] = "RELOADING=1";
  EXPECT_EQ(received, (std::vector<std::string>{"STATUS=Failed to start TCP/IP Server!",
                                                      "STATUS=Interfaces Stopped: Failed to start TCP/IP Server!",
                                                      "RELOADING=1", "STATUS=Interfaces running: #Requests 0, #Sockets 1",
                                                      "STATUS=Interfaces running: #Requests 2, #Sockets 1", "READY=1",
                                                      "STATUS=Interfaces Stopped."}));
  EXPECT_EQ(out_.str().find("Sending Auth Request"), out_.str().rfind("Sending Auth Request")) << out_.str();
  EXPECT_NE(out_.str().find("Sending Auth Request"), std::string::npos);
}

TEST_F(ServiceStatusTest, AnUnreachableManagerIsToldOnceAndChangesNothingElse) {
  ServiceStatusOperator& service = Operator((dir_ / "gone").string());
  service.SetWaitText("Attempting to Connect to WorldPay  ...");
  service.NotifyReady();
  service.ShowMessage("Failed to start TCP/IP Server!");
  const std::string err = err_.str();
  EXPECT_EQ(err.find("Cannot notify the service manager at "), err.rfind("Cannot notify the service manager at "))
      << err;
  EXPECT_NE(err.find("Cannot notify the service manager at "), std::string::npos) << err;
  EXPECT_NE(err.find("paxelle: Failed to start TCP/IP Server!"), std::string::npos) << err;
}

}  // namespace
}  // namespace paxelle
