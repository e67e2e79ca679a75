// The host processing engine against the real host simulator over TLS: dispatch,
// exchange outcomes, completions, fail-over, start-up test, aborts, locally answered
// requests, batch close exclusivity, the dial hand-over and stopping.
#include "host/HostInterface.h"

#include "core/ReturnCodes.h"
#include "host/HostContext.h"
#include "tests/core/ParserTestSupport.h"
#include "tests/core/ReversingCrypto.h"
#include "tests/host/LoopbackSockets.h"
#include "tests/host/StateTestSupport.h"
#include "tests/hostsim/SimTestSupport.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace paxelle {
namespace {

using namespace std::chrono_literals;
namespace sim = hostsim::simtest;
using testing::ClosedPort;
using testing::Payload;
using testing::ReadBytes;

// Bound for anything the tests wait on; only a hang comes near it.
constexpr auto kPatience = 30s;

const std::string kLaneA = "127.0.0.1:40001";
const std::string kLaneB = "127.0.0.1:40002";

const Payload kHeader = {{"TStream", "Transaction"}, {"MerchantID", "1"}, {"ClientID", "1"},
                         {"InvoiceNo", "1001"},      {"RefNo", "1001"}};
const Payload kSaleRequest = kHeader.With("TranType", "Credit")
                                .With("TranCode", "Sale")
                                .With("AcctNo", "4111111111111111")
                                .With("ExpDate", "1228")
                                .With("Purchase", "10.00");
const Payload kEmvSaleRequest = kHeader.With("TranType", "EMVCredit")
                             .With("TranCode", "EMVSale")
                             .With("EMVEntrySource", "ChipRead")
                             .With("Track2", "4111111111111111=2812101")
                             .With("Purchase", "10.00");
const Payload kCheckRequest = kHeader.With("TranType", "CheckAuth")
                               .With("TranCode", "Sale")
                               .With("MICR", "Keyed")
                               .With("RoutingNo", "123456789")
                               .With("AcctNo", "000123456")
                               .With("SequenceNo", "1001")
                               .With("StateCode", "NY")
                               .With("Purchase", "25.00");
const Payload kAdmin = {{"TStream", "Admin"}, {"MerchantID", "1"}, {"ClientID", "1"},
                        {"TranType", "Administrative"}};

bool IsAnswerable(RequestState state) {
  switch (state) {
    case kStateAborted:
    case kStateTimedOut:
    case kStateHostFailed:
    case kStateFinishedLocally:
    case kStateDelivered:
    case kStateParsed:
    case kStateReceivedUnparsed:
      return true;
    default:
      return false;
  }
}

using testing::WaitFor;

std::size_t Occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}

// A loopback port nothing listens on.
HostEndpoint Loopback(std::uint16_t port) { return HostEndpoint{"localhost", std::to_string(port)}; }

// Collects the progress events; outlives the interfaces that report to it.
class TrafficRecorder {
 public:
  std::function<void(HostTrafficEvent)> Observer() {
    return [this](HostTrafficEvent event) {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(event);
    };
  }
  int Count(HostTrafficEvent event) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(events_.begin(), events_.end(), event));
  }
  int Total() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(events_.size());
  }

 private:
  mutable std::mutex mutex_;
  std::vector<HostTrafficEvent> events_;
};

// Plays the dial link for one record: answers each hand-over (State 9) with the next
// state of its script, as the dial link would.
struct DialAnswer {
  RequestState state;
  std::string hostErrorText;
};

class DialStandIn {
 public:
  DialStandIn(PendingQueue& queue, int id, std::vector<DialAnswer> script)
      : queue_(queue), id_(id), script_(std::move(script)), thread_([this] { Run(); }) {}
  ~DialStandIn() {
    stop_ = true;
    thread_.join();
  }
  DialStandIn(const DialStandIn&) = delete;
  DialStandIn& operator=(const DialStandIn&) = delete;

