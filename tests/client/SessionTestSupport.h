// What the client session tests share: the server's crypto on a temporary key
// store, a merchant parameter file, request payloads, a client listener on a
// free loopback port with a private traffic log, and lanes (the reference lane
// library) that talk to it.
#pragma once

#include "client/ClientGuards.h"
#include "client/ClientListener.h"
#include "client/MessageCrypto.h"
#include "common/TrafficLog.h"
#include "core/Request.h"
#include "core/ServerContext.h"
#include "host/BatchState.h"
#include "tests/client/CryptoTestSupport.h"
#include "tests/support/WaitFor.h"
#include "tools/lane/LaneConnection.h"
#include "tools/lane/LaneDocument.h"
#include "tools/lane/LaneLogin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace paxelle::testing {

using namespace std::chrono_literals;

// Generous bound for anything the tests wait for; never a speed requirement.
inline constexpr std::chrono::milliseconds kPatience = 20s;

// Starts `crypto` on a temporary key store (one per process) holding the fixture key.
bool StartServerCrypto(CMessageCrypto& crypto);

// A request payload: key/value pairs joined with FS.
std::string PayloadText(std::initializer_list<std::pair<std::string, std::string>> pairs);
std::string CreditSalePayload();
std::string ServerVersionPayload();
std::string GetParmsPayload();
std::string BatchClosePayload();

// A lane built on the reference lane library.
class TestLane {
 public:
  TestLane() { connection_.SetIoTimeout(kPatience); }

  bool Connect(int port) { return connection_.Connect("127.0.0.1", port); }
  // Connects and logs in; true when the exchange ran to a reply (see `result`).
  bool ConnectAndLogin(int port, lane::LoginResult& result, const std::string& password = "", bool alternate = false);
  // Connects and logs in; true only when the login was verified.
  bool LogIn(int port, const std::string& password = "");
  bool SendRequest(const std::string& payload, const std::string& trace) {
    return connection_.SendRequest(payload, trace);
  }
  // The next response's command block (encrypted responses opened); false on
  // time-out, close or a bad frame.
  bool ReadReply(lane::CommandResponse& reply, std::chrono::milliseconds timeout = kPatience,
                 lane::LaneResponse* response = nullptr);
  // True when the server closed the connection (after any frames still buffered).
  bool WaitForClose(std::chrono::milliseconds timeout = kPatience);
  lane::LaneConnection& Connection() { return connection_; }

 private:
  lane::LaneConnection connection_;
};

// The server side under test, set up and torn down around each test: a server
// context on a temporary working directory (params, traffic log, queue), the
// server's crypto and a client listener on a free port. Every test ends with an
// empty pending queue.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Replaces the merchant parameters (merchant and terminal numbers always set).
  void Configure(std::initializer_list<std::pair<int, std::string>> values);
  // (Re)starts the listener with `settings` (its log is always this test's).
  void StartListener(ClientSessionSettings settings = {}, int connectionLimit = 0);
  // Everything this test's sessions logged so far.
  std::string LoggedText();

  PendingQueue& Queue() { return context_->queue; }
  // The first queued record whose UserTraceData is `trace`.
  bool FindQueued(const std::string& trace, CRequest& record);
  // Plays the host thread: writes `record` back with the given outcome.
  void FinishApproved(CRequest record);
  void FinishWithState(CRequest record, RequestState state, int returnCode = 0);
  // Sends a credit sale, reads its interim reply and finds its queued record.
  void QueueSale(TestLane& lane, const std::string& trace, CRequest& record);

  int Port() const { return listener_->Port(); }
  CClientListener& Listener() { return *listener_; }

  TempDir dir_;
  std::unique_ptr<CServerContext> context_;
  std::unique_ptr<CMessageCrypto> crypto_;
  std::unique_ptr<CBatchState> batch_;
  ClientGuards guards_;
  std::unique_ptr<CClientListener> listener_;
};

}  // namespace paxelle::testing
