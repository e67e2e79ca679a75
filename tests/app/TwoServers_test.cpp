// Two servers in one process, each on a working directory of its own, selling
// to the same simulator side by side: nothing one of them keeps (numbers, log,
// queue, keys) is shared with the other.
#include "app/ServerObjects.h"
#include "client/ClientListener.h"
#include "host/HostInterface.h"
#include "tests/client/CryptoTestSupport.h"
#include "tests/client/SessionTestSupport.h"
#include "tests/hostsim/SimTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace paxelle {
namespace {

namespace fs = std::filesystem;
namespace sim = hostsim::simtest;
using testing::ReadBytes;

// One whole server but its front end: shared objects, host interface and listener.
struct Server {
  Server(const sim::TestPki& pki, const HostEndpoint& host) : objects(dir.Path()) {
    fs::create_directory(dir / kLogDirectoryName);
    fs::create_directory(dir / "keys");
    fs::copy_file(testing::TestKeyPath(), CMessageCrypto::KeyFilePath(dir / "keys"));
    CServerContext& context = objects.context;
    context.params.SetPath(dir / "params");
    CMerchantParams set;
    set.SetValue(kParamMerchantId, "123456789012345");
    set.SetValue(kParamTerminalId, "12345678");
    EXPECT_TRUE(context.params.Save(set));
    EXPECT_TRUE(objects.crypto.Startup(dir / "keys"));
    objects.host.endpoints.Configure(host, host);
    EXPECT_TRUE(objects.host.security.Load(pki.caCert.string())) << objects.host.security.LastErrorText();
    hostInterface = std::make_unique<CHostInterface>(objects.host);
    EXPECT_TRUE(hostInterface->Start()) << hostInterface->LastErrorText();
    listener = std::make_unique<CClientListener>(objects.ClientParts(), 0);
    EXPECT_EQ(listener->StartOnClientPort(), 0) << listener->LastError();
  }
  ~Server() {
    listener.reset();
    hostInterface.reset();
  }

  // A lane's sale through this server; the final answer's status.
  std::string Sell(const std::string& trace) {
    testing::TestLane lane;
    lane::CommandResponse reply;
    if (!lane.LogIn(listener->Port()) || !lane.SendRequest(testing::CreditSalePayload(), trace) ||
        !lane.ReadReply(reply) || !lane.ReadReply(reply)) {
      return "no answer";
    }
    return reply.cmdStatus;
  }

  std::string Logged() {
    objects.context.log.WaitUntilWritten(testing::kPatience);
    std::string text;
    for (const auto& file : fs::directory_iterator(dir / kLogDirectoryName)) text += ReadBytes(file.path());
    return text;
  }

  testing::TempDir dir;
  CServerObjects objects;
  std::unique_ptr<CHostInterface> hostInterface;
  std::unique_ptr<CClientListener> listener;
};

class TwoServersTest : public sim::TestPkiSuite {};

TEST_F(TwoServersTest, EachSellsWithItsOwnNumbersAndLog) {
  ASSERT_TRUE(pkiReady_) << pkiError_;
  testing::TempDir simDir;
  sim::SimProcess simulator;
  std::string error;
  ASSERT_TRUE(simulator.Start({"--port", "0", "--cert", pki_.serverCert.string(), "--key", pki_.serverKey.string()},
                              simDir / "sim.err", error))
      << error;
  const std::uint16_t port = simulator.ReadListeningPort(std::chrono::seconds(10));
  ASSERT_NE(port, 0);
  const HostEndpoint host{"localhost", std::to_string(port)};

  Server first(pki_, host);
  Server second(pki_, host);
  std::string firstStatus;
  std::string secondStatus;
  std::string secondAgain;
  std::thread lane([&] { firstStatus = first.Sell("first-lane"); });
  secondStatus = second.Sell("second-lane");
  secondAgain = second.Sell("second-lane-again");
  lane.join();

  EXPECT_EQ(firstStatus, "Approved");
  EXPECT_EQ(secondStatus, "Approved");
  EXPECT_EQ(secondAgain, "Approved");
  EXPECT_EQ(ReadBytes(first.dir / "SynchroStan.dat"), "1\r\r\n");
  EXPECT_EQ(ReadBytes(second.dir / "SynchroStan.dat"), "2\r\r\n");
  const std::string firstLog = first.Logged();
  const std::string secondLog = second.Logged();
  EXPECT_NE(firstLog.find("first-lane"), std::string::npos);
  EXPECT_EQ(firstLog.find("second-lane"), std::string::npos);
  EXPECT_NE(secondLog.find("second-lane-again"), std::string::npos);
  EXPECT_EQ(secondLog.find("first-lane"), std::string::npos);
}

}  // namespace
}  // namespace paxelle