  // The records as they were handed over, one per hand-over answered.
  std::vector<CRequest> HandOvers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handOvers_;
  }

 private:
  void Run() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (const DialAnswer& answer : script_) {
      CRequest record;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const bool handedOver = WaitFor(
          "a hand-over", [&] { return stop_ || (queue_.FindById(id_, record) && record.State == kStateDialHandOver); },
          left);
      if (!handedOver || stop_) return;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        handOvers_.push_back(record);
      }
      record.State = answer.state;
      record.HostErrorText = answer.hostErrorText;
      record.HostText = "ANSWERED BY DIAL";
      queue_.UpdateById(id_, record);
    }
  }

  PendingQueue& queue_;
  const int id_;
  const std::vector<DialAnswer> script_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<CRequest> handOvers_;
  std::thread thread_;  // last: starts once everything above exists
};

class HostInterfaceTest : public sim::TestPkiSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pkiReady_) << pkiError_;
    SetParams({});
    ASSERT_TRUE(host_.security.Load(pki_.caCert.string())) << host_.security.LastErrorText();
    const HostEndpoint nowhere = Loopback(ClosedPort());
    host_.endpoints.Configure(nowhere, nowhere);
  }

  // Saves a configured parameter set with the connection test off; `values` change it.
  void SetParams(std::initializer_list<std::pair<int, std::string>> values) {
    CMerchantParams set;
    set.SetValue(kParamMerchantId, "123456789012345");
    set.SetValue(kParamTerminalId, "12345678");
    set.SetValue(kParamCheckDigit, "7");
    set.SetValue(kParamNoConnectOnStartup, "Y");
    set.SetValue(kParamConnectTimeout, "3");
    set.SetValue(kParamEmvSupport, "1");
    for (const auto& [number, value] : values) ASSERT_TRUE(set.SetValue(number, value)) << number << "=" << value;
    ASSERT_TRUE(context_.params.Save(set)) << context_.params.LastErrorText();
  }

  // Starts paxelle-hostsim with `extra` options; returns its endpoint.
  HostEndpoint StartSim(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--port", "0",
                                     "--cert", pki_.serverCert.string(),
                                     "--key", pki_.serverKey.string(),
                                     "--journal", JournalPath().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    sim_ = std::make_unique<sim::SimProcess>();
    EXPECT_TRUE(sim_->Start(args, server_.directory() / "sim.err", error)) << error;
    const std::uint16_t port = sim_->ReadListeningPort(10s);
    EXPECT_NE(port, 0) << ReadBytes(server_.directory() / "sim.err");
    return Loopback(port);
  }

  std::filesystem::path JournalPath() const { return server_.directory() / "journal.log"; }
  std::string Journal() const { return ReadBytes(JournalPath()); }
  ::testing::AssertionResult AwaitOneRequestAtTheHost() const {
    return WaitFor("the request at the host", [this] { return Occurrences(Journal(), " REQUEST ") == 1; }, kPatience);
  }

  CHostInterface& MakeHost(HostInterfaceSettings settings = {}) {
    interface_ = std::make_unique<CHostInterface>(host_, settings);
    interface_->SetTrafficObserver(traffic_.Observer());
    return *interface_;
  }

  CRequest Parsed(const Payload& payload, int expectedId) {
    CRequest record = testing::ParsePayload(payload.Text(), context_);
    EXPECT_EQ(record.TranCodeId, expectedId) << "return code " << record.ReturnCode;
    return record;
  }

  // Queues `record` for `lane` the way a session does; returns its QueueId.
  int Queue(CRequest record, const std::string& lane, bool exclusive = false) {
    record.ClientAddress = lane;
    record.ClientKeyBlob = testing::kSessionKeyHex;
    record.State = kStateWaitingForHost;
    const int result = exclusive ? context_.queue.EnqueueExclusive(record) : context_.queue.Enqueue(record);
    EXPECT_EQ(result, PendingQueue::kAccepted);
    return record.QueueId;
  }

  CRequest Find(int id) {
    CRequest record;
    EXPECT_TRUE(context_.queue.FindById(id, record)) << "record " << id << " left the queue";
    return record;
  }

  // Waits until the record has an answer and no worker is left in flight.
  CRequest WaitUntilAnswered(int id) {
    CRequest record;
    const bool answered = WaitFor(
        "an answer", [&] { return context_.queue.FindById(id, record) && IsAnswerable(record.State); }, kPatience);
    EXPECT_TRUE(answered) << "record " << id << " still in State " << record.State;
    EXPECT_TRUE(WaitFor("every worker to end", [this] { return context_.registry.Count() == 0; }, kPatience));
    return record;
  }

  testing::ContextFixture server_;
  CServerContext& context_ = server_.context();
  CHostContext host_{context_};
  testing::ReversingCrypto crypto_{context_};
  TrafficRecorder traffic_;
  std::unique_ptr<sim::SimProcess> sim_;
  std::unique_ptr<CHostInterface> interface_;  // last: stopped and joined first
};

