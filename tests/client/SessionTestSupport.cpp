#include "tests/client/SessionTestSupport.h"

#include "client/MessageCrypto.h"
#include "core/RequestList.h"

#include <fstream>
#include <sstream>

namespace paxelle::testing {

bool StartServerCrypto(CMessageCrypto& crypto) {
  // One store for the whole process, so the key is copied once.
  static TempDir keyStore;
  static const bool copied = [] {
    std::error_code failure;
    std::filesystem::copy_file(TestKeyPath(), CMessageCrypto::KeyFilePath(keyStore.Path()), failure);
    std::filesystem::permissions(keyStore.Path(), std::filesystem::perms::owner_all, failure);
    return !failure;
  }();
  return copied && crypto.Startup(keyStore.Path());
}

std::string PayloadText(std::initializer_list<std::pair<std::string, std::string>> pairs) {
  std::string text;
  for (const auto& [key, value] : pairs) text += key + "=" + value + '\x1c';
  return text;
}

std::string CreditSalePayload() {
  return PayloadText({{"TStream", "Transaction"},
                      {"MerchantID", "123456789012345"},
                      {"ClientID", "1"},
                      {"TranType", "Credit"},
                      {"TranCode", "Sale"},
                      {"InvoiceNo", "1001"},
                      {"RefNo", "1001"},
                      {"AcctNo", "4111111111111111"},
                      {"ExpDate", "1228"},
                      {"Purchase", "10.00"}});
}

std::string ServerVersionPayload() {
  return PayloadText({{"TStream", "Admin"},
                      {"MerchantID", "123456789012345"},
                      {"ClientID", "1"},
                      {"TranType", "Administrative"},
                      {"TranCode", "ServerVersion"}});
}

std::string GetParmsPayload() {
  return PayloadText({{"TStream", "Admin"},
                      {"MerchantID", "123456789012345"},
                      {"ClientID", "1"},
                      {"TranType", "Administrative"},
                      {"TranCode", "GetPaxelleParms"}});
}

std::string BatchClosePayload() {
  return PayloadText({{"TStream", "Admin"},
                      {"MerchantID", "123456789012345"},
                      {"ClientID", "1"},
                      {"TranType", "Administrative"},
                      {"TranCode", "BatchClose"}});
}

bool SessionTest::FindQueued(const std::string& trace, CRequest& record) {
  RequestList records;
  Queue().Snapshot(records);
  for (const CRequest& queued : records) {
    if (queued.UserTraceData == trace) {
      record = queued;
      return true;
    }
  }
  return false;
}

void SessionTest::QueueSale(TestLane& lane, const std::string& trace, CRequest& record) {
  ASSERT_TRUE(lane.SendRequest(CreditSalePayload(), trace));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  ASSERT_TRUE(lane::IsQueuedReply(reply)) << reply.textResponse;
  EXPECT_EQ(reply.userTraceData, trace);
  ASSERT_TRUE(WaitFor("the request on the queue", [&] { return FindQueued(trace, record); }, kPatience));
}

void SessionTest::FinishApproved(CRequest record) {
  record.Approved = true;
  record.AdminSuccess = true;
  record.HostText = "APPROVED";
  record.AdminText = "DONE";
  record.HostAuthCode = "123456";
  record.FinishResponse("", *context_);
  record.State = kStateParsed;
  EXPECT_TRUE(Queue().UpdateById(record.QueueId, record));
}

void SessionTest::FinishWithState(CRequest record, RequestState state, int returnCode) {
  record.State = state;
  if (returnCode != 0) record.ReturnCode = returnCode;
  EXPECT_TRUE(Queue().UpdateById(record.QueueId, record));
}

bool TestLane::ConnectAndLogin(int port, lane::LoginResult& result, const std::string& password, bool alternate) {
  if (!Connect(port)) return false;
  return connection_.Login(password, alternate, result);
}

bool TestLane::LogIn(int port, const std::string& password) {
  lane::LoginResult result;
  return ConnectAndLogin(port, result, password) && result.verified;
}

bool TestLane::ReadReply(lane::CommandResponse& reply, std::chrono::milliseconds timeout,
                         lane::LaneResponse* response) {
  lane::LaneResponse read;
  if (connection_.ReadResponse(timeout, read) != lane::ReadStatus::kOk) return false;
  if (!lane::ParseCommandResponse(read.document, reply).ok()) return false;
  if (response != nullptr) *response = std::move(read);
  return true;
}

bool TestLane::WaitForClose(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string frame;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    switch (connection_.ReadFrame(left, frame)) {
      case lane::ReadStatus::kOk:
        continue;
      case lane::ReadStatus::kClosed:
      case lane::ReadStatus::kError:
        return true;
      default:
        return false;
    }
  }
}

void SessionTest::SetUp() {
  ASSERT_FALSE(dir_.Path().empty());
  std::filesystem::create_directories(dir_.Path() / kLogDirectoryName);
  context_ = std::make_unique<CServerContext>(dir_.Path());
  crypto_ = std::make_unique<CMessageCrypto>(context_->log);
  ASSERT_TRUE(StartServerCrypto(*crypto_));
  context_->requestCrypto = crypto_.get();
  batch_ = std::make_unique<CBatchState>(dir_.Path(), context_->log);
  context_->params.SetPath(dir_.Path() / "params");
  Configure({});
  StartListener();
}

void SessionTest::TearDown() {
  listener_.reset();
  // Every session removes what it queued, whichever way it ended.
  EXPECT_EQ(Queue().ActiveCount(), 0);
  EXPECT_FALSE(Queue().IsExclusive());
}

void SessionTest::Configure(std::initializer_list<std::pair<int, std::string>> values) {
  CMerchantParams set;
  ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
  ASSERT_TRUE(set.SetValue(kParamTerminalId, "12345678"));
  for (const auto& [number, value] : values) ASSERT_TRUE(set.SetValue(number, value)) << number;
  ASSERT_TRUE(context_->params.Save(set)) << context_->params.LastErrorText();
}

void SessionTest::StartListener(ClientSessionSettings settings, int connectionLimit) {
  listener_.reset();
  listener_ = std::make_unique<CClientListener>(ClientLinkParts{*context_, *crypto_, *batch_, guards_}, 0, settings);
  if (connectionLimit != 0) {
    ASSERT_EQ(listener_->SetConnectionLimit(connectionLimit), connectionLimit);
  }
  ASSERT_EQ(listener_->StartOnClientPort(), 0) << listener_->LastError();
  ASSERT_GT(listener_->Port(), 0);
}

std::string SessionTest::LoggedText() {
  context_->log.WaitUntilWritten(kPatience);
  std::string text;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path() / kLogDirectoryName)) {
    text += ReadBytes(entry.path());
  }
  return text;
}

}  // namespace paxelle::testing