TEST_F(HostInterfaceTest, ApprovedSaleIsParsedCompletedAndWrittenBack) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  SetParams({{kParamNoConnectOnStartup, "N"}});
  ASSERT_TRUE(MakeHost().Start()) << interface_->LastErrorText();

  const int id = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA);
  const CRequest record = WaitUntilAnswered(id);
  EXPECT_EQ(record.State, kStateParsed);
  EXPECT_TRUE(record.Approved);
  EXPECT_FALSE(record.HostResponse.empty());

  const std::string journal = Journal();
  EXPECT_EQ(Occurrences(journal, " REQUEST "), 1u);
  EXPECT_EQ(Occurrences(journal, " COMPLETION COMPLETED "), 1u);
  const std::string logged = server_.Logged();
  EXPECT_NE(logged.find("RESPONSE from WORLDPAY ->[{Truncated}] for " + kLaneA), std::string::npos);
  EXPECT_NE(logged.find("Completion [COMPLETED] Sent on this Transaction for " + kLaneA), std::string::npos);
  EXPECT_EQ(traffic_.Count(HostTrafficEvent::kSendingIp), 1);
  EXPECT_EQ(traffic_.Count(HostTrafficEvent::kReceivedIp), 1);
  EXPECT_EQ(host_.endpoints.FailOverCount(), 0);
}

TEST_F(HostInterfaceTest, AnswersDecideStateApprovalAndCompletion) {
  struct Case {
    const char* name;
    Payload payload;
    int tranCodeId;
    bool approved;
    const char* authorize;       // the amount the record ends with
    const char* completionLine;  // journal text of the completion; null: none sent
  };
  const Case cases[] = {
      {"declined sale", kSaleRequest.With("Purchase", "10.01"), kCreditSale, false, "1001", " COMPLETION COMPLETED "},
      {"partially approved sale", kSaleRequest.With("Purchase", "10.02").With("PartialAuth", "Allow"), kCreditSale,
       true, "501", " COMPLETION COMPLETED "},
      {"balance inquiry", kSaleRequest.With("TranCode", "Balance"), kCreditBalance, true, nullptr, nullptr},
      {"chip sale", kEmvSaleRequest, kEmvSale, true, "1000", " COMPLETION COMPLETED "},
  };
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  ASSERT_TRUE(MakeHost().Start());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = Journal();
    const int id = Queue(Parsed(c.payload, c.tranCodeId), kLaneA);
    const CRequest record = WaitUntilAnswered(id);
    EXPECT_EQ(record.State, kStateParsed);
    EXPECT_EQ(record.Approved, c.approved);
    if (c.authorize != nullptr) {
      EXPECT_EQ(record.Authorize, c.authorize);
    }

    const std::string added = Journal().substr(before.size());
    EXPECT_EQ(Occurrences(added, " REQUEST "), 1u);
    EXPECT_EQ(Occurrences(added, " COMPLETION "), c.completionLine == nullptr ? 0u : 1u);
    if (c.completionLine != nullptr) {
      EXPECT_EQ(Occurrences(added, c.completionLine), 1u);
    }
  }
  EXPECT_NE(server_.Logged().find("No Completion Sent on this Transaction for " + kLaneA), std::string::npos);
}

TEST_F(HostInterfaceTest, UnansweredRequestTimesOutAndIsCompletedAsNotReceived) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  HostInterfaceSettings settings;
  settings.exchangeTimeout = 1s;
  ASSERT_TRUE(MakeHost(settings).Start());

  const int id = Queue(Parsed(kSaleRequest.With("Purchase", "10.03"), kCreditSale), kLaneA);
  const CRequest record = WaitUntilAnswered(id);
  EXPECT_EQ(record.State, kStateTimedOut);
  EXPECT_FALSE(record.Approved);
  EXPECT_EQ(Occurrences(Journal(), " COMPLETION REPLY NOT RECVD "), 1u);
  EXPECT_NE(server_.Logged().find("Completion [REPLY NOT RECVD] Sent on this Transaction for " + kLaneA),
            std::string::npos);
  EXPECT_EQ(traffic_.Count(HostTrafficEvent::kSendingIp), 1);
  EXPECT_EQ(traffic_.Count(HostTrafficEvent::kReceivedIp), 0);
}

TEST_F(HostInterfaceTest, UnreachableHostFailsTheTransactionWithTheConnectError) {
  ASSERT_TRUE(MakeHost().Start()) << "entry 9 is Y: the host must not be contacted";

  const int id = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA);
  const CRequest record = WaitUntilAnswered(id);
  EXPECT_EQ(record.State, kStateHostFailed);
  ASSERT_FALSE(record.HostErrorText.empty());
  EXPECT_NE(server_.Logged().find("RESPONSE from WORLDPAY INTERFACE ->[" + record.HostErrorText + "] for " + kLaneA),
            std::string::npos);
  // Both endpoints tried, then one more switch so the next attempt starts elsewhere.
  EXPECT_EQ(host_.endpoints.FailOverCount(), 2);
  EXPECT_EQ(traffic_.Total(), 0);
}

TEST_F(HostInterfaceTest, SecondaryEndpointTakesOverWhenThePrimaryIsDown) {
  const HostEndpoint secondary = StartSim();
  const HostEndpoint primary = Loopback(ClosedPort());
  host_.endpoints.Configure(primary, secondary);
  ASSERT_TRUE(MakeHost().Start());

  const int id = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA);
  const CRequest record = WaitUntilAnswered(id);
  EXPECT_EQ(record.State, kStateParsed);
  EXPECT_TRUE(record.Approved);
  EXPECT_EQ(host_.endpoints.Current(), secondary);
  EXPECT_EQ(host_.endpoints.FailOverCount(), 1);
  EXPECT_EQ(Occurrences(Journal(), " COMPLETION COMPLETED "), 1u);  // on the endpoint now current
}

TEST_F(HostInterfaceTest, StartUpConnectionTestFailsWhenNeitherEndpointAnswers) {
  SetParams({{kParamNoConnectOnStartup, "N"}, {kParamConnectTimeout, "1"}});
  CHostInterface& host = MakeHost();
  EXPECT_FALSE(host.Start());
  const std::string error = host.LastErrorText();
  const std::string head = "Failed to Connect to WorldPay!\n";
  ASSERT_EQ(error.compare(0, head.size(), head), 0) << error;
  EXPECT_EQ(Occurrences(error, "\n"), 2u) << "one line for each endpoint tried: " << error;
  EXPECT_NE(error.back(), '\n');
  EXPECT_EQ(context_.registry.Add(), 0) << "a failed start leaves the interfaces stopped";

  // The operator's retry, once the host is there.
  const HostEndpoint sim = StartSim();
  host_.endpoints.Configure(sim, sim);
  EXPECT_TRUE(host.Start()) << host.LastErrorText();
  EXPECT_TRUE(host.LastErrorText().empty());
}

TEST_F(HostInterfaceTest, StartsWithoutContactingTheHostWhenNotAskedTo) {
  struct Case {
    const char* name;
    const char* noConnect;
    const char* transport;
  };
  const Case cases[] = {
      {"do not connect on start-up", "Y", "0"},
      {"dial only", "N", "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetParams({{kParamNoConnectOnStartup, c.noConnect}, {kParamTransportMethod, c.transport}});
    CHostInterface host(host_);
    EXPECT_TRUE(host.Start()) << host.LastErrorText();
    EXPECT_EQ(host_.endpoints.FailOverCount(), 0);
    EXPECT_EQ(host.Stop(), 1);
  }
}

TEST_F(HostInterfaceTest, AbortCancelsOnlyWhatItsLaneQueuedBeforeIt) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  const CRequest sale = Parsed(kSaleRequest, kCreditSale);
  CRequest abort = sale;
  abort.Disposition = kDispositionAbort;

  // All queued before the host thread looks, so one pass sees them together.
  const int earlier = Queue(sale, kLaneA);
  const int otherLane = Queue(sale, kLaneB);
  const int abortId = Queue(abort, kLaneA);
  const int later = Queue(sale, kLaneA);  // a new lane on the reused address
  ASSERT_TRUE(MakeHost().Start());

  EXPECT_EQ(WaitUntilAnswered(earlier).State, kStateAborted);
  EXPECT_EQ(WaitUntilAnswered(otherLane).State, kStateParsed);
  EXPECT_EQ(WaitUntilAnswered(abortId).State, kStateDelivered);
  EXPECT_EQ(WaitUntilAnswered(later).State, kStateParsed);

  // The delivered abort, still queued until its session removes it, does not touch
  // what its address queues next.
  const int next = Queue(sale, kLaneA);
  EXPECT_EQ(WaitUntilAnswered(next).State, kStateParsed);
  EXPECT_EQ(Find(abortId).State, kStateDelivered);
  EXPECT_EQ(Occurrences(Journal(), " REQUEST "), 3u);
}

TEST_F(HostInterfaceTest, RequestsWithoutAHostMessageAreAnsweredAtOnce) {
  struct Case {
    const char* name;
    Payload payload;
    int tranCodeId;
    int returnCode;
  };
  const Case cases[] = {
      {"personal check", kCheckRequest, kCheckPersonal, kRcCardTypeNotAccepted},
      {"company check", kCheckRequest.With("CardType", "CompanyCheck"), kCheckCompany, kRcCardTypeNotAccepted},
      {"chip adjust", kEmvSaleRequest.With("TranCode", "EMVAdjust"), kEmvAdjust, kRcTimeout},
      {"chip time-out reversal", kEmvSaleRequest.With("TranCode", "EMVTimeoutReversal").With("OriginalTranCode", "EMVSale"),
       kEmvTimeoutReversal, kRcTimeout},
  };
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  ASSERT_TRUE(MakeHost().Start());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int id = Queue(Parsed(c.payload, c.tranCodeId), kLaneA);
    const CRequest record = WaitUntilAnswered(id);
    EXPECT_EQ(record.State, kStateFinishedLocally);
    EXPECT_EQ(record.ReturnCode, c.returnCode);
    EXPECT_TRUE(record.HostRequest.empty());
  }
  EXPECT_EQ(Journal(), "");
  EXPECT_EQ(traffic_.Total(), 0);
}

TEST_F(HostInterfaceTest, EmvParameterDownloadIsAnsweredWithoutAnExchange) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  ASSERT_TRUE(MakeHost().Start());

  const int id = Queue(Parsed(kAdmin.With("TranCode", "EMVParamDownload"), kEmvParamDownload), kLaneA);
  const CRequest record = WaitUntilAnswered(id);
  EXPECT_EQ(record.State, kStateParsed);
  EXPECT_TRUE(record.AdminSuccess);
  EXPECT_EQ(record.AdminText, "SUCCESS");
  EXPECT_EQ(Journal(), "");
  EXPECT_EQ(traffic_.Total(), 0);
}

TEST_F(HostInterfaceTest, BatchCloseGoesOutOnlyWhenItIsTheLastRecordQueued) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  const int sale = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA);
  const CRequest closeRequest = Parsed(kAdmin.With("TranCode", "BatchClose"), kBatchClose);
  ASSERT_EQ(closeRequest.Disposition, kDispositionBatchClose);
  const int close = Queue(closeRequest, kLaneB, true);
  std::atomic<bool> shutdownRequested{false};
  MakeHost().SetShutdownRequest([&shutdownRequested] { shutdownRequested = true; });
  ASSERT_TRUE(interface_->Start());

  EXPECT_EQ(WaitUntilAnswered(sale).State, kStateParsed);
  // Nothing is to happen: several passes of the polling thread must leave the close alone.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Find(close).State, kStateWaitingForHost) << "the sale's answer is not delivered yet";

  ASSERT_TRUE(context_.queue.RemoveById(sale));  // its session delivered it
  const CRequest record = WaitUntilAnswered(close);
  EXPECT_EQ(record.State, kStateParsed);
  EXPECT_TRUE(record.AdminSuccess);
  EXPECT_EQ(Occurrences(Journal(), " BATCH-CLOSE "), 1u);
  EXPECT_FALSE(shutdownRequested);
}

TEST_F(HostInterfaceTest, StrayRecordDuringBatchCloseAsksTheApplicationToShutDown) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  // Only a batch close may hold the queue exclusively; this sale does.
  const int id = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA, true);
  std::atomic<int> requests{0};
  MakeHost().SetShutdownRequest([&requests] { ++requests; });
  ASSERT_TRUE(interface_->Start());

  ASSERT_TRUE(WaitFor("the shutdown request", [&requests] { return requests > 0; }, kPatience));
  EXPECT_EQ(WaitUntilAnswered(id).State, kStateParsed);
  // Nothing more is to happen: several passes of the polling thread must not ask again.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(requests, 1) << "asked once, not on every pass";
  EXPECT_NE(server_.Logged().find("Batch in Progress - Bad List Item Shutting down Server!!"), std::string::npos);
}

TEST_F(HostInterfaceTest, QueuedRecordIsDispatchedWithoutWaitingForThePollInterval) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  HostInterfaceSettings settings;
  settings.pollInterval = std::chrono::minutes(10);
  ASSERT_TRUE(MakeHost(settings).Start());
  // A pause, not a wait: the record should come after the thread's first pass found nothing.
  std::this_thread::sleep_for(100ms);

  const int id = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA);
  EXPECT_EQ(WaitUntilAnswered(id).State, kStateParsed);
}

TEST_F(HostInterfaceTest, RecordsPastTheWorkerLimitWaitInTheQueueForAWorker) {
  const HostEndpoint host = StartSim({"--delay-ms", "300"});
  host_.endpoints.Configure(host, host);
  HostInterfaceSettings settings;
  settings.maxWorkers = 1;
  ASSERT_TRUE(MakeHost(settings).Start());

  const int slow = Queue(Parsed(kSaleRequest.With("Purchase", "10.06"), kCreditSale), kLaneA);
  ASSERT_TRUE(AwaitOneRequestAtTheHost());
  const int next = Queue(Parsed(kSaleRequest, kCreditSale), kLaneB);
  // Nothing is to happen: passes of the polling thread must leave it waiting.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Find(next).State, kStateWaitingForHost) << "the only worker is busy";
  EXPECT_EQ(WaitUntilAnswered(slow).State, kStateParsed);
  EXPECT_EQ(WaitUntilAnswered(next).State, kStateParsed) << "taken up when the worker ended";
}

TEST_F(HostInterfaceTest, OneLanesExchangesGoOneAfterAnotherWhileOtherLanesGoOn) {
  const HostEndpoint host = StartSim({"--delay-ms", "600"});
  host_.endpoints.Configure(host, host);
  ASSERT_TRUE(MakeHost().Start());

  // Lane 01 pipelines two slow sales; lane 02's sale must not wait behind them.
  const int first = Queue(Parsed(kSaleRequest.With("Purchase", "10.06"), kCreditSale), kLaneA);
  const int second = Queue(Parsed(kSaleRequest.With("Purchase", "10.06"), kCreditSale), kLaneA);
  const int other = Queue(Parsed(kSaleRequest.With("ClientID", "2"), kCreditSale), kLaneB);
  ASSERT_TRUE(WaitFor("the other lane's answer", [&] { return Find(other).State == kStateParsed; }, kPatience));
  EXPECT_EQ(Find(second).State, kStateWaitingForHost) << "lane 01's second sale waits for its first exchange";
  EXPECT_EQ(WaitUntilAnswered(first).State, kStateParsed);
  EXPECT_EQ(WaitUntilAnswered(second).State, kStateParsed);

  // The host saw lane 01's request, its completion, then its next request.
  const std::string journal = Journal();
  const auto completionOfFirst = journal.find(" COMPLETION ");
  const auto secondRequest = journal.rfind(" REQUEST ");
  ASSERT_NE(completionOfFirst, std::string::npos);
  EXPECT_LT(completionOfFirst, secondRequest) << journal;
}

TEST_F(HostInterfaceTest, ALaneWhoseExchangesHangCannotHoldEveryWorker) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  HostInterfaceSettings settings;
  settings.maxWorkers = 2;
  settings.exchangeTimeout = 20s;
  ASSERT_TRUE(MakeHost(settings).Start());

  for (int sale = 0; sale < 3; ++sale) Queue(Parsed(kSaleRequest.With("Purchase", "10.03"), kCreditSale), kLaneA);
  const auto before = std::chrono::steady_clock::now();
  const int other = Queue(Parsed(kSaleRequest.With("ClientID", "2"), kCreditSale), kLaneB);
  ASSERT_TRUE(WaitFor("the other lane's answer", [&] { return Find(other).State == kStateParsed; }, kPatience));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s) << "answered in its usual time";
  interface_.reset();
}

TEST_F(HostInterfaceTest, ARecordWhoseLaneLeftBeforeItWasSentIsNotSent) {
  // The first endpoint takes the connection and holds the handshake until the test
  // lets it fail; the worker then fails over to the simulator.
  const testing::LoopbackListener stalling(1);
  ASSERT_TRUE(stalling.Valid());
  const HostEndpoint sim = StartSim();
  host_.endpoints.Configure(Loopback(stalling.Port()), sim);
  ASSERT_TRUE(MakeHost().Start());

  const int id = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA);
  UniqueFd held(stalling.Accept(kPatience));
  ASSERT_TRUE(held.IsValid());
  EXPECT_TRUE(context_.queue.AbandonUnsent(id)) << "held by a worker, not sent yet";
  held.Reset();
  EXPECT_TRUE(WaitFor("every worker to end", [this] { return context_.registry.Count() == 0; }, kPatience));

  EXPECT_EQ(Find(id).State, kStateAborted);
  EXPECT_EQ(Occurrences(Journal(), " REQUEST "), 0u);
  EXPECT_NE(server_.Logged().find("Request not sent to WorldPay - the lane has gone for " + kLaneA), std::string::npos);
}

TEST_F(HostInterfaceTest, StopEndsAWorkerWaitingForAnAnswerButNotItsCompletion) {
  const HostEndpoint host = StartSim();
  host_.endpoints.Configure(host, host);
  ASSERT_TRUE(MakeHost().Start());  // the full 35 s exchange time

  const int id = Queue(Parsed(kSaleRequest.With("Purchase", "10.03"), kCreditSale), kLaneA);
  ASSERT_TRUE(AwaitOneRequestAtTheHost());

  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(interface_->Stop(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - before, kPatience);
  EXPECT_EQ(context_.registry.Count(), 0);
  EXPECT_EQ(Find(id).State, kStateTimedOut) << "the worker wrote its record back before Stop returned";
  // The request had left: its completion still reaches the host, stop or not.
  EXPECT_EQ(Occurrences(Journal(), " COMPLETION REPLY NOT RECVD "), 1u) << server_.Logged();

  // Nothing is dispatched while stopped; a record queued now waits for the next start.
  const int waiting = Queue(Parsed(kSaleRequest, kCreditSale), kLaneB);
  // Nothing is to happen: a stopped interface must leave it waiting however long.
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Find(waiting).State, kStateWaitingForHost);
  interface_.reset();
}

TEST_F(HostInterfaceTest, ApprovalForALaneThatHasGoneIsLogged) {
  const HostEndpoint host = StartSim({"--delay-ms", "1500"});
  host_.endpoints.Configure(host, host);
  ASSERT_TRUE(MakeHost().Start());

  const int id = Queue(Parsed(kSaleRequest.With("Purchase", "10.06"), kCreditSale), kLaneA);
  ASSERT_TRUE(AwaitOneRequestAtTheHost());
  EXPECT_FALSE(context_.queue.AbandonUnsent(id)) << "sent already: it is completed";
  ASSERT_TRUE(context_.queue.RemoveById(id));  // the session ended meanwhile
  ASSERT_TRUE(WaitFor("every worker to end", [this] { return context_.registry.Count() == 0; }, kPatience));
  EXPECT_NE(server_.Logged().find("Unable to deliver approved response to Client for " + kLaneA + "!"),
            std::string::npos);
  EXPECT_EQ(Occurrences(Journal(), " COMPLETION COMPLETED "), 1u);
}

TEST_F(HostInterfaceTest, DialTransportHandsRecordsToTheDialLink) {
  struct Case {
    const char* name;
    const char* transport;
    bool lineUp;
    std::vector<DialAnswer> script;
    RequestState finalState;
    std::size_t handOvers;
    int failOvers;  // network connect attempts that failed before the hand-over
  };
  const std::vector<Case> cases = {
      {"dial only, answered", "2", false, {{kStateDialAnswered, ""}}, kStateReceivedUnparsed, 1, 0},
      {"dial only, failed, no retry", "2", false, {{kStateDialFailed, "NO CARRIER"}}, kStateHostFailed, 1, 0},
      {"line up, failed once then answered", "1", true,
       {{kStateDialFailed, "NO CARRIER"}, {kStateDialAnswered, ""}}, kStateReceivedUnparsed, 2, 0},
      {"line up, failed twice", "1", true,
       {{kStateDialFailed, "NO CARRIER"}, {kStateDialFailed, "LINE DROPPED"}}, kStateHostFailed, 2, 0},
      {"network down, falls back to dial", "1", false, {{kStateDialAnswered, ""}}, kStateReceivedUnparsed, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetParams({{kParamTransportMethod, c.transport}, {kParamConnectTimeout, "1"}});
    host_.endpoints.Reload();
    if (c.lineUp) {
      context_.dialLineConnected.Set();
    } else {
      context_.dialLineConnected.ResetEvent();
    }
    TrafficRecorder traffic;
    CHostInterface host(host_);
    host.SetTrafficObserver(traffic.Observer());
    const int id = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA);
    std::vector<CRequest> handOvers;
    {
      DialStandIn dial(context_.queue, id, c.script);
      ASSERT_TRUE(host.Start());
      const CRequest record = WaitUntilAnswered(id);
      EXPECT_EQ(record.State, c.finalState);
      if (c.finalState == kStateHostFailed) {
        EXPECT_EQ(record.HostErrorText, c.script.back().hostErrorText);
      }
      host.Stop();
      handOvers = dial.HandOvers();
    }
    ASSERT_EQ(handOvers.size(), c.handOvers);
    EXPECT_FALSE(handOvers.front().HostRequest.empty());
    if (handOvers.size() > 1) {
      EXPECT_EQ(handOvers[1].HostRequest, handOvers[0].HostRequest);
      EXPECT_TRUE(handOvers[1].HostText.empty()) << "the first attempt's result is cleared";
      EXPECT_TRUE(handOvers[1].HostErrorText.empty());
    }
    EXPECT_EQ(traffic.Count(HostTrafficEvent::kSendingDial), static_cast<int>(c.handOvers));
    EXPECT_EQ(traffic.Count(HostTrafficEvent::kReceivedDial), 1);
    EXPECT_EQ(traffic.Count(HostTrafficEvent::kSendingIp), 0);
    EXPECT_EQ(host_.endpoints.FailOverCount(), c.failOvers);
    context_.queue.Clear();
  }
}

TEST_F(HostInterfaceTest, StopDuringADialHandOverAnswersTheLane) {
  struct Case {
    const char* name;
    std::vector<DialAnswer> script;  // what the dial link writes before the stop
    std::string errorText;
  };
  const std::vector<Case> cases = {
      {"nobody answered", {}, "Dial Backup Server Shutting Down."},
      {"failed, waiting to retry", {{kStateDialFailed, "NO CARRIER"}}, "NO CARRIER"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetParams({{kParamTransportMethod, "1"}});
    context_.dialLineConnected.Set();  // a retry is allowed: the worker pauses 1 s after a failure
    CHostInterface host(host_);
    const int id = Queue(Parsed(kSaleRequest, kCreditSale), kLaneA);
    {
      DialStandIn dial(context_.queue, id, c.script);
      ASSERT_TRUE(host.Start());
      const RequestState awaited = c.script.empty() ? kStateDialHandOver : kStateDialFailed;
      ASSERT_TRUE(WaitFor(
          "the record's state",
          [&] {
            CRequest record;
            return context_.queue.FindById(id, record) && record.State == awaited;
          },
          kPatience));
      host.Stop();
    }
    CRequest record;
    ASSERT_TRUE(context_.queue.FindById(id, record));
    EXPECT_EQ(record.State, kStateHostFailed);
    EXPECT_EQ(record.HostErrorText, c.errorText);
    context_.queue.Clear();
  }
}

}  // namespace
}  // namespace paxelle
